"""The demo payload that the release packs into its volumes: texts, a 16-bit WAV, 8-bit
bitmaps, binary tables, a deep folder tree and names with spaces; about 6 MB, which the
release packs solid into about 2 MB (54 volumes of a few dozen KB). Git keeps neither empty
folders nor read-only bits, so those are listed in payload-attributes.txt and applied to a
staged copy when the release is built."""

import io
import math
import os
import struct
import wave

from PIL import Image, ImageDraw

import gencommon as g

TOP = "Korvane Demo 1998"

WORDS = ("the crew disk volume tracker sample pattern loop raster copper bar scroll logo palette "
         "mixer channel period finetune vibrato tremolo portamento arpeggio board modem night code "
         "coder graphician musician party release intro demo effect plasma tunnel starfield vector "
         "sine table cycle frame tick row order tempo speed chip bass lead pad drum snare kick hat "
         "wave byte word header checksum volume archive install test unpack stored window screen").split()


def prose(seed, paragraphs, sentences=(4, 9), words=(6, 16)):
    r = g.rng(seed)
    out = []
    for _ in range(paragraphs):
        para = []
        for _ in range(r.randint(*sentences)):
            n = r.randint(*words)
            ws = [r.choice(WORDS) for _ in range(n)]
            ws[0] = ws[0].capitalize()
            para.append(" ".join(ws) + r.choice([".", ".", ".", "!", "?"]))
        text = " ".join(para)
        # Wrap at 76 columns, as an editor of the time would have saved it.
        line, lines = "", []
        for w in text.split():
            if len(line) + len(w) + 1 > 76:
                lines.append(line)
                line = w
            else:
                line = f"{line} {w}" if line else w
        lines.append(line)
        out.append("\r\n".join(lines))
    return "\r\n\r\n".join(out) + "\r\n"


README = """KORVANE DEMO 1998
=================

This folder was installed by the Korvane Installer. Everything in it was
made by our own generators: the texts, the sample of the theme, the
pictures and the data files.

  docs\\      the manual and a short history of the group
  music\\     the theme as a 16-bit WAV file
  gfx\\       the title screen and the logo as 8-bit bitmaps
  data\\      level data and tables, and a deep folder tree
  saves\\     empty, for your own saves

LICENSE.TXT is read-only, as it came.
"""

LICENSE = """KORVANE DEMO 1998 - LICENCE

Copy it, spread it, put it on your board. Do not sell it, do not change it
and then say it is ours. No warranty: if it breaks, you keep both pieces.
"""


