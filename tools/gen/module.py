"""Composes the installer's background music: a four-channel "M.K." module with synthesised
samples. Channels: 0 drums, 1 bass, 2 lead (and pads in the quiet parts), 3 chords (pad
chords or the chip arpeggio). A minor, 165 rows per minute in beats of four rows, played
half-time; 20 patterns over 27 order positions, about two and a half minutes before it loops.

The song starts with speed 4 and tempo 110 on its first row and ends with speed 0 on its
last row; the sample data ends at the last byte of the file."""

import math
import struct

import gencommon as g

# ---------------------------------------------------------------- samples

DRUM_RATE = 16726.0   # drums and effects are played at C-3 (period 214)
TONE_RATE = 8363.0    # tonal samples: 32 frames per cycle sound C at C-2 (period 428)


def clip8(v):
    return max(-127, min(127, int(round(v))))


def normalise(frames, peak=118):
    top = max(1e-9, max(abs(v) for v in frames))
    return [clip8(v * peak / top) for v in frames]


def noise(seed):
    r = g.rng(seed)
    return lambda: r.uniform(-1.0, 1.0)


def kick():
    out, phase = [], 0.0
    for i in range(3400):
        t = i / DRUM_RATE
        f = 42 + 150 * math.exp(-t * 32)
        phase += 2 * math.pi * f / DRUM_RATE
        amp = math.exp(-t * 9) * (1.0 if t > 0.002 else t / 0.002)
        click = math.exp(-t * 400) * 0.6
        out.append(math.tanh(2.2 * math.sin(phase)) * amp + click)
    return normalise(out, 124)


def snare():
    n = noise(2)
    out, phase, lp = [], 0.0, 0.0
    for i in range(4600):
        t = i / DRUM_RATE
        phase += 2 * math.pi * (185 + 60 * math.exp(-t * 40)) / DRUM_RATE
        lp += 0.55 * (n() - lp)
        body = math.sin(phase) * math.exp(-t * 28) * 0.8
        hiss = lp * (math.exp(-t * 13) * 0.9 + 0.1 * math.exp(-t * 4))
        out.append(body + hiss)
    return normalise(out, 120)


def hat(length, decay, seed):
    n = noise(seed)
    out, prev = [], 0.0
    for i in range(length):
        t = i / DRUM_RATE
        x = n()
        hp = x - prev  # a first difference tilts the noise towards the top end
        prev = x
        out.append(hp * math.exp(-t * decay))
    return normalise(out, 110)


def clap():
    n = noise(4)
    out, lp = [], 0.0
    for i in range(3600):
        t = i / DRUM_RATE
        burst = sum(math.exp(-(t - s) * 180) for s in (0.0, 0.011, 0.022) if t >= s)
        tail = math.exp(-(t - 0.03) * 16) if t >= 0.03 else 0.0
        lp += 0.45 * (n() - lp)
        out.append(lp * (0.8 * burst + 0.7 * tail))
    return normalise(out, 116)


def tom():
    out, phase = [], 0.0
    for i in range(4200):
        t = i / DRUM_RATE
        phase += 2 * math.pi * (95 + 90 * math.exp(-t * 18)) / DRUM_RATE
        out.append(math.sin(phase) * math.exp(-t * 7))
    return normalise(out, 118)


def crash():
    n = noise(7)
    out, prev, ring = [], 0.0, 0.0
    for i in range(15000):
        t = i / DRUM_RATE
        x = n()
        hp = x - prev
        prev = x
        ring = 0.7 * ring + 0.3 * hp
        out.append((hp * 0.7 + ring * 0.5) * math.exp(-t * 2.6))
    return normalise(out, 100)


def additive(cycles, harmonics, length):
    """Sum of sines: `harmonics` is a list of (harmonic number, amplitude); `cycles` is how
    many periods of the fundamental fill `length` frames, so the result loops seamlessly."""
    return [sum(a * math.sin(2 * math.pi * h * cycles * i / length) for h, a in harmonics)
            for i in range(length)]


