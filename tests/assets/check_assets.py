#!/usr/bin/python3
"""Checks the committed release resources: regenerating them gives the same bytes, and each one
has the shape the installer relies on, read by Pillow and a small module parser written here
(assets_test.cpp reads them with the installer's own code). usage: check_assets.py SOURCE_DIR"""

import os
import struct
import sys
import tempfile
import unittest

from PIL import Image

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
ASSETS = os.path.join(ROOT, "assets")
sys.path.insert(0, os.path.join(ROOT, "tools", "gen"))

import main_picture  # noqa: E402
import module as module_gen  # noqa: E402
import payload  # noqa: E402
import progress_picture  # noqa: E402
import texts  # noqa: E402

# The progress window's rectangles, written out again here rather than imported; the main
# picture's button rectangles are checked by assets_test.cpp from the front end's own table.
GAUGE_FILL = (400, 54, 424, 247)
FILE_COLUMN = (197, 57, 226, 260)    # x 197-225, rows 57-259 at 100%
TOTAL_COLUMN = (328, 58, 357, 261)


def read(name):
    with open(os.path.join(ASSETS, name), "rb") as f:
        return f.read()


def tree(root):
    """Every directory (as None) and file (as its bytes) under root, by relative path."""
    out = {}
    for base, dirs, files in os.walk(root):
        out.update((os.path.relpath(os.path.join(base, d), root) + "/", None) for d in dirs)
        for name in files:
            with open(os.path.join(base, name), "rb") as f:
                out[os.path.relpath(f.name, root)] = f.read()
    return out


class Regeneration(unittest.TestCase):
    def test_generators_reproduce_the_committed_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            for generator in (main_picture, progress_picture, module_gen, texts, payload):
                generator.main(tmp)
            fresh, committed = tree(tmp), tree(ASSETS)
            # Every committed resource but the two build scripts comes from a generator.
            self.assertEqual(sorted(fresh), sorted(set(committed) - {"CMakeLists.txt"}))
            for name in fresh:
                self.assertEqual(fresh[name], committed[name], f"{name} differs from its generator's output")


class Pictures(unittest.TestCase):
    def open(self, name, size):
        # Version, encoding, depth and palette marker are also what the installer's decoder
        # accepts (assets_test.cpp); rows carry no padding.
        self.assertEqual(struct.unpack_from("<H", read(name), 66)[0], size[0], "bytes per line = width")
        with Image.open(os.path.join(ASSETS, name)) as f:
            img = f.copy()
        self.assertEqual((img.size, img.mode), (size, "P"))
        return img

    def test_main_picture(self):
        self.open("main.pcx", (300, 503))

    def test_progress_picture_layout(self):
        img = self.open("progress.pcx", (428, 322)).convert("RGB")
        fill = img.crop(GAUGE_FILL)
        self.assertGreater(len(set(fill.getdata())), 24, "the gauge fill should be a gradient")
        top = fill.crop((0, 0, 24, 10)).resize((1, 1), Image.BOX).getpixel((0, 0))
        bottom = fill.crop((0, 183, 24, 193)).resize((1, 1), Image.BOX).getpixel((0, 0))
        self.assertNotEqual(top, bottom)
        # The installer writes the percentages in white left of each gauge: keep it dark there.
        for tip, column in ((182, FILE_COLUMN), (313, TOTAL_COLUMN)):
            region = img.crop((tip - 40, column[1] - 6, tip + 1, column[3] + 7))
            lum = [0.3 * r + 0.59 * g + 0.11 * b for r, g, b in region.getdata()]
            self.assertLess(max(lum), 140, f"bright pixels where the percentage at x {tip} goes")
        # Empty gauges are dark inside, so that the fill stands out.
        for column in (FILE_COLUMN, TOTAL_COLUMN):
            self.assertLess(sum(img.crop(column).resize((1, 1), Image.BOX).getpixel((0, 0))), 120)