def faq_text(seed, entries):
    """Questions and answers in a vocabulary of their own."""
    r = g.rng(seed)
    out = []
    for n in range(1, entries + 1):
        q = " ".join(r.choice(FAQ_WORDS) for _ in range(r.randint(6, 14)))
        a = " ".join(r.choice(FAQ_WORDS) for _ in range(r.randint(10, 30)))
        out.append(f"Q{n}: {q.capitalize()}?\nA{n}: {a.capitalize()}.\n")
    return "\n".join(out)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def theme_wav(seconds=32.0, rate=22050):
    """A stereo rendition of the theme's chords: detuned saw pads with an arpeggio, a kick on
    every beat and noise hats between them (the hats keep the file from packing too well)."""
    chords = [(57, 60, 64), (53, 57, 60), (48, 52, 55), (55, 59, 62)]  # Am F C G as MIDI notes
    total = int(seconds * rate)
    bar = total // 16
    beat = bar // 4
    noise = g.rng(7)
    frames = bytearray()
    phases = [0.0] * 8
    for i in range(total):
        chord = chords[(i // bar) % 4]
        t_in_bar = (i % bar) / bar
        env = min(1.0, t_in_bar * 8) * (1.0 - 0.35 * t_in_bar)
        left = right = 0.0
        for v, n in enumerate(chord):
            f = 440.0 * 2 ** ((n - 69) / 12)
            for side, det in ((0, 0.997), (1, 1.003)):
                k = v * 2 + side
                phases[k] = (phases[k] + f * det / rate) % 1.0
                s = 2 * phases[k] - 1
                if side == 0:
                    left += s
                else:
                    right += s
        step = (i * 8 // (rate // 4)) % 3
        f_arp = 440.0 * 2 ** ((chord[step] + 12 - 69) / 12)
        phases[6] = (phases[6] + f_arp / rate) % 1.0
        arp = (1 if phases[6] < 0.5 else -1) * 0.25 * (1 - ((i % (rate // 8)) / (rate // 8)))
        t_beat = (i % beat) / rate
        kick = math.sin(2 * math.pi * 55 * t_beat * (1 + 2 * math.exp(-t_beat * 30))) * math.exp(-t_beat * 9) * 0.35
        hat_t = ((i + beat // 2) % beat) / rate
        hat = (noise.random() - 0.5) * 0.3 * math.exp(-hat_t * 40) if (i // (bar * 4)) % 2 else 0.0
        l = 0.16 * env * left + arp + kick + hat
        r = 0.16 * env * right + arp + kick - hat
        frames += struct.pack("<hh", int(max(-1, min(1, l)) * 30000), int(max(-1, min(1, r)) * 30000))
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))
    return buf.getvalue()


def bitmap(size, seed):
    """An 8-bit bitmap: a plasma in a copper palette."""
    w, h = size
    img = Image.new("P", size)
    pal = []
    for i in range(256):
        t = i / 255
        pal += list(g.ramp([(0, (10, 0, 40)), (0.3, (120, 20, 160)), (0.55, (255, 120, 60)),
                            (0.8, (255, 230, 150)), (1, (255, 255, 255))], t))
    img.putpalette(pal)
    r = g.rng(seed)
    a, b, c = r.uniform(0.01, 0.03), r.uniform(0.01, 0.03), r.uniform(0.02, 0.05)
    img.putdata([int(127.5 + 127.5 * math.sin(a * x + math.sin(b * y) * 2) * math.cos(c * (x + y) * 0.5))
                 for y in range(h) for x in range(w)])
    buf = io.BytesIO()
    img.save(buf, format="BMP")
    return buf.getvalue()


def sprites(size, seed):
    """An 8-bit sprite sheet: rows of shaded balls and boxes on a black ground."""
    w, h = size
    img = Image.new("RGB", size)
    draw = ImageDraw.Draw(img)
    r = g.rng(seed)
    for y in range(0, h, 32):
        for x in range(0, w, 32):
            hue = [(255, 80, 40), (60, 200, 255), (120, 255, 90), (255, 220, 60)][(x // 32 + y // 32) % 4]
            if r.random() < 0.5:
                for k in range(12, 0, -1):
                    c = g.lerp((0, 0, 0), hue, 1 - k / 14)
                    draw.ellipse((x + 16 - k, y + 16 - k, x + 16 + k // 2, y + 16 + k // 2), fill=c)
            else:
                size_k = r.randint(8, 14)
                for k in range(size_k, 0, -2):
                    draw.rectangle((x + 16 - k, y + 16 - k, x + 16 + k, y + 16 + k), fill=g.lerp(hue, (255, 255, 255), k / 20))
    buf = io.BytesIO()
    g.quantize(img).save(buf, format="BMP")
    return buf.getvalue()


def credits_bitmap(size):
    """An 8-bit credits screen: lines of text over a copper gradient."""
    img = g.vertical_gradient(size, [(0, (0, 0, 60)), (0.5, (80, 0, 120)), (1, (0, 40, 80))])
    draw = ImageDraw.Draw(img)
    fnt = g.font("DejaVuSansMono-Bold.ttf", 18)
    lines = ["KORVANE 1998", ""] + [f"{role:<10} {name}" for role, name in (
        ("code", "Zendril"), ("music", "Tarrow"), ("graphics", "Mirelle"), ("packing", "Oskuun"),
        ("support", "the board at 3am"), ("thanks", "everyone who called"))] + [""] + GREETINGS[:8]
    for n, line in enumerate(lines):
        g.shadowed_text(img, (40, 24 + n * 24), line, fnt, (255, 230, 160))
    buf = io.BytesIO()
    g.quantize(img).save(buf, format="BMP")
    return buf.getvalue()


GREETINGS = ["greetings to " + name for name in (
    "Nightfall", "Cobalt Sun", "Heavy Iron", "Static Fields", "Orbitron", "Mirage Crew", "Polar Code",
    "Vectorline", "Red Shift", "Paper Tigers", "Lowpass", "Subzero Club")]


def commands_text(seed):
    """A reference of the tracker's effect commands: a table of hex values and short notes."""
    r = g.rng(seed)
    effects = ["arpeggio", "slide up", "slide down", "tone portamento", "vibrato", "tone porta + volume slide",
               "vibrato + volume slide", "tremolo", "unused", "sample offset", "volume slide", "position jump",
               "set volume", "pattern break", "extended", "set speed"]
    out = ["TRACKER COMMAND REFERENCE", "=========================", ""]
    for cmd, name in enumerate(effects):
        out.append(f"{cmd:X}xy  {name}")
        for x in range(16):
            note = r.choice(["", "fine", "retrigger", "note cut", "note delay", "loop", "glissando", "waveform"])
            out.append(f"  {cmd:X}{x:X}{r.randrange(16):X}  {r.randrange(256):3d} ticks {r.randrange(64):2d} rows  {note}")
        out.append("")
    for n in range(400):
        order = " ".join(f"{r.randrange(64):02d}" for _ in range(16))
        out.append(f"order {n:03d}: {order}")
    return "\n".join(out) + "\n"


FAQ_WORDS = ("why does my sample click when the loop restarts how can i make the volume slide smoother "
             "what is the difference between fine and normal slides where do i set the speed can i use "
             "more than four channels is the module format the same on every machine how big may a "
             "pattern be which period is the lowest note answer question yes no usually never always "
             "because the player reads the row before the tick counter wraps").split()


def level_data(size, seed):
    r = g.rng(seed)
    out = bytearray(b"KLVL")
    out += struct.pack("<I", size)
    while len(out) < size:
        # Runs of tiles with occasional objects: structured, not just noise.
        tile = r.randrange(16)
        out += bytes([tile]) * r.randint(1, 12)
        if r.random() < 0.1:
            out += struct.pack("<HHB", r.randrange(4096), r.randrange(4096), r.randrange(256))
    return bytes(out[:size])


def tables():
    out = bytearray()
    out += b"".join(struct.pack("<h", int(32767 * math.sin(2 * math.pi * i / 4096))) for i in range(4096))
    out += b"".join(struct.pack("<H", int(65535 * (i / 4095) ** 2.2)) for i in range(4096))
    out += bytes((i * 7 + (i >> 3)) & 0xFF for i in range(65536 - len(out) % 65536))
    return bytes(out)


def files():
    t = TOP + "/"
    yield t + "README.TXT", crlf(README)
    yield t + "LICENSE.TXT", crlf(LICENSE)
    yield t + "Release Notes.txt", crlf(prose(1, 12))
    yield t + "docs/manual.txt", crlf(prose(2, 700))
    yield t + "docs/history of the group.txt", crlf(prose(3, 60))
    yield t + "docs/empty note.txt", b""
    yield t + "music/korvane theme.wav", theme_wav()
    yield t + "docs/tracker commands.txt", crlf(commands_text(8))
    yield t + "docs/faq.txt", crlf(faq_text(9, 900))
    yield t + "docs/greetings.txt", crlf("\n".join(GREETINGS) + "\n")
    yield t + "gfx/title screen.bmp", bitmap((640, 480), 4)
    yield t + "gfx/logo.bmp", bitmap((320, 200), 5)
    yield t + "gfx/sprites.bmp", sprites((320, 256), 10)
    yield t + "gfx/credits.bmp", credits_bitmap((640, 400))
    yield t + "gfx/backdrop.bmp", bitmap((800, 600), 11)
    yield t + "data/levels.dat", level_data(700_000, 6)
    yield t + "data/tables.bin", tables()
    yield t + "data/one byte.bin", b"K"
    deep = t + "data/deep"
    for level in range(1, 9):
        deep += f"/level {level}"
    yield deep + "/treasure.txt", crlf("You found the bottom of the tree. Greetings from KORVANE!\n")


ATTRIBUTES = f"""# Attributes git cannot keep, applied to a staged copy of payload/ before it is packed.
# readonly PATH  - the file is packed read-only
# emptydir PATH  - an empty directory is created
readonly {TOP}/LICENSE.TXT
readonly {TOP}/docs/history of the group.txt
emptydir {TOP}/saves
emptydir {TOP}/data/empty folder
"""


def main(out_dir):
    root = os.path.join(out_dir, "payload")
    for rel, data in files():
        g.write_bytes(os.path.join(root, rel), data)
    g.write_bytes(os.path.join(out_dir, "payload-attributes.txt"), ATTRIBUTES.encode("ascii"))


if __name__ == "__main__":
    import sys
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
