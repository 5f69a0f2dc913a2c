"""Draws the installer's main picture (300 x 503, 8-bit PCX): the background in rows 0-299
with the four buttons in their Normal look, and below it the Hover images (left column) and
Pressed images (right column) at the rectangles the installer cuts them from."""

import math

from PIL import Image, ImageDraw, ImageFilter

import gencommon as g

WIDTH, HEIGHT = 300, 503
BG_ROWS = 300
LABELS = ("TEST", "INSTALL", "NFO", "EXIT")
# (x1, y1, x2, y2), x2 and y2 excluded, in the order Test, Install, NFO, Exit.
NORMAL = ((139, 50, 287, 100), (139, 100, 287, 150), (139, 150, 287, 200), (139, 198, 287, 248))
HOVER = ((0, 302, 148, 352), (0, 352, 148, 402), (1, 402, 149, 452), (0, 450, 148, 500))
PRESSED = ((151, 303, 299, 353), (151, 353, 299, 403), (151, 403, 299, 453), (151, 451, 299, 499))
BUTTON_W, BUTTON_H = 148, 50

SKY = [(0.0, (6, 3, 26)), (0.45, (22, 8, 54)), (0.8, (40, 10, 70)), (1.0, (10, 4, 30))]
CHROME = [(0.0, (255, 255, 255)), (0.22, (150, 220, 255)), (0.48, (40, 90, 200)), (0.5, (20, 10, 40)),
          (0.53, (120, 40, 20)), (0.75, (255, 150, 40)), (1.0, (255, 245, 190))]
# Button faces per state: (top, middle, bottom) of the face, rim colour, label colour, lamp colour.
FACES = {
    "normal": ((150, 170, 230), (44, 58, 130), (16, 18, 60), (190, 200, 255), (235, 240, 255), (40, 60, 90)),
    "hover": ((255, 248, 170), (236, 150, 30), (110, 40, 10), (255, 240, 160), (40, 10, 0), (120, 255, 170)),
    "pressed": ((60, 8, 40), (170, 30, 100), (255, 120, 190), (255, 150, 210), (255, 235, 245), (255, 70, 70)),
}


