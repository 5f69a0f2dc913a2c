"""Draws the progress window's picture (428 x 322, 8-bit PCX): in columns 0-395 the
background with the empty file and total gauges, their labels and a percent sign under
each; in columns 400-423, rows 54-246, the gradient that fills a gauge."""

from PIL import Image, ImageDraw, ImageFilter

import gencommon as g
import main_picture

WIDTH, HEIGHT = 428, 322
BG_WIDTH = 396
# Where the installer draws each gauge's column (x1, top, x2, base), x2 and base excluded,
# and the right edge of the percentage text and the marker's tip to its left.
FILE_GAUGE = (197, 57, 226, 260)
TOTAL_GAUGE = (328, 58, 357, 261)
FILE_TEXT_RIGHT, TOTAL_TEXT_RIGHT = 174, 305
FILE_MARKER_TIP, TOTAL_MARKER_TIP = 182, 313
FILL = (400, 54, 424, 247)

FILL_COLOURS = 64
FILL_STOPS = [(0.0, (255, 255, 225)), (0.12, (255, 220, 110)), (0.4, (255, 90, 160)),
              (0.72, (150, 40, 220)), (1.0, (40, 24, 150))]


def gauge_frame(img, gauge, label):
    x1, top, x2, base = gauge
    d = ImageDraw.Draw(img)
    # Glass tube: dark interior with faint tenth marks, bevelled rim outside the column.
    for y in range(top, base):
        t = (y - top) / (base - top)
        d.line([(x1, y), (x2 - 1, y)], fill=g.lerp((18, 8, 44), (8, 4, 24), t))
    for i in range(1, 10):
        y = base - round((base - top) * i / 10)
        d.line([(x1 + 2, y), (x1 + (9 if i == 5 else 5), y)], fill=(60, 50, 120))
        d.line([(x2 - (10 if i == 5 else 6), y), (x2 - 3, y)], fill=(60, 50, 120))
    rims = ((1, (230, 220, 255)), (2, (120, 100, 210)), (3, (40, 30, 100)))
    for off, colour in rims:
        d.rectangle((x1 - off, top - off, x2 - 1 + off, base - 1 + off), outline=colour)
    # Label above, percent sign below.
    lab = g.gradient_text(label, g.font("DejaVuSans-Bold.ttf", 13), [(0, (255, 255, 255)), (1, (150, 200, 255))],
                          outline=(10, 0, 30), outline_width=1)
    cx = (x1 + x2) // 2
    img.paste(lab, (cx - lab.width // 2, top - 8 - lab.height), lab)
    pct = g.gradient_text("%", g.font("DejaVuSans-Bold.ttf", 16), [(0, (255, 240, 160)), (1, (255, 110, 60))],
                          outline=(10, 0, 30), outline_width=1)
    img.paste(pct, (cx - pct.width // 2, base + 8), pct)


def background():
    img = g.vertical_gradient((BG_WIDTH, HEIGHT), main_picture.SKY)
    g.starfield(img, (0, 0, BG_WIDTH, 288), 190, 1997,
                [(90, 90, 140), (150, 150, 210), (230, 230, 255), (120, 200, 255), (255, 200, 240)])
    # No stars left of the gauges, where the installer writes the percentages in white.
    for tip in (FILE_MARKER_TIP, TOTAL_MARKER_TIP):
        for y in range(44, 274):
            for x in range(tip - 60, tip + 2):
                img.putpixel((x, y), g.ramp(main_picture.SKY, y / (HEIGHT - 1)))
    d = ImageDraw.Draw(img)
    for centre, hue in ((2, (255, 60, 160)), (31, (60, 200, 255))):
        for dy in range(-2, 3):
            d.line([(0, centre + dy), (BG_WIDTH, centre + dy)], fill=g.lerp((20, 0, 40), hue, 1 - abs(dy) / 3))
    logo = g.gradient_text("KORVANE", g.font("DejaVuSans-Bold.ttf", 21), main_picture.CHROME, outline=(8, 0, 24),
                           outline_width=1, shear=-0.18)
    img.paste(logo, ((BG_WIDTH - logo.width) // 2, 6), logo)

    # Floor along the bottom, as in the main window.
    horizon = 292
    for y in range(horizon, HEIGHT):
        d.line([(0, y), (BG_WIDTH, y)], fill=g.lerp((60, 10, 80), (8, 2, 24), ((y - horizon) / 30) ** 0.6))
    for k in range(-12, 13):
        d.line([(198 + k * 6, horizon), (198 + k * 52, HEIGHT + 20)], fill=(170, 50, 180))
    step = 3.0
    while horizon + step < HEIGHT:
        d.line([(0, horizon + int(step)), (BG_WIDTH, horizon + int(step))], fill=(230, 100, 220))
        step *= 1.7
    d.line([(0, horizon), (BG_WIDTH, horizon)], fill=(255, 200, 250))

    # Left: the group's mark and a word to the waiting user.
    main_picture.emblem(img, (62, 110))
    small = g.font("DejaVuSansCondensed.ttf", 10)
    bold = g.font("DejaVuSansCondensed-Bold.ttf", 11)
    g.shadowed_text(img, (62, 152), "X-TRACTING", bold, (255, 230, 140), anchor="ma")
    for i, line in enumerate(("sit back and", "enjoy the tune", "while the disks", "roll in...")):
        g.shadowed_text(img, (62, 172 + i * 13), line, small, (200, 190, 255), anchor="ma")

    gauge_frame(img, FILE_GAUGE, "file")
    gauge_frame(img, TOTAL_GAUGE, "total")
    return img


def fill_strip():
    x1, y1, x2, y2 = FILL
    w, h = x2 - x1, y2 - y1
    strip = g.vertical_gradient((w, h), FILL_STOPS)
    px = strip.load()
    # Shade across the column so that it reads as a lit tube.
    import math
    for x in range(w):
        k = 0.45 + 0.55 * math.sin(math.pi * (x + 0.5) / w) ** 0.7
        glint = 1.0 if abs(x - w * 0.35) > 1.5 else 1.25
        for y in range(h):
            r, gr, b = px[x, y]
            px[x, y] = tuple(min(255, int(c * k * glint)) for c in (r, gr, b))
    return strip


def build():
    picture = Image.new("RGB", (WIDTH, HEIGHT), (0, 0, 0))
    picture.paste(background(), (0, 0))
    picture.paste(fill_strip(), FILL[:2])
    # The fill gradient gets palette entries of its own (dithered, so that it stays smooth when
    # stretched); everything else shares the rest.
    strip = Image.new("RGB", (WIDTH, HEIGHT), (0, 0, 0))
    strip.paste(picture.crop(FILL), FILL[:2])
    scene = picture.copy()
    scene.paste((0, 0, 0), FILL)
    return g.quantize_split(scene, strip, FILL, FILL_COLOURS)


def main(out_dir):
    indexed = build()
    g.write_bytes(f"{out_dir}/progress.pcx", g.encode_pcx(indexed))
    return indexed


if __name__ == "__main__":
    import sys
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