def bass():
    # 64 frames per cycle: C-1 (period 856) sounds C two octaves below middle C.
    attack = additive(8, [(h, 1.0 / h) for h in range(1, 16)], 512)
    body = additive(16, [(1, 1.0), (2, 0.45), (3, 0.22), (4, 0.1), (5, 0.05)], 1024)
    sub = additive(16, [(1, 0.35)], 1024)
    frames = attack + [b + s for b, s in zip(body, sub)]
    return normalise(frames, 120), 512, 1024


def lead():
    # Two pulse-like voices 64 and 65 cycles over the loop: a slow chorus of about 27 cents.
    length = 2048
    a = additive(64, [(h, (1.0 if h % 2 else 0.35) / h) for h in range(1, 10)], length)
    b = additive(65, [(h, (1.0 if h % 2 else 0.35) / h) for h in range(1, 10)], length)
    return normalise([x + 0.8 * y for x, y in zip(a, b)], 112), 0, length


def pad(third):
    # A whole chord in one sample, in just intonation so that it loops over 2560 frames:
    # root 40 cycles (64 frames each), third 48 or 50, fifth 60, each doubled a cycle higher.
    length = 2560
    partials = [(40, 1.0), (41, 0.8), (third, 0.7), (third + 1, 0.55), (60, 0.7), (61, 0.5), (80, 0.3), (120, 0.12)]
    frames = [0.0] * length
    for cycles, amp in partials:
        for i in range(length):
            ph = 2 * math.pi * cycles * i / length
            frames[i] += amp * (math.sin(ph) + 0.18 * math.sin(2 * ph))
    return normalise(frames, 104), 0, length


def chip():
    cycle = [90] * 16 + [-90] * 16
    return cycle * 8, 0, 32


def riser():
    n = noise(13)
    out, low, band = [], 0.0, 0.0
    total = 18000
    for i in range(total):
        t = i / total
        f = 0.02 + 0.5 * t * t
        x = n()
        # A state-variable band-pass whose centre climbs: the classic noise sweep.
        low += f * band
        high = x - low - 0.35 * band
        band += f * high
        out.append(band * (0.2 + 0.8 * t) * (1.0 if i < total - 600 else (total - i) / 600))
    return normalise(out, 110)


def zap():
    out, phase = [], 0.0
    for i in range(5000):
        t = i / DRUM_RATE
        phase += 2 * math.pi * (1800 * math.exp(-t * 14) + 60) / DRUM_RATE
        out.append((1 if math.sin(phase) > 0 else -1) * 0.6 * math.exp(-t * 5) + 0.4 * math.sin(3 * phase) * math.exp(-t * 9))
    return normalise(out, 100)


def build_samples():
    """(name, frames, volume, loop start, loop length, finetune) for samples 1 to 14."""
    b, bs, bl = bass()
    l, ls, ll = lead()
    pm, pms, pml = pad(48)
    pj, pjs, pjl = pad(50)
    c, cs, cl = chip()
    return [
        ("kick", kick(), 64, 0, 0),
        ("snare", snare(), 56, 0, 0),
        ("closed hat", hat(900, 40, 3), 40, 0, 0),
        ("open hat", hat(3600, 9, 5), 36, 0, 0),
        ("clap", clap(), 50, 0, 0),
        ("tom", tom(), 56, 0, 0),
        ("crash", crash(), 44, 0, 0),
        ("bass", b, 60, bs, bl),
        ("lead", l, 46, ls, ll),
        ("pad minor", pm, 40, pms, pml),
        ("pad major", pj, 40, pjs, pjl),
        ("chip", c, 30, cs, cl),
        ("riser", riser(), 40, 0, 0),
        ("zap", zap(), 36, 0, 0),
    ]


# The names of the empty slots carry the credits, as trackers' users always did.
CREDITS = [
    "", "-=[ KORVANE 1998 ]=-", "", "korvane installer", "theme: 'crystal", "        horizon'",
    "", "all samples made", "by our own generator", "", "four channels, m.k.", "speed 4  tempo 110", "",
    "greetings fly to:", "  every scener who", "  still swaps disks", "", "call our boards!",
]