class Module(unittest.TestCase):
    def test_traits(self):
        data = read("korvane.mod")
        self.assertEqual(data[1080:1084], b"M.K.")
        song_length, orders = data[950], list(data[952:1080])
        patterns = max(orders) + 1
        self.assertTrue(song_length >= 20 and patterns >= 16, (song_length, patterns))
        lengths = []
        for i in range(31):
            length, start, loop = (struct.unpack_from(">H", data, 20 + 30 * i + o)[0] * 2 for o in (22, 26, 28))
            lengths.append(length)
            if loop > 2:
                self.assertLessEqual(start + loop, length, f"sample {i + 1} loops past its end")
        self.assertEqual(1084 + patterns * 1024 + sum(lengths), len(data), "sample data must end the file")
        self.assertGreaterEqual(sum(1 for n in lengths if n), 10)

        def cell(pattern, row, ch):  # sample, period, command, parameter
            at = 1084 + pattern * 1024 + row * 16 + ch * 4
            b0, b1, b2, b3 = data[at:at + 4]
            return (b0 & 0xF0) | (b2 >> 4), ((b0 & 0x0F) << 8) | b1, b2 & 0x0F, b3
        first = [cell(orders[0], 0, ch)[2:] for ch in range(4)]
        self.assertIn((0xF, 4), first, "speed 4 on the first row")
        self.assertIn((0xF, 110), first, "tempo 110 on the first row")
        self.assertIn((0xF, 0), [cell(orders[song_length - 1], 63, ch)[2:] for ch in range(4)], "speed 0 at the end")
        used, extended = set(), set()
        for p in set(orders[:song_length]):
            for row in range(64):
                for ch in range(4):
                    sample, period, cmd, param = cell(p, row, ch)
                    self.assertLessEqual(sample, 31)
                    if cmd or param:
                        used.add(cmd)
                    if cmd == 0xE:
                        extended.add(param >> 4)
                    self.assertTrue(period == 0 or 113 <= period <= 856, f"period {period} outside three octaves")
        self.assertTrue(set(range(16)) - {0x8} <= used, f"effects used: {sorted(used)}")
        self.assertTrue({0x1, 0x2, 0x5, 0xA, 0xB, 0xC} <= extended, f"E commands used: {sorted(extended)}")


class Texts(unittest.TestCase):
    def test_caption(self):
        data = read("caption.txt")
        self.assertEqual(len(data), 528)
        end = data.find(b"~~")
        self.assertTrue(0 < end < 499, "the ticker only looks for the marker before byte 499")
        text = data[:end]
        self.assertTrue(text.startswith(b" " * 16) and not text.startswith(b" " * 17))
        self.assertTrue(250 <= len(text) <= 320, len(text))
        self.assertTrue(all(32 <= b < 127 and b != ord("~") for b in text))

    def test_archive_name(self):
        data = read("archive-name.txt")
        name = data.split(b" ")[0]
        self.assertLessEqual(len(name), 14)
        self.assertTrue(name.lower().endswith(b".rar"))
        self.assertEqual(data, name.ljust(16, b" "))

    def test_icon(self):
        data = read("korvane.ico")
        self.assertEqual(struct.unpack_from("<HHH", data, 0), (0, 1, 1))  # reserved, icon, one image
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
        self.assertEqual((w, h, colours, bits), (32, 32, 16, 4))
        self.assertEqual(offset + size, len(data))
        self.assertEqual(struct.unpack_from("<IiiHH", data, offset), (40, 32, 64, 1, 4))
        with Image.open(os.path.join(ASSETS, "korvane.ico")) as img:
            self.assertEqual(img.size, (32, 32))

    def test_nfo(self):
        data = read("korvane.nfo")
        text = data.decode("cp437")
        self.assertNotIn("\n", text.replace("\r\n", ""), "line ends are CR LF only")
        self.assertTrue(any(0xB0 <= b <= 0xDF for b in data), "box drawing and shading")
        self.assertGreater(max(len(line) for line in text.split("\r\n")), 100, "some lines are wider than the viewer")


if __name__ == "__main__":
    unittest.main(verbosity=1)
