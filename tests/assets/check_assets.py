#!/usr/bin/python3
"""Checks the committed release resources: regenerating them gives the same bytes, and each
one has the shape the installer relies on. Pictures are decoded with Pillow, a reader
independent of ours; the module is read by a small parser written here.

usage: check_assets.py SOURCE_DIR   (the repository root)"""

import os
import struct
import sys
import tempfile
import unittest

from PIL import Image

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
ASSETS = os.path.join(ROOT, "assets")
sys.path.insert(0, os.path.join(ROOT, "tools", "gen"))

import generate_all  # noqa: E402,F401  (puts the generators on the path)
import main_picture  # noqa: E402
import module as module_gen  # noqa: E402
import payload  # noqa: E402
import progress_picture  # noqa: E402
import texts  # noqa: E402

# The rectangles the installer cuts, written out again here rather than imported, so that a
# change on either side shows up.
NORMAL = [(139, 50, 287, 100), (139, 100, 287, 150), (139, 150, 287, 200), (139, 198, 287, 248)]
HOVER = [(0, 302, 148, 352), (0, 352, 148, 402), (1, 402, 149, 452), (0, 450, 148, 500)]
PRESSED = [(151, 303, 299, 353), (151, 353, 299, 403), (151, 403, 299, 453), (151, 451, 299, 499)]
BACKGROUND = (4, 0, 300, 300)
PROGRESS_BACKGROUND = (0, 0, 396, 322)
GAUGE_FILL = (400, 54, 424, 247)
FILE_COLUMN = (197, 57, 226, 260)    # x 197-225, rows 57-259 at 100%
TOTAL_COLUMN = (328, 58, 357, 261)


def read(name):
    with open(os.path.join(ASSETS, name), "rb") as f:
        return f.read()


def tree(root):
    out = {}
    for base, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(base, d), root) + "/"] = None
        for f in files:
            p = os.path.join(base, f)
            with open(p, "rb") as fh:
                out[os.path.relpath(p, root)] = fh.read()
    return out


class Regeneration(unittest.TestCase):
    def test_generators_reproduce_the_committed_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            main_picture.main(tmp)
            progress_picture.main(tmp)
            module_gen.main(tmp)
            texts.main(tmp)
            payload.main(tmp)
            for name in ("main.pcx", "progress.pcx", "korvane.mod", "caption.txt", "archive-name.txt",
                         "korvane.ico", "korvane.nfo", "payload-attributes.txt"):
                with self.subTest(name=name), open(os.path.join(tmp, name), "rb") as f:
                    self.assertEqual(f.read(), read(name), f"{name} differs from its generator's output")
            fresh, committed = tree(os.path.join(tmp, "payload")), tree(os.path.join(ASSETS, "payload"))
            self.assertEqual(sorted(fresh), sorted(committed))
            for name in fresh:
                self.assertEqual(fresh[name], committed[name], name)


def pcx_header(data):
    (maker, version, encoding, bpp, xmin, ymin, xmax, ymax) = struct.unpack_from("<BBBBHHHH", data, 0)
    planes, bytes_per_line = data[65], struct.unpack_from("<H", data, 66)[0]
    return maker, version, encoding, bpp, xmax - xmin + 1, ymax - ymin + 1, planes, bytes_per_line


class Pictures(unittest.TestCase):
    def open(self, name, size):
        data = read(name)
        maker, version, encoding, bpp, w, h, planes, bpl = pcx_header(data)
        self.assertEqual((maker, version, encoding, bpp, planes), (10, 5, 1, 8, 1))
        self.assertEqual((w, h), size)
        self.assertEqual(bpl, w, "the installer's decoder needs bytes per line = width")
        self.assertEqual(data[-769], 12, "palette marker")
        with Image.open(os.path.join(ASSETS, name)) as f:
            img = f.copy()
        self.assertEqual(img.size, size)
        self.assertEqual(img.mode, "P")
        return img

    def test_main_picture_layout(self):
        img = self.open("main.pcx", (300, 503))
        for rect in NORMAL + HOVER + PRESSED + [BACKGROUND]:
            x1, y1, x2, y2 = rect
            self.assertTrue(0 <= x1 < x2 <= 300 and 0 <= y1 < y2 <= 503, rect)
        for i in range(4):
            normal = img.crop(NORMAL[i])
            hover = img.crop(HOVER[i])
            pressed = img.crop(PRESSED[i]).resize(normal.size) if PRESSED[i][3] - PRESSED[i][1] != 50 \
                else img.crop(PRESSED[i])
            # Column 0 of a cut image is never shown: compare the visible columns only.
            vis = (1, 0, normal.width, normal.height)
            n, hv, pr = (im.crop(vis).convert("RGB") for im in (normal, hover, pressed))
            changed_hover = sum(a != b for a, b in zip(n.getdata(), hv.getdata()))
            changed_pressed = sum(a != b for a, b in zip(n.getdata(), pr.getdata()))
            self.assertGreater(changed_hover, 1500, f"button {i}: hover looks like normal")
            self.assertGreater(changed_pressed, 1500, f"button {i}: pressed looks like normal")
            self.assertNotEqual(list(hv.getdata()), list(pr.getdata()))
        self.assertEqual(PRESSED[3][3] - PRESSED[3][1], 48)
        # A Hover image stands in for the Normal one: its border must be the background there.
        for i in range(4):
            n = img.crop(NORMAL[i]).convert("RGB")
            hv = img.crop(HOVER[i]).convert("RGB")
            for x in range(1, 148):
                self.assertEqual(n.getpixel((x, 0)), hv.getpixel((x, 0)), f"button {i} top edge")

    def test_progress_picture_layout(self):
        img = self.open("progress.pcx", (428, 322)).convert("RGB")
        for rect in (PROGRESS_BACKGROUND, GAUGE_FILL, FILE_COLUMN, TOTAL_COLUMN):
            x1, y1, x2, y2 = rect
            self.assertTrue(0 <= x1 < x2 <= 428 and 0 <= y1 < y2 <= 322, rect)
        self.assertLessEqual(TOTAL_COLUMN[2], PROGRESS_BACKGROUND[2])
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
        for x1, y1, x2, y2 in (FILE_COLUMN, TOTAL_COLUMN):
            inside = img.crop((x1, y1, x2, y2)).resize((1, 1), Image.BOX).getpixel((0, 0))
            self.assertLess(sum(inside), 120)


