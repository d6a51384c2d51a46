#!/usr/bin/python3
"""The converter beside Pillow on a 2048 x 2048 plasma of our own making:
24-bit to the 16 EGA colours and to a 256-colour palette (Pillow's own
median cut of the picture), both timed in the same run, best of RUNS in
each of three rounds, one thread. Prints each time, their ratio, and the share of Pillow's pixels
whose colour is not the nearest (ours are checked against ours, which the
tests hold to find_nearest_color).

usage: bench/peer_bench.py [CONVERT_PEER] [RUNS]
  CONVERT_PEER  the built timer (default: build/bench/convert_peer)
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

SIDE = 2048
ROUNDS = 3
# The 16 EGA colours, as the tile sheet uses them.
EGA = [(0, 0, 0), (0, 0, 170), (0, 170, 0), (0, 170, 170), (170, 0, 0), (170, 0, 170),
       (170, 85, 0), (170, 170, 170), (85, 85, 85), (85, 85, 255), (85, 255, 85), (85, 255, 255),
       (255, 85, 85), (255, 85, 255), (255, 255, 85), (255, 255, 255)]


def plasma(seed=7):
    """Diamond-square midpoint displacement, one field a channel."""
    rng = np.random.default_rng(seed)
    n = SIDE + 1
    channels = []
    for _ in range(3):
        f = np.zeros((n, n))
        f[::SIDE, ::SIDE] = rng.uniform(0, 255, (2, 2))
        step, scale = SIDE, 128.0
        while step > 1:
            h = step // 2
            f[h::step, h::step] = (f[:-1:step, :-1:step] + f[step::step, :-1:step] +
                                   f[:-1:step, step::step] + f[step::step, step::step]) / 4 + \
                rng.uniform(-scale, scale, f[h::step, h::step].shape)
            # Edge midpoints from their two corners and the centres beside them.
            p = np.pad(f, h, mode="reflect")
            for ys, xs in ((slice(0, None, step), slice(h, None, step)),
                           (slice(h, None, step), slice(0, None, step))):
                y = np.arange(n)[ys][:, None] + h
                x = np.arange(n)[xs][None, :] + h
                f[ys, xs] = (p[y - h, x] + p[y + h, x] + p[y, x - h] + p[y, x + h]) / 4 + \
                    rng.uniform(-scale, scale, (y.shape[0], x.shape[1]))
            step, scale = h, scale / 1.25
        channels.append(np.clip(f[:SIDE, :SIDE], 0, 255))
    return np.stack(channels, axis=2).round().astype(np.uint8)


def best_of(runs, work):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best * 1000


def palette_image(colours):
    img = Image.new("P", (16, 16))
    flat = [c for rgb in colours for c in rgb]
    img.putpalette(flat + flat[-3:] * (256 - len(colours)))
    return img


def squared(rgb, palette, indices):
    return ((rgb.astype(np.int32) - palette[indices].astype(np.int32)) ** 2).sum(axis=2)


def main():
    peer = sys.argv[1] if len(sys.argv) > 1 else "build/bench/convert_peer"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    rgb = plasma()
    picture = Image.fromarray(rgb, "RGB")
    colours = len(np.unique(rgb.reshape(-1, 3) @ np.array([65536, 256, 1])))
    print(f"plasma {SIDE} x {SIDE}, {colours} colours, best of {ROUNDS} x {runs}")
    median_cut = picture.quantize(256, dither=Image.Dither.NONE).getpalette()[:768]
    with tempfile.TemporaryDirectory() as work:
        picture.save(os.path.join(work, "plasma.bmp"))
        for name, colours in (("16 EGA colours", EGA),
                              ("256 colours", [tuple(median_cut[i:i + 3]) for i in range(0, 768, 3)])):
            swatch = palette_image(colours)
            swatch.save(os.path.join(work, "palette.bmp"))
            pillow = None

            def remap():
                nonlocal pillow
                pillow = picture.quantize(palette=swatch, dither=Image.Dither.NONE)
            # Rounds of each in turn, so that a busy moment of a shared
            # machine does not fall on one of them alone.
            ours_ms = pillow_ms = float("inf")
            for _ in range(ROUNDS):
                ours_ms = min(ours_ms, float(subprocess.run(
                    [peer, os.path.join(work, "plasma.bmp"), os.path.join(work, "palette.bmp"),
                     str(len(colours)), os.path.join(work, "ours.bmp"), str(runs)],
                    check=True, capture_output=True, text=True).stdout))
                pillow_ms = min(pillow_ms, best_of(runs, remap))
            table = np.array(colours, dtype=np.uint8)
            ours = np.array(Image.open(os.path.join(work, "ours.bmp")))
            theirs = np.minimum(np.array(pillow), len(colours) - 1)
            worse = (squared(rgb, table, theirs) > squared(rgb, table, ours)).mean() * 100
            print(f"{name:15} ours {ours_ms:7.1f} ms  Pillow {pillow_ms:7.1f} ms  "
                  f"Pillow / ours {pillow_ms / ours_ms:5.2f}  Pillow not nearest {worse:5.1f} %")


if __name__ == "__main__":
    main()
