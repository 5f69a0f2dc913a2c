"""The small release resources: the caption ticker text (142), the first volume's name (140),
the program icon (154) and the release notes korvane.nfo (CP437, CRLF)."""

import struct

from PIL import Image, ImageDraw

import gencommon as g

ARCHIVE_NAME = "korvane.rar"
CAPTION_BYTES = 528

CAPTION = (" " * 16 +
           "KORVANE proudly presents the KORVANE INSTALLER 1998 ... hit TEST to check all 54 volumes, "
           "INSTALL to unpack them where you like, NFO for the release notes ... music, code and "
           "graphics by KORVANE ... greetings to every crew that still spreads the good stuff ... "
           "stay elite ...")


def caption_bytes():
    text = CAPTION.encode("ascii")
    if b"~" in text or any(b < 32 or b > 126 for b in text):
        raise ValueError("caption must be printable ASCII without '~'")
    # The ticker stops at "~~" and never reads further; the rest of the fixed-size resource is
    # zeros, so that a reader that treats the resource as a C string stops there too.
    data = text + b"~~"
    if len(data) > 499:
        raise ValueError("the ticker reads at most 500 bytes; the marker must start before byte 499")
    return data + bytes(CAPTION_BYTES - len(data))


def archive_name_bytes():
    name = ARCHIVE_NAME.encode("ascii")
    if len(name) > 14 or b" " in name:
        raise ValueError("the installer copies at most 14 characters, stopping at a space")
    return name.ljust(16, b" ")


# The 16 colours of the icon: the standard VGA set, as a 16-colour icon is shown everywhere.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def icon_bytes():
    """A 32 x 32, 16-colour icon (one image): the crystal with its K, drawn straight in the
    VGA colours, with a transparency mask outside the crystal."""
    size = 32
    idx = Image.new("P", (size, size), 0)
    idx.putpalette([c for rgb in VGA16 for c in rgb])
    d = ImageDraw.Draw(idx)
    mask = Image.new("1", (size, size), 1)  # 1 = transparent
    md = ImageDraw.Draw(mask)
    c = 15.5
    top, right, bottom, left = (c, 0), (31, c), (c, 31), (0, c)
    mid = (c, c)
    md.polygon((top, right, bottom, left), fill=0)
    d.polygon((top, right, mid), fill=14)      # light cyan facet
    d.polygon((right, bottom, mid), fill=4)    # dark blue
    d.polygon((bottom, left, mid), fill=5)     # purple
    d.polygon((left, top, mid), fill=12)       # blue
    d.polygon((top, right, bottom, left), outline=15)
    # A bold K in yellow with a black edge.
    k = [((10, 8), (13, 8), (13, 14), (18, 8), (22, 8), (16, 15), (22, 23), (18, 23), (13, 17), (13, 23),
          (10, 23))]
    for poly in k:
        d.polygon(poly, fill=11, outline=0)
    pixels = idx.tobytes()
    # XOR bitmap rows bottom-up, two pixels a byte; AND mask rows bottom-up, 32 bits padded to 4 bytes.
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        row = pixels[y * size:(y + 1) * size]
        xor += bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
    andmask = bytearray()
    mpx = mask.load()
    for y in range(size - 1, -1, -1):
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if mpx[x, y] else 0)
        andmask += bits.to_bytes(4, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(andmask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, gr, r, 0) for r, gr, b in VGA16)
    image = header + palette + bytes(xor) + bytes(andmask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22)
    return directory + image