def background():
    img = g.vertical_gradient((WIDTH, BG_ROWS), SKY)
    g.starfield(img, (0, 0, WIDTH, 250), 170, 1998,
                [(90, 90, 140), (150, 150, 210), (230, 230, 255), (120, 200, 255), (255, 200, 240)])
    d = ImageDraw.Draw(img)

    # Copper bars framing the logo band.
    for centre, hue in ((2, (255, 60, 160)), (50, (60, 200, 255))):
        for dy in range(-2, 3):
            t = 1 - abs(dy) / 3
            d.line([(0, centre + dy), (WIDTH, centre + dy)], fill=g.lerp((20, 0, 40), hue, t))

    # Floor: a perspective grid running to a glowing horizon.
    horizon, floor_bottom = 252, BG_ROWS
    for y in range(horizon, floor_bottom):
        t = (y - horizon) / (floor_bottom - horizon)
        d.line([(0, y), (WIDTH, y)], fill=g.lerp((60, 10, 80), (8, 2, 24), t ** 0.6))
    glow = Image.new("RGB", (WIDTH, 16), (0, 0, 0))
    gd = ImageDraw.Draw(glow)
    for i in range(16):
        gd.line([(0, i), (WIDTH, i)], fill=g.lerp((255, 120, 220), (0, 0, 0), abs(i - 8) / 8))
    img.paste(Image.blend(img.crop((0, horizon - 8, WIDTH, horizon + 8)), glow, 0.55), (0, horizon - 8))
    vanish_x = 152
    for k in range(-14, 15):
        x_bottom = vanish_x + k * 34
        d.line([(vanish_x + k * 3, horizon), (x_bottom, floor_bottom)], fill=(200, 60, 200))
    step = 2.0
    while horizon + step < floor_bottom:
        y = horizon + int(step)
        d.line([(0, y), (WIDTH, y)], fill=g.lerp((120, 40, 160), (255, 110, 230), min(1.0, step / 40)))
        step *= 1.45
    d.line([(0, horizon), (WIDTH, horizon)], fill=(255, 200, 250))

    # Logo.
    logo = g.gradient_text("KORVANE", g.font("DejaVuSans-Bold.ttf", 40), CHROME, outline=(8, 0, 24),
                           outline_width=2, shear=-0.18)
    halo = Image.new("RGBA", (logo.width + 16, logo.height + 16), (0, 0, 0, 0))
    halo.paste((120, 60, 255, 255), (8, 8), logo)
    halo = halo.filter(ImageFilter.GaussianBlur(4))
    lx = 4 + (296 - logo.width) // 2
    ly = 6
    img.paste(halo, (lx - 8, ly - 8), halo)
    img.paste(logo, (lx, ly), logo)

    # Info panel on the left.
    panel = (9, 58, 131, 244)
    shade = Image.new("RGB", (panel[2] - panel[0], panel[3] - panel[1]), (4, 2, 16))
    img.paste(Image.blend(img.crop(panel), shade, 0.7), panel[:2])
    d.rectangle(panel, outline=(90, 70, 170))
    d.rectangle((panel[0] + 1, panel[1] + 1, panel[2] - 1, panel[3] - 1), outline=(30, 20, 70))
    emblem(img, (70, 95))
    title = g.font("DejaVuSansCondensed-Bold.ttf", 11)
    small = g.font("DejaVuSansCondensed.ttf", 10)
    mono = g.font("DejaVuSansMono.ttf", 9)
    g.shadowed_text(img, (70, 134), "presents", small, (200, 190, 255), anchor="ma")
    g.shadowed_text(img, (70, 148), "KORVANE INSTALLER", title, (255, 230, 140), anchor="ma")
    d.line([(20, 166), (120, 166)], fill=(90, 70, 170))
    rows = (("date", "06/1998"), ("disks", "54 volumes"), ("type", "demo release"),
            ("format", "rar 2.0"), ("crew", "korvane"))
    for i, (k, v) in enumerate(rows):
        y = 172 + i * 13
        d.text((16, y), k, font=mono, fill=(140, 150, 220))
        d.text((50, y), "." * 2, font=mono, fill=(80, 80, 140))
        d.text((64, y), v, font=mono, fill=(235, 235, 255))

    signature = g.font("DejaVuSansCondensed-BoldOblique.ttf", 10)
    g.shadowed_text(img, (294, 286), "korvane '98", signature, (255, 200, 250), shadow=(40, 0, 40), anchor="rs")
    return img


