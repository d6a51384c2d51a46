#!/usr/bin/python3
"""The converter beside Pillow on pictures of our own making (bench/pictures.py):
photographs of several kinds, two plasmas, uniform noise, and a sprite and an
icon made small from two of the photographs. Each goes 24-bit to the 16 EGA
colours and to 256 colours (Pillow's own median cut of the picture), both
timed in the same run, best of RUNS in each of three rounds, one thread.
Then the palettes and pictures that make our search slowest, against the
photographs' per-pixel cost.

Prints each time, their ratio, and the share of Pillow's pixels whose
colour is not the nearest (ours are checked against ours, which the tests
hold to find_nearest_color).

usage: bench/peer_bench.py [CONVERT_PEER] [RUNS] [PICTURE...]
  CONVERT_PEER  the built timer (default: build/bench/convert_peer)
  PICTURE       names from pictures.PICTURES, "sprite", "icon" or "worst"
                (default: all)
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402

ROUNDS = 3
# The 16 EGA colours, as the tile sheet uses them.
EGA = [(0, 0, 0), (0, 0, 170), (0, 170, 0), (0, 170, 170), (170, 0, 0), (170, 0, 170),
       (170, 85, 0), (170, 170, 170), (85, 85, 85), (85, 85, 255), (85, 255, 85), (85, 255, 255),
       (255, 85, 85), (255, 85, 255), (255, 255, 85), (255, 255, 255)]
# Small pictures, one call each: (name, photograph, side).
SMALL = [("sprite", "faces", 16), ("icon", "street", 64)]


def best_of(runs, work):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best * 1000


def palette_image(colors):
    img = Image.new("P", (16, 16))
    flat = [c for rgb in colors for c in rgb]
    img.putpalette(flat + flat[-3:] * (256 - len(colors)))
    return img


def squared(rgb, palette, indices):
    return ((rgb.astype(np.int32) - palette[indices].astype(np.int32)) ** 2).sum(axis=2)


def median_cut(picture):
    p = picture.quantize(256, dither=Image.Dither.NONE).getpalette()[:768]
    p += p[-3:] * (256 - len(p) // 3)
    return [tuple(p[i:i + 3]) for i in range(0, 768, 3)]


def compare(peer, work, rgb, colors, runs, pillow=True):
    """Our best time and Pillow's in ms, and the share of Pillow's pixels
    not the nearest, in rounds of each in turn, so that a busy moment of a
    shared machine does not fall on one of them alone."""
    picture = Image.fromarray(rgb, "RGB")
    picture.save(os.path.join(work, "picture.bmp"))
    swatch = palette_image(colors)
    swatch.save(os.path.join(work, "palette.bmp"))
    theirs = None

    def remap():
        nonlocal theirs
        theirs = picture.quantize(palette=swatch, dither=Image.Dither.NONE)
    ours_ms = pillow_ms = float("inf")
    for _ in range(ROUNDS):
        ours_ms = min(ours_ms, float(subprocess.run(
            [peer, os.path.join(work, "picture.bmp"), os.path.join(work, "palette.bmp"),
             str(len(colors)), os.path.join(work, "ours.bmp"), str(runs)],
            check=True, capture_output=True, text=True).stdout))
        if pillow:
            pillow_ms = min(pillow_ms, best_of(runs, remap))
    if not pillow:
        return ours_ms, None, None
    table = np.array(colors, dtype=np.uint8)
    ours = np.array(Image.open(os.path.join(work, "ours.bmp")))
    theirs = np.minimum(np.array(theirs), len(colors) - 1)
    worse = (squared(rgb, table, theirs) > squared(rgb, table, ours)).mean() * 100
    return ours_ms, pillow_ms, worse


def report(label, pixels, ours_ms, pillow_ms, worse):
    line = f"{label:30} ours {ours_ms * 1e6 / pixels:6.2f} ns/px {ours_ms:8.3f} ms"
    if pillow_ms is not None:
        line += f"  Pillow {pillow_ms:8.3f} ms  Pillow / ours {pillow_ms / ours_ms:5.2f}" \
                f"  Pillow not nearest {worse:5.1f} %"
    print(line, flush=True)


def run_picture(peer, work, name, rgb, runs):
    pixels = rgb.shape[0] * rgb.shape[1]
    print(f"{name}: {rgb.shape[1]} x {rgb.shape[0]}, {pictures.distinct_colors(rgb)} colours", flush=True)
    for what, colors in (("16", EGA), ("256", median_cut(Image.fromarray(rgb, "RGB")))):
        report(f"{name}, {what}", pixels, *compare(peer, work, rgb, colors, runs))


def grid(levels):
    return [(r, g, b) for r in levels for g in levels for b in levels]


def worst_cases(rng):
    """(name, picture, palette): palettes crowded, repeated, far away, ties."""
    night = pictures.make("night sky")
    noise = pictures.make("noise")
    dark_corner = [tuple(int(v) for v in rng.integers(0, 24, 3)) for _ in range(256)]
    one_cell = [(8 + i % 8, 8 + i // 8 % 8, 8 + i // 64) for i in range(256)]
    sphere = rng.normal(0, 1, (256, 3))
    sphere = 128 + 100 * sphere / np.linalg.norm(sphere, axis=1)[:, None]
    centre = (128 + rng.integers(-16, 16, noise.shape)).astype(np.uint8)
    return [
        ("dark corner, noise", noise, dark_corner),
        ("dark corner, night", night, dark_corner),
        ("one cell, noise", noise, one_cell),
        ("8 colours x 32, noise", noise, [c for c in grid((40, 200)) for _ in range(32)]),
        ("by white, night", night, [tuple(int(v) for v in rng.integers(232, 256, 3)) for _ in range(256)]),
        ("255 equal + 1, noise", noise, [(128, 128, 128)] * 255 + [(20, 200, 90)]),
        ("256 equal, noise", noise, [(90, 30, 200)] * 256),
        ("grid 6^3 + greys, noise", noise, grid((0, 51, 102, 153, 204, 255)) +
         [(v, v, v) for v in range(8, 256, 6)][:40]),
        ("sphere, centre", centre, [tuple(int(v) for v in c) for c in sphere.round()]),
    ]


def main():
    peer = sys.argv[1] if len(sys.argv) > 1 else "build/bench/convert_peer"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    wanted = sys.argv[3:] or list(pictures.PICTURES) + [s[0] for s in SMALL] + ["worst"]
    print(f"best of {ROUNDS} x {runs} (small pictures: x {runs * 200})")
    with tempfile.TemporaryDirectory() as work:
        for name in wanted:
            if name in pictures.PICTURES:
                run_picture(peer, work, name, pictures.make(name), runs)
            for small, photo, side in SMALL:
                if name == small:
                    rgb = np.asarray(Image.fromarray(pictures.make(photo)).resize((side, side), Image.Resampling.LANCZOS))
                    run_picture(peer, work, name, rgb, runs * 200)
            if name == "worst":
                for case, rgb, colors in worst_cases(np.random.default_rng(10)):
                    ours_ms, _, _ = compare(peer, work, rgb, colors, runs, pillow=False)
                    report(case, rgb.shape[0] * rgb.shape[1], ours_ms, None, None)


if __name__ == "__main__":
    main()