def module_cells(data):
    song_length = data[950]
    orders = list(data[952:1080])
    patterns = max(orders) + 1

    def cell(pattern, row, ch):
        at = 1084 + pattern * 1024 + row * 16 + ch * 4
        b0, b1, b2, b3 = data[at:at + 4]
        return (b0 & 0xF0) | (b2 >> 4), ((b0 & 0x0F) << 8) | b1, b2 & 0x0F, b3
    return song_length, orders, patterns, cell


class Module(unittest.TestCase):
    def test_traits(self):
        data = read("korvane.mod")
        self.assertLess(len(data), 1 << 20)
        self.assertEqual(data[1080:1084], b"M.K.")
        song_length, orders, patterns, cell = module_cells(data)
        self.assertGreaterEqual(song_length, 20)
        self.assertGreaterEqual(patterns, 16)
        lengths = [struct.unpack_from(">H", data, 20 + 30 * i + 22)[0] * 2 for i in range(31)]
        self.assertEqual(1084 + patterns * 1024 + sum(lengths), len(data), "sample data must end the file")
        for i in range(31):
            start, loop = (struct.unpack_from(">H", data, 20 + 30 * i + o)[0] * 2 for o in (26, 28))
            if loop > 2:
                self.assertLessEqual(start + loop, lengths[i], f"sample {i + 1} loops past its end")
        self.assertGreaterEqual(sum(1 for n in lengths if n), 10)
        first = [cell(orders[0], 0, ch) for ch in range(4)]
        self.assertIn((0xF, 4), [(c[2], c[3]) for c in first], "speed 4 on the first row")
        self.assertIn((0xF, 110), [(c[2], c[3]) for c in first], "tempo 110 on the first row")
        last = [cell(orders[song_length - 1], 63, ch) for ch in range(4)]
        self.assertIn((0xF, 0), [(c[2], c[3]) for c in last], "speed 0 on the last row")
        used, extended, max_sample = set(), set(), 0
        for p in set(orders[:song_length]):
            for row in range(64):
                for ch in range(4):
                    sample, period, cmd, param = cell(p, row, ch)
                    max_sample = max(max_sample, sample)
                    if cmd or param:
                        used.add(cmd)
                    if cmd == 0xE:
                        extended.add(param >> 4)
                    if period:
                        self.assertTrue(113 <= period <= 856, f"period {period} outside three octaves")
        self.assertLessEqual(max_sample, 31)
        self.assertTrue({0x0, 0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7, 0x9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF} <= used,
                        f"effects used: {sorted(used)}")
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
        self.assertEqual(len(data), 16)
        name = data.split(b" ")[0]
        self.assertLessEqual(len(name), 14)
        self.assertTrue(name.lower().endswith(b".rar"))
        self.assertEqual(data, name.ljust(16, b" "))

    def test_icon(self):
        data = read("korvane.ico")
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
        self.assertEqual((w, h, colours, bits), (32, 32, 16, 4))
        self.assertEqual(offset + size, len(data))
        header = struct.unpack_from("<IiiHH", data, offset)
        self.assertEqual(header, (40, 32, 64, 1, 4))
        with Image.open(os.path.join(ASSETS, "korvane.ico")) as img:
            self.assertEqual(img.size, (32, 32))

    def test_nfo(self):
        data = read("korvane.nfo")
        text = data.decode("cp437")
        self.assertNotIn("\n", text.replace("\r\n", ""), "line ends are CR LF only")
        self.assertTrue(any(b >= 0xB0 and b <= 0xDF for b in data), "box drawing and shading")
        widths = [len(line) for line in text.split("\r\n")]
        self.assertGreater(max(widths), 100, "some lines are wider than the viewer")


if __name__ == "__main__":
    unittest.main(verbosity=1)