NFO = r"""
           ▄▄▄   ▄▄▄  ▄▄▄▄▄▄▄  ▄▄▄▄▄▄▄   ▄▄▄   ▄▄▄  ▄▄▄▄▄▄▄  ▄▄▄   ▄▄▄  ▄▄▄▄▄▄▄
           ███  ███▀ ███▀ ▀███ ███▀ ▀███ ███   ███ ███▀ ▀███ ████▄ ███ ███▀▀▀▀
           ███▄███▀  ███   ███ ███▄▄▄██▀ ███   ███ ███▄▄▄███ ███▀█████ ███▄▄▄
           ███▀███▄  ███   ███ ███▀▀██▄  ▀██▄ ▄██▀ ███▀▀▀███ ███  ▀███ ███▀▀▀
           ███  ███▄ ███▄ ▄███ ███  ▀███  ▀██▄██▀  ███   ███ ███   ███ ███▄▄▄▄
           ▀▀▀   ▀▀▀  ▀▀▀▀▀▀▀  ▀▀▀   ▀▀▀    ▀▀▀    ▀▀▀   ▀▀▀ ▀▀▀   ▀▀▀  ▀▀▀▀▀▀▀
░░░░░░░░░░░░░░▒▒▒▒▒▒▒▒▒▒▒▒▒▒▓▓▓▓▓▓▓▓▓▓▓▓▓▓████████████████▓▓▓▓▓▓▓▓▓▓▓▓▓▓▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒░░░░░░░░░░░░░░░░░░░░░░░░░░░
                                 p r o u d l y   p r e s e n t s
╔══════════════════════════════════════════════════════════════════════════════╗
║                                                                              ║
║              K O R V A N E   I N S T A L L E R   ·   1 9 9 8                 ║
║                                                                              ║
╟──────────────────────────────────────────────────────────────────────────────╢
║  Release date ..... 06/1998            Disks ........ 54 volumes (.rar/.rNN) ║
║  Release type ..... demo payload       Packer ....... stored, rar 2.0 layout ║
║  Installer ........ korvane.exe        Music ........ our own four channels  ║
╚══════════════════════════════════════════════════════════════════════════════╝

 ┌─[ RELEASE NOTES ]────────────────────────────────────────────────────────────┐
 │                                                                              │
 │  Here it is: the installer we always wanted for our own releases. Put all    │
 │  the volumes beside korvane.exe, start it, lean back and enjoy the tune.     │
 │                                                                              │
 │   » TEST ..... checks every volume and every file without writing a byte.    │
 │   » INSTALL .. asks where to go (it can make the folder for you) and         │
 │                unpacks everything there, times and attributes included.      │
 │   » NFO ...... shows this very file. Scroll right, some lines are wide.      │
 │   » EXIT ..... stops the music and leaves.                                   │
 │                                                                              │
 │  The gauges show the file being written and how many volumes are behind      │
 │  you. If a volume is missing the installer tells you which one; fetch it     │
 │  and try again. Files that fail their checksum are removed, never left half. │
 │                                                                              │
 └──────────────────────────────────────────────────────────────────────────────┘

 ┌─[ WHAT'S INSIDE ]────────────────────────────────────────────────────────────┐
 │                                                                              │
 │   Korvane Demo 1998\          readme, licence, release notes                 │
 │   Korvane Demo 1998\docs\     the manual and a short history                 │
 │   Korvane Demo 1998\music\    a 16-bit sample of our theme                   │
 │   Korvane Demo 1998\gfx\      title pictures, 8-bit bitmaps                  │
 │   Korvane Demo 1998\data\     tables and level data, a deep folder tree      │
 │                                                                              │
 └──────────────────────────────────────────────────────────────────────────────┘

▓▒░ GREETINGS ░▒▓────────────────────────────────────────────────────────────────────────────────────────────────────────────────
   to every crew that still swaps disks, every sysop who keeps a board online at three in the morning, every coder who ever hand-tuned a mixer loop, and everyone who reads nfo files to the end.
──────────────────────────────────────────────────────────────────────────────────────────────────────────────────────────────────

▓▒░ CONTACT ░▒▓
   Call our boards or write to the usual address. We do not trade releases by mail, do not ask.

                      ·  ·  · ──═══ KORVANE · 1998 · STAY ELITE ═══── ·  ·  ·
"""


def nfo_bytes():
    lines = NFO.strip("\n").split("\n")
    return ("\r\n".join(line.rstrip() for line in lines) + "\r\n").encode("cp437")


def main(out_dir):
    g.write_bytes(f"{out_dir}/caption.txt", caption_bytes())
    g.write_bytes(f"{out_dir}/archive-name.txt", archive_name_bytes())
    g.write_bytes(f"{out_dir}/korvane.ico", icon_bytes())
    g.write_bytes(f"{out_dir}/korvane.nfo", nfo_bytes())


if __name__ == "__main__":
    import sys
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
