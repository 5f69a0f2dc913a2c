"""Shared helpers of the release-resource generators: PCX writing, fonts, a seeded
random source and a few drawing primitives. Every generator is deterministic: the same
Pillow and fonts give the same bytes on every run."""

import os
import random
import struct

from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu"


def font(name, size):
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size)


def rng(seed):
    return random.Random(seed)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def ramp(stops, t):
    """Colour at t (0..1) along a list of (position, rgb) stops."""
    t = max(0.0, min(1.0, t))
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return lerp(c0, c1, 0.0 if p1 == p0 else (t - p0) / (p1 - p0))
    return stops[-1][1]


def vertical_gradient(size, stops):
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(h):
        c = ramp(stops, y / max(1, h - 1))
        for x in range(w):
            px[x, y] = c
    return img


def gradient_text(text, fnt, stops, outline=(0, 0, 0), outline_width=2, shear=0.0, scale=4):
    """Text filled with a vertical colour ramp, outlined, rendered large and scaled down for
    clean edges. Returns an RGBA image cropped to the text."""
    big = font_resize(fnt, scale)
    left, top, right, bottom = big.getbbox(text)
    pad = (outline_width + 2) * scale
    w, h = right - left + 2 * pad, bottom - top + 2 * pad
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).text((pad - left, pad - top), text, font=big, fill=255)
    if shear:
        extra = int(abs(shear) * h)
        mask = mask.transform((w + extra, h), Image.AFFINE, (1, shear, -extra if shear > 0 else 0, 0, 1, 0),
                              resample=Image.BICUBIC)
        w += extra
    ring = mask.filter(ImageFilter.MaxFilter(2 * outline_width * scale + 1)) if outline_width else mask
    # The ramp spans the glyphs' own height, not the padded box.
    box = mask.getbbox() or (0, 0, w, h)
    fill = Image.new("RGB", (w, h), stops[0][1])
    fill.paste(stops[-1][1], (0, box[3], w, h))
    fill.paste(vertical_gradient((w, box[3] - box[1]), stops), (0, box[1]))
    out = Image.new("RGBA", (w, h), outline + (0,))
    out.paste(Image.new("RGB", (w, h), outline), (0, 0), ring)
    out.paste(fill, (0, 0), mask)
    out.putalpha(ring)
    small = out.resize((w // scale, h // scale), Image.LANCZOS)
    return small.crop(small.getbbox())


def font_resize(fnt, scale):
    return ImageFont.truetype(fnt.path, fnt.size * scale)


def shadowed_text(img, xy, text, fnt, fill, shadow=(0, 0, 0), offset=(1, 1), anchor="la"):
    d = ImageDraw.Draw(img)
    d.text((xy[0] + offset[0], xy[1] + offset[1]), text, font=fnt, fill=shadow, anchor=anchor)
    d.text(xy, text, font=fnt, fill=fill, anchor=anchor)


def starfield(img, box, count, seed, colours):
    r = rng(seed)
    px = img.load()
    x0, y0, x1, y1 = box
    for _ in range(count):
        x, y = r.randrange(x0, x1), r.randrange(y0, y1)
        c = colours[r.randrange(len(colours))]
        px[x, y] = c
        if r.random() < 0.12 and x + 1 < x1 and y + 1 < y1:  # a few brighter crosses
            dim = tuple(v // 2 for v in c)
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                if x0 <= x + dx < x1 and y0 <= y + dy < y1:
                    px[x + dx, y + dy] = dim


def quantize(img, colours=256):
    """One 256-colour palette for the whole picture. No dithering: equal colours always map to
    the same index, so a button's surroundings match the background it is drawn over."""
    return img.convert("RGB").quantize(colors=colours, method=Image.Quantize.MEDIANCUT,
                                       dither=Image.Dither.NONE)


def quantize_split(scene, detail, box, detail_colours):
    """Quantizes `scene` into 256 - detail_colours entries and the `box` of `detail` into the
    remaining ones with dithering, and merges them into one picture."""
    base = quantize(scene, 256 - detail_colours)
    part = detail.crop(box).quantize(colors=detail_colours, method=Image.Quantize.MEDIANCUT,
                                     dither=Image.Dither.FLOYDSTEINBERG)
    offset = 256 - detail_colours
    base_pal = base.getpalette()[:3 * offset]
    base_pal += [0] * (3 * offset - len(base_pal))
    part_pal = part.getpalette()[:3 * detail_colours]
    part_pal += [0] * (3 * detail_colours - len(part_pal))
    pixels = bytearray(base.tobytes())
    w = scene.width
    x1, y1, x2, y2 = box
    pdata = part.tobytes()
    for y in range(y1, y2):
        row = pdata[(y - y1) * (x2 - x1):(y - y1 + 1) * (x2 - x1)]
        pixels[y * w + x1:y * w + x2] = bytes(v + offset for v in row)
    out = Image.frombytes("P", scene.size, bytes(pixels))
    out.putpalette(base_pal + part_pal)
    return out


def encode_pcx(indexed):
    """8-bit, one plane, run-length encoded PCX (version 5) with the 256-colour palette after
    the marker byte 12. Runs stay within a scan line, as the format's readers expect."""
    w, h = indexed.size
    if w % 2:
        raise ValueError("PCX scan lines must hold an even number of bytes")
    header = struct.pack("<BBBBHHHHHH48sBBHHHH54s", 10, 5, 1, 8, 0, 0, w - 1, h - 1, 72, 72,
                         bytes(48), 0, 1, w, 1, 0, 0, bytes(54))
    assert len(header) == 128
    data = indexed.tobytes()
    out = bytearray(header)
    for y in range(h):
        line = data[y * w:(y + 1) * w]
        x = 0
        while x < w:
            v = line[x]
            run = 1
            while x + run < w and run < 63 and line[x + run] == v:
                run += 1
            if run > 1 or v >= 0xC0:
                out += bytes((0xC0 | run, v))
            else:
                out.append(v)
            x += run
    pal = indexed.getpalette()[:768]
    pal += [0] * (768 - len(pal))
    out.append(12)
    out += bytes(pal)
    return bytes(out)


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