# ---------------------------------------------------------------- notes and cells

PERIODS = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
           428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
           214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]
NAMES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]

KICK, SNARE, HAT, OHAT, CLAP, TOM, CRASH, BASS, LEAD, PADMIN, PADMAJ, CHIP, RISER, ZAP = range(1, 15)


def note(name):
    """'A-2' -> semitone 0..35 counted from C-1."""
    return NAMES.index(name[:2]) + 12 * (int(name[2]) - 1)


def note_name(semitone):
    return NAMES[semitone % 12] + str(semitone // 12 + 1)


class Pattern:
    def __init__(self):
        self.cells = [[[0, 0, 0, 0] for _ in range(4)] for _ in range(64)]

    def put(self, row, ch, semitone=None, sample=0, cmd=0, param=0):
        c = self.cells[row][ch]
        if semitone is not None:
            c[0] = PERIODS[max(0, min(35, semitone))]
        if sample:
            c[1] = sample
        if cmd or param:
            c[2], c[3] = cmd, param

    def fx(self, row, ch, cmd, param):
        self.cells[row][ch][2] = cmd
        self.cells[row][ch][3] = param

    def encode(self):
        out = bytearray()
        for row in self.cells:
            for period, sample, cmd, param in row:
                out += bytes(((sample & 0xF0) | (period >> 8), period & 0xFF, ((sample & 0x0F) << 4) | cmd, param))
        return bytes(out)


# ---------------------------------------------------------------- the parts

ROOTS = {"C": 0, "C#": 1, "D": 2, "D#": 3, "E": 4, "F": 5, "F#": 6, "G": 7, "G#": 8, "A": 9, "A#": 10, "B": 11}
PROG_A = [("A", "m"), ("F", ""), ("C", ""), ("G", "")]
PROG_B = [("D", "m"), ("A", "m"), ("E", ""), ("A", "m")]
PROG_C = [("F", ""), ("G", ""), ("E", "m"), ("A", "m")]

DRUMS = {
    "half": "K.h.h.Kh S.h.h.Ko",
    "half2": "K.h.hKh. S.h.hKho",
    "fill": "K.h.Kh.S S.SSt.tt",
    "sparse": "K....... S.......",
    "hats": "h.h.h.h. h.h.h.ho",
    "roll": "S.S.S.S. SSSSSSSS",
    "clap": "K.h.h.Kh c.h.h.Ko",
}
DRUM_SAMPLE = {"K": KICK, "S": SNARE, "h": HAT, "o": OHAT, "c": CLAP, "t": TOM}


def drums(p, bars, start=0):
    for b, name in enumerate(bars):
        steps = DRUMS[name].replace(" ", "")
        for i, s in enumerate(steps):
            row = start + b * 16 + i
            if s == ".":
                continue
            if s == "h":
                # Accents on the beat, softer off-beats: set volume gives the hats their swing.
                p.put(row, 0, note("C-3"), HAT, 0xC, 0x28 if i % 4 == 0 else 0x16)
            elif s == "o":
                p.put(row, 0, note("C-3"), OHAT, 0xE, 0xC3)  # cut short before the next bar
            elif s == "t":
                p.put(row, 0, note("A-2") - (i % 3) * 3, TOM)
            elif s == "K" and name == "half2" and i == 5:
                p.put(row, 0, note("C-3"), KICK, 0x9, 0x04)  # offset: a shorter, punchier kick
            else:
                p.put(row, 0, note("C-3"), DRUM_SAMPLE[s])


def chord_root(chord, octave):
    return ROOTS[chord[0]] + 12 * (octave - 1)


def bass_line(p, prog, style="drive", start=0):
    for b, chord in enumerate(prog):
        root = chord_root(chord, 1)
        base = start + b * 16
        if style == "hold":
            p.put(base, 1, root, BASS)
            p.fx(base + 12, 1, 0xA, 0x02)
            p.fx(base + 14, 1, 0xA, 0x04)
        elif style == "drive":
            seq = [root, None, root, None, root + 12, None, root, None,
                   root, None, root + 7, None, root + 12, None, root + 7, None]
            for i, n in enumerate(seq):
                if n is not None:
                    p.put(base + i, 1, n, BASS if i in (0, 8) else 0)
            p.fx(base + 15, 1, 0x1, 0x06)  # a little slide up into the next bar
        elif style == "walk":
            nxt = chord_root(prog[(b + 1) % len(prog)], 1)
            third = 3 if chord[1] == "m" else 4
            seq = [root, None, None, root + 12, None, None, root, None,
                   root + 7, None, None, root + 5, None, None, root + third, None]
            for i, n in enumerate(seq):
                if n is not None:
                    p.put(base + i, 1, n, BASS if i == 0 else 0)
            # Glide to the next root with tone portamento over the last row.
            p.put(base + 15, 1, nxt, 0, 0x3, 0x30)
        elif style == "octaves":
            for i in range(0, 16, 2):
                p.put(base + i, 1, root + (12 if i % 4 == 2 else 0), BASS if i == 0 else 0)
            p.fx(base + 14, 1, 0xE, 0x12)  # fine slide up: the octave leans a little sharp


CHORD_ARP = {"m": 0x37, "": 0x47}


def arp(p, prog, gate="pulse", ch=3, start=0, octave=2):
    for b, chord in enumerate(prog):
        root = chord_root(chord, octave)
        base = start + b * 16
        p.put(base, ch, root, CHIP, 0x0, CHORD_ARP[chord[1]])
        for i in range(1, 16):
            p.fx(base + i, ch, 0x0, CHORD_ARP[chord[1]])
        if gate == "pulse":
            # Every other row the chord is struck again and the row between drops to a quiet
            # root (set volume): a pulsing arpeggio on a single channel.
            for i in range(2, 16, 2):
                p.put(base + i, ch, root, CHIP, 0x0, CHORD_ARP[chord[1]])
            for i in range(1, 16, 2):
                p.fx(base + i, ch, 0xC, 0x0A)


def pads(p, prog, ch=3, start=0, swell=True, tremolo=False, octave=2):
    for b, chord in enumerate(prog):
        root = chord_root(chord, octave)
        base = start + b * 16
        sample = PADMIN if chord[1] == "m" else PADMAJ
        if swell:
            p.put(base, ch, root, sample, 0xC, 0x08)
            for i in range(1, 6 if tremolo else 10):
                p.fx(base + i, ch, 0xA, 0x30)  # fade in over the first part of the bar
            for i in range(12, 16):
                p.fx(base + i, ch, 0xA, 0x01)
        else:
            p.put(base, ch, root, sample)
        if tremolo:
            for i in range(6, 12):
                p.fx(base + i, ch, 0x7, 0x64 if i == 6 else 0x00)


def melody(p, text, ch=2, start=0, sample=LEAD):
    """Tracker-style text: one token per row; 'A-2' note, '.' nothing, '^' note cut,
    '~' vibrato, '>' tone portamento to the note that follows the '>' token (e.g. '>C-3'),
    'v' fade (volume slide down), 'V' vibrato with fade, '<' slide up, '/' fine volume up."""
    row = start
    for token in text.split():
        if token == ".":
            pass
        elif token == "^":
            p.fx(row, ch, 0xE, 0xC2)
        elif token == "~":
            p.fx(row, ch, 0x4, 0x46)
        elif token == "~~":
            p.fx(row, ch, 0x4, 0x00)  # keep the earlier speed and depth
        elif token == "v":
            p.fx(row, ch, 0xA, 0x03)
        elif token == "V":
            p.fx(row, ch, 0x6, 0x02)
        elif token == "<":
            p.fx(row, ch, 0x1, 0x02)
        elif token == "/":
            p.fx(row, ch, 0xE, 0xA4)
        elif token.startswith(">"):
            p.put(row, ch, note(token[1:]), 0, 0x3, 0x0C)
        elif token.startswith("="):
            # tone portamento with a fade: the note glides and dies away
            p.put(row, ch, note(token[1:]), 0, 0x5, 0x02)
        else:
            p.put(row, ch, note(token), sample)
        row += 1
    return row


THEME_A = """
A-2 . . . . . C-3 . E-3 . . . A-3 ~ ~~ ~~
G-3 . . . ~ ~~ E-3 . F-3 . . . ~ ~~ v v
E-3 . . . . . D-3 . C-3 . . . D-3 . E-3 .
D-3 . . . ~ ~~ ~~ ~~ >B-2 . . . G-2 . . ^
"""
THEME_B = """
E-3 . . . A-3 . . . G-3 . E-3 . D-3 . C-3 .
C-3 . . . A-2 . . . C-3 . D-3 . E-3 . . .
G-3 . . . E-3 . . . C-3 . E-3 . G-3 . A-3 .
B-3 . . . ~ ~~ ~~ ~~ A-3 . G-3 . ~ ~~ V V
"""
THEME_C = """
C-3 . D-3 . E-3 . . . A-3 . . . G-3 . . .
F-3 . E-3 . D-3 . . . C-3 . . . ~ ~~ v v
E-3 . . . G-3 . . . C-3 . B-2 . C-3 . D-3 .
E-3 . . . . . ~ ~~ ~~ ~~ ~~ ~~ =A-2 . . ^
"""
BRIDGE = """
F-3 . . . A-3 . . . ~ ~~ ~~ ~~ G-3 . F-3 .
E-3 . . . ~ ~~ ~~ ~~ C-3 . . . >E-3 . . .
G#2 . . . B-2 . . . E-3 . . . G#3 . ~ ~~
A-3 . . . ~ ~~ ~~ ~~ V V V V V V V ^
"""
BRIDGE_C = """
A-3 . . . G-3 . F-3 . ~ ~~ ~~ ~~ E-3 . D-3 .
D-3 . . . E-3 . . . >G-3 . . . ~ ~~ ~~ ~~
B-2 . . . E-3 . . . G-3 . . . F#3 . E-3 .
E-3 . . . ~ ~~ ~~ ~~ >A-3 . . . V V V ^
"""
SOLO_A = """
A-3 . G-3 E-3 . G-3 A-3 . C-3 . E-3 . A-3 . B-3 .
A-3 . . . F-3 . . . C-3 . F-3 . A-3 . . .
G-3 . E-3 . C-3 . E-3 . G-3 . . . E-3 . D-3 .
D-3 . . . ~ ~~ ~~ ~~ >G-3 . . . < < . .
"""
SOLO_B = """
E-3 . . . . . D-3 . E-3 . G-3 . A-3 . . .
F-3 . . . E-3 . . . C-3 . . . A-2 . . .
C-3 . . . E-3 . . . G-3 . . . B-3 . . .
A-3 . . . ~ ~~ ~~ ~~ ~~ ~~ V V V V V ^
"""


def first_row_clock(p):
    p.fx(0, 1, 0xF, 0x04)   # speed 4
    p.fx(0, 2, 0xF, 0x6E)   # tempo 110


def pat_intro():
    p = Pattern()
    pads(p, PROG_A, ch=3, tremolo=True)
    bass_line(p, PROG_A, "hold")
    p.put(0, 0, note("C-3"), RISER, 0x9, 0x10)   # start the sweep halfway in
    p.fx(1, 0, 0xA, 0x01)
    p.put(48, 0, note("C-3"), RISER)
    for r in range(49, 64):
        p.fx(r, 0, 0xA, 0x10 if r < 60 else 0x00)
    first_row_clock(p)
    return p


def pat_intro2():
    p = Pattern()
    pads(p, PROG_A, ch=2, swell=True, octave=2)
    arp(p, PROG_A, gate="pulse")
    drums(p, ["hats", "hats", "hats", "fill"])
    bass_line(p, PROG_A, "hold")
    return p


def pat_groove(prog=PROG_A, bass="drive", kit=("half", "half2", "half", "fill"), lead=None, arp_gate="pulse"):
    p = Pattern()
    drums(p, list(kit))
    bass_line(p, prog, bass)
    arp(p, prog, gate=arp_gate)
    if lead:
        melody(p, lead)
    return p


def pat_breakdown():
    """32 rows, ended early by a pattern break; the tempo eases off and comes back."""
    p = Pattern()
    pads(p, PROG_C[:2], ch=3, tremolo=True)
    melody(p, """
    E-3 . . . ~ ~~ ~~ ~~ D-3 . . . C-3 . . .
    D-3 . . . ~ ~~ ~~ ~~ V V V V V V V ^
    """)
    p.put(0, 0, note("C-3"), CRASH)
    p.put(0, 1, note("F-1"), BASS)
    p.put(16, 1, note("G-1"), BASS)
    p.fx(28, 1, 0x2, 0x04)      # the bass sags before the build-up
    p.fx(29, 1, 0x2, 0x04)
    p.fx(0, 0, 0xF, 0x64)      # tempo 100 for the breath...
    p.fx(24, 0, 0xF, 0x6E)     # ...and back to 110
    p.put(24, 0, note("C-3"), ZAP)
    p.fx(31, 2, 0xD, 0x00)     # break to the next pattern's first row
    return p


def pat_buildup():
    p = Pattern()
    # Snare roll that grows: set volume steps it up bar by bar.
    for b, vol in enumerate((0x18, 0x24, 0x30, 0x40)):
        for i in range(16):
            if b < 2 and i % 2:
                continue
            p.put(b * 16 + i, 0, note("C-3"), SNARE, 0xC, vol if b < 3 else 0x28 + i * 2)
    p.put(0, 3, note("C-3"), RISER)
    for r in range(1, 64):
        p.fx(r, 3, 0xA, 0x10 if r % 4 == 0 else 0x00)
    p.fx(0, 3, 0xC, 0x10)
    bass_line(p, PROG_A, "octaves")
    for r in range(56, 64):
        p.fx(r, 1, 0x1, 0x03)       # bass climbs into the drop
    melody(p, """
    A-2 . . . . . . . . . . . . . . .
    . . . . . . . . . . . . . . . .
    A-2 . . . . . . . . . . . . . . .
    A-2 / / / / / / / < < < < < < < ^
    """)
    return p


def pat_ending():
    p = Pattern()
    drums(p, ["half", "sparse", "sparse", "sparse"])
    pads(p, [("F", ""), ("G", ""), ("A", "m"), ("A", "m")], ch=3, swell=False)
    for r in range(48, 63):
        p.fx(r, 3, 0xA, 0x01)
    bass_line(p, [("F", ""), ("G", ""), ("A", "m"), ("A", "m")], "hold")
    melody(p, """
    C-3 . . . ~ ~~ ~~ ~~ B-2 . . . D-3 . . .
    E-3 . . . ~ ~~ ~~ ~~ D-3 . . . B-2 . . .
    A-2 . . . ~ ~~ ~~ ~~ ~~ ~~ ~~ ~~ V V V V
    V V V V V V V V V V V V V V V ^
    """)
    p.put(48, 0, note("C-3"), CRASH)
    p.fx(63, 2, 0xB, 0x00)   # back to the top...
    p.fx(63, 3, 0xF, 0x00)   # ...through a row of speed 0, which lasts a single tick
    return p


def compose():
    pats = [None] * 20
    pats[0] = pat_intro()
    pats[1] = pat_intro2()
    pats[2] = pat_groove()
    pats[3] = pat_groove(kit=("half", "half2", "clap", "fill"), bass="walk")
    pats[4] = pat_groove(lead=THEME_A)
    pats[5] = pat_groove(lead=THEME_B, bass="walk")
    pats[6] = pat_groove(lead=THEME_A, kit=("half", "half2", "clap", "half2"))
    pats[7] = pat_groove(lead=THEME_C, kit=("half", "clap", "half", "fill"), bass="walk")
    pats[8] = pat_groove(prog=PROG_B, lead=BRIDGE, kit=("sparse", "half", "sparse", "fill"), bass="hold")
    pats[9] = pat_groove(prog=PROG_B, lead=BRIDGE, bass="octaves")
    pats[10] = pat_breakdown()
    pats[11] = pat_buildup()
    pats[12] = pat_groove(lead=THEME_A, kit=("clap", "half2", "clap", "fill"), bass="octaves")
    pats[13] = pat_groove(lead=THEME_B, kit=("clap", "half2", "clap", "roll"), bass="drive")
    pats[14] = pat_groove(lead=SOLO_A, kit=("half", "half2", "half", "half2"), bass="walk")
    pats[15] = pat_groove(lead=SOLO_B, kit=("half", "half2", "clap", "fill"), bass="drive")
    pats[16] = pat_groove(lead=THEME_C, kit=("half", "sparse", "half", "fill"), bass="octaves")
    pats[17] = pat_groove(prog=PROG_C, bass="walk", kit=("half", "half2", "half", "half2"))
    pats[18] = pat_groove(prog=PROG_C, lead=BRIDGE_C, bass="drive", kit=("half", "clap", "half", "fill"))
    pats[19] = pat_ending()

    # Accents that keep the arrangement moving.
    for p in (pats[2], pats[4], pats[12], pats[14]):
        p.put(0, 0, note("C-3"), CRASH)
    pats[4].fx(0, 2, 0xE, 0x50)       # the theme's lead in tune...
    pats[14].fx(0, 2, 0xE, 0x52)      # ...and the solo a touch sharp, brighter
    pats[14].fx(0, 3, 0xE, 0xB4)      # chords step back (fine volume down) under the solo
    pats[15].fx(32, 1, 0xE, 0x21)     # fine slide down on the bass
    pats[13].put(63, 3, note("C-3"), ZAP, 0x2, 0x08)  # a zap sliding down into the solo
    pats[9].fx(62, 2, 0x8, 0x00)      # panning has no effect here: the player is four-way mono
    return pats


ORDERS = [0, 1, 2, 3, 4, 5, 6, 7, 17, 8, 9, 10, 11, 12, 13, 14, 15, 2, 18, 16, 4, 5, 12, 13, 6, 7, 19]


def build_module():
    samples = build_samples()
    pats = compose()
    out = bytearray(b"korvane: crystal hz".ljust(20, b"\0"))
    names = [s[0] for s in samples] + CREDITS
    for slot in range(31):
        if slot < len(samples):
            name, frames, volume, loop_start, loop_len = samples[slot]
            if len(frames) % 2:
                frames = frames + [0]
            if loop_len:
                out += struct.pack(">22sHBBHH", name.encode(), len(frames) // 2, 0, volume,
                                   loop_start // 2, loop_len // 2)
            else:
                out += struct.pack(">22sHBBHH", name.encode(), len(frames) // 2, 0, volume, 0, 1)
        else:
            text = names[slot] if slot < len(names) else ""
            out += struct.pack(">22sHBBHH", text.encode(), 0, 0, 0, 0, 1)
    out.append(len(ORDERS))
    out.append(127)  # restart byte, unused by players of this format
    out += bytes(ORDERS) + bytes(128 - len(ORDERS))
    out += b"M.K."
    for p in pats:
        out += p.encode()
    for name, frames, *_ in samples:
        if len(frames) % 2:
            frames = frames + [0]
        out += bytes((v & 0xFF) for v in frames)
    return bytes(out)


def main(out_dir):
    data = build_module()
    g.write_bytes(f"{out_dir}/korvane.mod", data)
    return data


if __name__ == "__main__":
    import sys
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