def emblem(img, centre):
    """A faceted crystal with a K: the group's mark."""
    cx, cy = centre
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    r = 30
    top, right, bottom, left = (cx, cy - r), (cx + r, cy), (cx, cy + r), (cx - r, cy)
    mid = (cx, cy)
    facets = (((top, right, mid), (170, 230, 255)), ((right, bottom, mid), (40, 70, 170)),
              ((bottom, left, mid), (70, 30, 140)), ((left, top, mid), (120, 150, 255)))
    for poly, colour in facets:
        d.polygon(poly, fill=colour + (255,))
    d.polygon((top, right, bottom, left), outline=(230, 240, 255, 255))
    glow = layer.filter(ImageFilter.GaussianBlur(6))
    img.paste(glow, (0, 0), glow)
    img.paste(layer, (0, 0), layer)
    k = g.gradient_text("K", g.font("DejaVuSans-Bold.ttf", 30), [(0, (255, 255, 255)), (1, (255, 200, 120))],
                        outline=(10, 0, 30), outline_width=1)
    img.paste(k, (cx - k.width // 2 + 1, cy - k.height // 2), k)


def button_face(base, label, state):
    """Draws one button onto a copy of its 148 x 50 background crop."""
    img = base.copy()
    top, middle, bottom, rim, text, lamp = FACES[state]
    x0, y0, x1, y1 = 10, 6, 139, 43
    face = g.vertical_gradient((x1 - x0, y1 - y0), [(0, top), (0.5, middle), (1, bottom)])
    mask = Image.new("L", face.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, face.width - 1, face.height - 1), radius=9, fill=255)
    shadow = Image.new("L", img.size, 0)
    ImageDraw.Draw(shadow).rounded_rectangle((x0 + 2, y0 + 3, x1 + 1, y1 + 2), radius=9, fill=160)
    shadow = shadow.filter(ImageFilter.GaussianBlur(1.5))
    if state != "pressed":
        img.paste((0, 0, 8), (0, 0), shadow)
    img.paste(face, (x0, y0), mask)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((x0, y0, x1 - 1, y1 - 1), radius=9, outline=rim)
    if state == "pressed":
        d.rounded_rectangle((x0 + 1, y0 + 1, x1 - 2, y1 - 2), radius=8, outline=(30, 0, 20))
    else:
        d.line([(x0 + 8, y0 + 2), (x1 - 9, y0 + 2)], fill=g.lerp(top, (255, 255, 255), 0.6))
    # Status lamp at the left end.
    lx, ly = x0 + 15, (y0 + y1) // 2
    if state != "normal":
        halo = Image.new("L", img.size, 0)
        ImageDraw.Draw(halo).ellipse((lx - 8, ly - 8, lx + 8, ly + 8), fill=200)
        img.paste(lamp, (0, 0), halo.filter(ImageFilter.GaussianBlur(3)))
    d.ellipse((lx - 4, ly - 4, lx + 4, ly + 4), fill=lamp, outline=(10, 10, 20))
    d.point((lx - 1, ly - 2), fill=(255, 255, 255))
    push = 1 if state == "pressed" else 0
    fnt = g.font("DejaVuSans-Bold.ttf", 15)
    spaced = " ".join(label) if len(label) <= 4 else label
    cx = (x0 + x1) // 2 + 8 + push
    cy = (y0 + y1) // 2 + push
    shade = (255, 255, 255) if state == "hover" else (0, 0, 20)
    d.text((cx + 1, cy + 1), spaced, font=fnt, fill=shade if state != "hover" else (255, 250, 200), anchor="mm")
    d.text((cx, cy), spaced, font=fnt, fill=text, anchor="mm")
    return img


def build():
    bg = background()
    picture = Image.new("RGB", (WIDTH, HEIGHT), (0, 0, 0))
    crops = [bg.crop(r) for r in NORMAL]
    for i, rect in enumerate(NORMAL):
        bg.paste(button_face(crops[i], LABELS[i], "normal"), rect[:2])
    picture.paste(bg, (0, 0))
    # The lower part holds the other two looks of each button, over the same background crop
    # so that they sit seamlessly where the Normal image stands. Rows shared by two
    # rectangles are plain background in both images.
    lower = g.vertical_gradient((WIDTH, HEIGHT - BG_ROWS), [(0, (12, 4, 30)), (1, (4, 2, 12))])
    picture.paste(lower, (0, BG_ROWS))
    for i in range(4):
        picture.paste(button_face(crops[i], LABELS[i], "hover"), HOVER[i][:2])
    for i in range(4):
        pressed = button_face(crops[i], LABELS[i], "pressed")
        x1, y1, x2, y2 = PRESSED[i]
        if y2 - y1 < BUTTON_H:  # the short Exit image: drop the plain margin rows
            skip = (BUTTON_H - (y2 - y1)) // 2
            pressed = pressed.crop((0, skip, BUTTON_W, skip + y2 - y1))
        picture.paste(pressed, (x1, y1))
    return g.quantize(picture)


def main(out_dir):
    indexed = build()
    g.write_bytes(f"{out_dir}/main.pcx", g.encode_pcx(indexed))
    return indexed


if __name__ == "__main__":
    import sys
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
