"""Pictures of our own making for bench/peer_bench.py, each 24-bit RGB as a
numpy array of height x width x 3 bytes.

The photographs copy the statistics that matter to a nearest-colour search
rather than any scene: a few tens of thousands of distinct colours, smooth
regions with sensor noise that grows with the light, hard edges between
objects, large near-black areas, a few clipped highlights. The plasmas and
uniform noise are the harder cases, with millions of colours.
"""
import numpy as np
from PIL import Image, ImageDraw, ImageFilter

WIDTH, HEIGHT = 2048, 1536
PLASMA_SIDE = 2048


def smooth(rng, cells, shape=(HEIGHT, WIDTH)):
    """A smooth random field in [0, 1]: a coarse grid of `cells` across,
    resized bicubically."""
    h, w = shape
    coarse = rng.uniform(0, 1, (max(2, cells * h // w), cells)).astype(np.float32)
    big = Image.fromarray(coarse, "F").resize((w, h), Image.Resampling.BICUBIC)
    return np.clip(np.asarray(big), 0, 1)


def gradient(shape, top, bottom):
    """Colours from `top` at the first row to `bottom` at the last."""
    t = np.linspace(0, 1, shape[0], dtype=np.float32)[:, None, None]
    return (np.array(top, np.float32) * (1 - t) + np.array(bottom, np.float32) * t) * np.ones(
        (1, shape[1], 1), np.float32)


def mask(shape, draw):
    """A hard-edged shape as a float mask: `draw` paints on an ImageDraw."""
    img = Image.new("L", (shape[1], shape[0]))
    draw(ImageDraw.Draw(img))
    return np.asarray(img, np.float32)[:, :, None] / 255


def blur(rgb, radius):
    img = Image.fromarray(np.clip(rgb, 0, 255).astype(np.uint8), "RGB")
    return np.asarray(img.filter(ImageFilter.GaussianBlur(radius)), np.float32)


def sensor(rng, light, read=0.7, shot=0.02):
    """Light to bytes with a camera's noise after its own processing: shot
    noise that grows with the light and read noise, mostly shared by the
    three channels (the camera smooths colour more than brightness)."""
    light = np.clip(light, 0, None)
    shared = rng.normal(0, 1, light.shape[:2]).astype(np.float32)[:, :, None]
    own = rng.normal(0, 0.35, light.shape).astype(np.float32)
    noisy = light + (shared + own) * np.sqrt(read * read + shot * light)
    return np.clip(noisy, 0, 255).round().astype(np.uint8)


def lay(picture, m, color):
    return picture * (1 - m) + np.asarray(color, np.float32) * m


def bright(rng):
    """Snow under a pale sky: high values, clipped white, low noise."""
    shape = (HEIGHT, WIDTH)
    sky = gradient(shape, (90, 150, 230), (200, 220, 245))
    clouds = smooth(rng, 12)[:, :, None]
    p = lay(sky, np.clip(clouds * 2 - 0.8, 0, 1), (250, 250, 252))
    snow = mask(shape, lambda d: d.polygon(
        [(0, 900), (500, 760), (1100, 850), (1600, 720), (2048, 800), (2048, 1536), (0, 1536)], fill=255))
    ground = 225 + 40 * smooth(rng, 40)[:, :, None] * np.array([1, 1, 1.05], np.float32)
    p = p * (1 - snow) + ground * snow
    for _ in range(14):  # houses, dark windows
        x, y = rng.integers(0, 1900), rng.integers(780, 1300)
        color = rng.uniform(120, 220, 3)
        p = lay(p, mask(shape, lambda d: d.rectangle([x, y, x + 140, y + 110], fill=255)), color)
        p = lay(p, mask(shape, lambda d: d.rectangle([x + 30, y + 30, x + 60, y + 70], fill=255)),
                color * 0.3)
    return sensor(rng, p)


def dark(rng):
    """A room by one lamp: most of it within 0 to 40, a warm pool of light."""
    shape = (HEIGHT, WIDTH)
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    lamp = np.exp(-((x - 1500) ** 2 + (y - 500) ** 2) / (2 * 380.0 ** 2))[:, :, None]
    p = 4 + 160 * lamp * np.array([1.0, 0.75, 0.45], np.float32)
    p = p * (0.6 + 0.4 * smooth(rng, 20)[:, :, None])
    for _ in range(30):  # furniture: hard edges in the half-light
        x0, y0 = rng.integers(0, 1900), rng.integers(300, 1450)
        shade = rng.uniform(0.2, 0.8, 3)
        m = mask(shape, lambda d: d.rectangle([x0, y0, x0 + rng.integers(60, 300), y0 + rng.integers(40, 200)],
                                              fill=255))
        p = p * (1 - m) + p * shade * m
    p = lay(p, mask(shape, lambda d: d.ellipse([1470, 470, 1530, 530], fill=255)), (255, 240, 200))
    return sensor(rng, p, read=1.6)


def night_sky(rng):
    """A dark sky with a few bright points over a black skyline with lit
    windows: the palette's entries crowd into the dark corner."""
    shape = (HEIGHT, WIDTH)
    p = gradient(shape, (2, 3, 8), (12, 14, 30))
    n = 400
    ys, xs = rng.integers(0, 1100, n), rng.integers(0, WIDTH, n)
    stars = np.zeros((HEIGHT, WIDTH, 3), np.float32)
    color = rng.uniform(170, 255, (n, 3)) * np.array([0.9, 0.95, 1.0], np.float32)
    size = rng.uniform(0.3, 1, n)
    stars[ys, xs] = color * size[:, None]
    p = p + blur(stars * 4, 1.0) + stars
    skyline = mask(shape, lambda d: [d.rectangle([x, 1536 - h, x + w, 1536], fill=255)
                                     for x, h, w in zip(range(0, WIDTH, 110), rng.integers(200, 600, 19),
                                                        rng.integers(90, 160, 19))])
    p = p * (1 - skyline) + 1.5 * skyline
    for _ in range(60):  # lit windows
        x, y = rng.integers(0, WIDTH - 20), rng.integers(1050, 1500)
        if skyline[y, x, 0] > 0:
            p = lay(p, mask(shape, lambda d: d.rectangle([x, y, x + 14, y + 18], fill=255)), rng.uniform(150, 240, 3)
                    * np.array([1, 0.85, 0.5], np.float32))
    return sensor(rng, p, read=1.6)


def faces(rng):
    """Three heads before a blurred background: skin shaded round, dark hair,
    eyes and lips; skin tones take most of the picture."""
    shape = (HEIGHT, WIDTH)
    background = blur(gradient(shape, (70, 90, 80), (150, 130, 110)) + 60 * smooth(rng, 8)[:, :, None], 20)
    p = background
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    for cx, cy, r, skin in ((480, 760, 330, (225, 170, 140)), (1050, 700, 360, (170, 115, 85)),
                            (1640, 800, 310, (240, 195, 165))):
        p = lay(p, mask(shape, lambda d: d.rectangle([cx - r, cy + r * 0.8, cx + r, HEIGHT], fill=255)),
                rng.uniform(30, 200, 3))
        d2 = ((x - cx) / r) ** 2 + ((y - cy) / (r * 1.25)) ** 2
        light = np.clip(1.1 - 0.6 * d2 - 0.25 * (x - cx + 0.5 * r) / r, 0.3, 1.2)[:, :, None]
        face = mask(shape, lambda d: d.ellipse([cx - r, cy - 1.25 * r, cx + r, cy + 1.25 * r], fill=255))
        p = p * (1 - face) + np.asarray(skin, np.float32) * light * face
        hair = mask(shape, lambda d: d.chord([cx - r * 1.05, cy - 1.35 * r, cx + r * 1.05, cy + 0.2 * r], 180, 360,
                                             fill=255))
        strands = 25 + 20 * np.sin(x / 3.0 + 5 * smooth(rng, 30))[:, :, None]
        p = p * (1 - hair) + strands * np.array([1.0, 0.8, 0.6], np.float32) * hair
        for ex in (cx - r * 0.4, cx + r * 0.4):
            p = lay(p, mask(shape, lambda d: d.ellipse([ex - 45, cy - 25, ex + 45, cy + 25], fill=255)), (235, 235, 230))
            p = lay(p, mask(shape, lambda d: d.ellipse([ex - 18, cy - 18, ex + 18, cy + 18], fill=255)), (60, 40, 30))
        p = lay(p, mask(shape, lambda d: d.ellipse([cx - 90, cy + 0.55 * r, cx + 90, cy + 0.55 * r + 40],
                                                   fill=255)), (170, 70, 70))
    return sensor(rng, blur(p, 1.2))


def street(rng):
    """A cluttered street: hundreds of signs, windows, cars and people in
    many colours with hard edges, a strip of sky, grey asphalt."""
    shape = (HEIGHT, WIDTH)
    p = gradient(shape, (140, 170, 210), (90, 90, 95))
    asphalt = mask(shape, lambda d: d.polygon([(0, 1100), (2048, 1100), (2048, 1536), (0, 1536)], fill=255))
    p = p * (1 - asphalt) + (70 + 25 * smooth(rng, 200)[:, :, None]) * asphalt
    for _ in range(600):
        x, y = int(rng.integers(0, WIDTH - 40)), int(rng.integers(150, HEIGHT - 100))
        w, h = int(rng.integers(10, min(220, WIDTH - x))), int(rng.integers(10, min(200, HEIGHT - y)))
        base = rng.uniform(0, 255, 3) * rng.choice([0.3, 0.7, 1.0])
        m = mask((h, w), lambda d: (d.rectangle if rng.uniform() < 0.7 else d.ellipse)([0, 0, w - 1, h - 1], fill=255))
        shade = 0.75 + 0.3 * smooth(rng, 3, (h, w))[:, :, None]
        box = p[y:y + h, x:x + w]
        box[:] = box * (1 - m) + base * shade * m
    return sensor(rng, blur(p, 0.7))


def blurred_close_up(rng):
    """A flower close up: large soft discs of out-of-focus light, smooth
    gradients everywhere, petals with soft edges, little noise."""
    shape = (HEIGHT, WIDTH)
    p = gradient(shape, (40, 90, 40), (20, 50, 30)) + 40 * smooth(rng, 5)[:, :, None]
    for _ in range(40):
        x, y, r = rng.integers(0, WIDTH), rng.integers(0, HEIGHT), rng.integers(40, 160)
        p = lay(p, 0.5 * mask(shape, lambda d: d.ellipse([x - r, y - r, x + r, y + r], fill=255)),
                rng.uniform(60, 230, 3))
    p = blur(p, 25)
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    for k in range(8):
        a = k * np.pi / 4
        cx, cy = 1024 + 260 * np.cos(a), 768 + 260 * np.sin(a)
        petal = mask(shape, lambda d: d.ellipse([cx - 200, cy - 200, cx + 200, cy + 200], fill=255))
        shade = np.clip(1.2 - np.hypot(x - 1024, y - 768) / 600, 0.4, 1.1)[:, :, None]
        p = p * (1 - petal) + np.array([235, 120, 160], np.float32) * shade * petal
    p = lay(p, mask(shape, lambda d: d.ellipse([904, 648, 1144, 888], fill=255)), (230, 190, 40))
    return sensor(rng, blur(p, 3))


def plasma(rng, side=PLASMA_SIDE):
    """Diamond-square midpoint displacement, one field a channel."""
    n = side + 1
    channels = []
    for _ in range(3):
        f = np.zeros((n, n))
        f[::side, ::side] = rng.uniform(0, 255, (2, 2))
        step, scale = side, 128.0
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
        channels.append(np.clip(f[:side, :side], 0, 255))
    return np.stack(channels, axis=2).round().astype(np.uint8)


def noise(rng, side=PLASMA_SIDE):
    return rng.integers(0, 256, (side, side, 3), dtype=np.uint8)


# name: (maker, seed)
PICTURES = {
    "bright": (bright, 1),
    "dark": (dark, 2),
    "night sky": (night_sky, 3),
    "faces": (faces, 4),
    "street": (street, 5),
    "close-up": (blurred_close_up, 6),
    "plasma": (plasma, 7),
    "plasma 2": (plasma, 8),
    "noise": (noise, 9),
}


def make(name):
    maker, seed = PICTURES[name]
    return maker(np.random.default_rng(seed))


def distinct_colors(rgb):
    return len(np.unique(rgb.reshape(-1, 3).astype(np.int32) @ np.array([65536, 256, 1])))
