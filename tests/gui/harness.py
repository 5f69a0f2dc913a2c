"""Drives korvane.exe under Xvfb and Wine: one X server, Wine prefix and HOME (with an ALSA file
sink) per run; one installer process per test."""
import ctypes
import os
import re
import shutil
import signal
import struct
import subprocess
import time
from io import BytesIO

from PIL import Image, ImageChops


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def unescape_debug_string(text):
    """The text behind one of Wine's debug strings (backslash escapes, \\xxxx code points)."""
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    return re.sub(r'\\([nrt\\"]|[0-9a-f]{4})', lambda m: simple.get(m.group(1)) or chr(int(m.group(1), 16)), text)


def _f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def button_rects(width, height):
    """Rectangles (x, y, w, h) of Test, Install, NFO and Exit: the button places of the 296 x 300
    background, scaled in single precision as the background is stretched."""
    sx = width * _f32(0.0033783785)
    sy = _f32(height * _f32(0.0033333334))
    r = lambda v: int(v + 0.5)
    return [(r(135 * sx), r(top * sy), r(148 * sx), r(50 * sy)) for top in (50, 100, 150, 198)]


def quiet(args, env, **kw):
    return subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


class Session:
    """X server, Wine prefix and HOME shared by the tests of one run."""

    def __init__(self, work):
        self.work = work
        self.prefix = os.path.join(work, "prefix")
        self.sink = os.path.join(work, "alsa-out.raw")
        home = os.path.join(work, "home")
        os.makedirs(home)
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write('pcm.!default { type file; slave.pcm "null"; file "%s"; format "raw" }\n' % self.sink)
        self.xvfb = None
        self.env = {k: v for k, v in os.environ.items() if k != "XDG_RUNTIME_DIR"}
        self.env.update(HOME=home, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEDEBUG="-all", TZ="UTC", LC_ALL="C.UTF-8")

    def start(self):
        free = [n for n in range(91, 400)
                if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}")]
        check(free, "no free X display")
        self.xvfb = subprocess.Popen(["Xvfb", f":{free[0]}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{free[0]}"), 10, "Xvfb")
        self.env["DISPLAY"] = f":{free[0]}"
        scripts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
        quiet([os.path.join(scripts, "wine-prefix.sh")], self.env, timeout=180)

    def stop(self):
        quiet(["wineserver", "-k"], self.env)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                              timeout=20).stdout

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def send_delete_window(display_name, window):
    """The close box: WM_PROTOCOLS with WM_DELETE_WINDOW, sent by the test as there is no window manager."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    check(display, f"cannot open display {display_name}")
    event = _ClientMessage(type=33, window=window, format=32,  # ClientMessage
                           message_type=x11.XInternAtom(display, b"WM_PROTOCOLS", False))
    event.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", False)  # l[1] = 0: CurrentTime
    x11.XSendEvent(display, window, False, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


class Window:
    def __init__(self, session, wid):
        self.s = session
        self.id = wid

    def name(self):
        return self.s.xdotool("getwindowname", self.id).rstrip("\n")

    def size(self):
        """(width, height), or (0, 0) once the window has gone."""
        m = re.search(r"Geometry: (\d+)x(\d+)", self.s.xdotool("getwindowgeometry", self.id))
        return (int(m.group(1)), int(m.group(2))) if m else (0, 0)

    def exists(self):
        return self.size() != (0, 0)

    def shot(self):
        """The window's pixels, or None when it has gone meanwhile."""
        return screenshot(self.s, str(self.id))

    def move(self, x, y):
        self.s.xdotool("mousemove", "--window", self.id, x, y)
        time.sleep(0.15)

    # The first move into a window can come before Wine looks at the pointer; a second one
    # a pixel away makes sure the program sees a move inside.
    def hover(self, x, y):
        self.move(x, y)
        self.move(x + 1, y + 1)

    def press(self):
        self.s.xdotool("mousedown", 1)
        time.sleep(0.2)

    def release(self):
        self.s.xdotool("mouseup", 1)
        time.sleep(0.2)

    def click(self, x, y):
        self.hover(x, y)
        self.press()
        self.release()

    def focus(self):
        self.s.xdotool("windowfocus", self.id)
        time.sleep(0.2)

    def key(self, *keys):
        self.focus()
        for k in keys:
            self.s.xdotool("key", k)
            time.sleep(0.1)

    def close_box(self):
        send_delete_window(self.s.env["DISPLAY"], self.id)


class Installer:
    """One run of korvane.exe in a directory, its Wine log and its windows."""

    def __init__(self, session, cwd, name, debug):
        self.s = session
        self.log_path = os.path.join(session.work, name + ".log")
        self.log = open(self.log_path, "wb")
        if os.path.exists(session.sink):
            os.remove(session.sink)
        self.started = time.monotonic()
        self.proc = subprocess.Popen(["wine", "korvane.exe"], cwd=cwd, env=dict(session.env, WINEDEBUG=debug),
                                     stdout=self.log, stderr=self.log)
        self.main = None

    # A job takes well under a second; stopping the process lets the test look at it mid-job.
    # The X server keeps the pixels of a stopped client.
    def freeze(self):
        os.kill(self.proc.pid, signal.SIGSTOP)

    def thaw(self):
        os.kill(self.proc.pid, signal.SIGCONT)

    def step(self, seconds):
        """Lets the frozen process run for a moment; returns frozen."""
        self.thaw()
        time.sleep(seconds)
        self.freeze()

    def step_until(self, predicate, timeout=20, slice_s=0.02):
        """Lets the frozen process run in short slices until predicate() holds; returns frozen."""
        deadline = time.monotonic() + timeout
        while not (value := predicate()):
            if time.monotonic() > deadline:
                self.thaw()
                raise Failure("timed out stepping the installer")
            self.step(slice_s)
        return value

    def windows(self):
        found = []
        for line in self.s.xdotool("search", "--class", "korvane.exe").split():
            w = Window(self.s, int(line))
            if max(w.size()) > 1 and w.name() != "Default IME":
                found.append(w)
        return found

    def window_named(self, pattern):
        return next((w for w in self.windows() if re.search(pattern, w.name())), None)

    def wait_main(self, timeout=30):
        self.main = wait_for(lambda: next((w for w in self.windows() if w.size()[0] > 100), None), timeout,
                             "the main window")
        return self.main

    def log_text(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def traced(self, pattern):
        """The texts of one kind of Wine trace line, unescaped."""
        return [unescape_debug_string(t) for t in re.findall(pattern, self.log_text())]

    def boxes(self):
        return self.traced(r'trace:msgbox:MSGBOX_OnInit L"(.*)"')

    def wait_box(self, text, timeout=120):
        return wait_for(lambda: text in self.boxes(), timeout, f"message box {text!r}", 0.2)

    def answer(self, title, key="Return", timeout=20):
        box = wait_for(lambda: self.window_named("^" + re.escape(title) + "$"), timeout, f"box titled {title!r}")
        # Focus can stay with a window that was just moved; then the default button is clicked.
        box.key(key)
        try:
            wait_for(lambda: not box.exists(), 3, f"box {title!r} to close")
        except Failure:
            if key != "Return":
                raise
            w, h = box.size()
            box.click(w // 2, h - 18)
            wait_for(lambda: not box.exists(), 5, f"box {title!r} to close")

    def confirm(self, text, title, timeout=120):
        """Waits for the box showing text, then answers it."""
        self.wait_box(text, timeout)
        self.answer(title)

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the installer did not end")

    def kill(self):
        if self.proc.poll() is None:
            self.thaw()
            self.proc.send_signal(signal.SIGKILL)
        quiet(["wineserver", "-k"], self.s.env)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        self.log.close()


def changed_box(a, b):
    """Bounding box (x, y, w, h) of the pixels that differ between two screenshots, or None."""
    box = ImageChops.difference(a, b).getbbox()
    return (box[0], box[1], box[2] - box[0], box[3] - box[1]) if box else None


def inside(inner, outer, slack=1):
    return (inner[0] >= outer[0] - slack and inner[1] >= outer[1] - slack and
            inner[0] + inner[2] <= outer[0] + outer[2] + slack and inner[1] + inner[3] <= outer[1] + outer[3] + slack)


def crop(image, rect):
    x, y, w, h = rect
    return image.crop((x, y, x + w, y + h))


def mean_colour(image):
    pixels = list(image.getdata())
    return tuple(sum(p[i] for p in pixels) / len(pixels) for i in range(3))


def colour_distance(a, b):
    return sum((x - y) ** 2 for x, y in zip(a, b)) ** 0.5


def copy_release(release_dir, target):
    """A release directory of the test's own: files hard-linked (never modified in place) or copied."""
    def link(src, dst):
        try:
            os.link(src, dst)
        except OSError:
            shutil.copy2(src, dst)
    return shutil.copytree(release_dir, target, copy_function=link)


def screenshot(session, window="root"):
    """The pixels of a window (by id) or of the whole screen, or None while they cannot be read."""
    data = subprocess.run(["import", "-window", window, "png:-"], env=session.env, capture_output=True,
                          timeout=30).stdout
    try:
        return Image.open(BytesIO(data)).convert("RGB")
    except Exception:
        return None


def caption_buttons(shot):
    """Boxes (x0, y0, x1, y1) of a window's caption buttons in a screenshot of a Wine desktop:
    three light grey squares side by side, found by the rows they fill."""
    px = shot.load()
    w, h = shot.size

    def face(x, y):
        r, g, b = px[x, y]
        return 170 <= r <= 250 and abs(r - g) < 14 and abs(g - b) < 20

    trios = {}
    for y in range(h):
        runs, x = [], 0
        while x < w:
            if face(x, y):
                x0 = x
                while x < w and face(x, y):
                    x += 1
                if 10 <= x - x0 <= 22:
                    runs.append((x0, x))
            x += 1
        for i in range(len(runs) - 2):
            if runs[i + 2][1] - runs[i][0] < 70:
                trios.setdefault(tuple(runs[i:i + 3]), []).append(y)
    if not trios:
        return []
    trio, ys = max(trios.items(), key=lambda kv: len(kv[1]))
    boxes = []
    for x0, x1 in trio:
        y1 = min(ys)
        while y1 < h and sum(px[x0, y1]) >= 3 * 0xC0:
            y1 += 1
        boxes.append((x0, min(ys), x1, y1))
    return boxes


def glyph_ink(shot, box):
    """The pixels of a button's symbol, relative to the box, inside its 3-D border."""
    grey = shot.convert("L")
    x0, y0, x1, y1 = box
    return {(x - x0, y - y0) for y in range(y0 + 2, y1 - 1) for x in range(x0 + 2, x1 - 2)
            if grey.getpixel((x, y)) < 0xC8}


def mirror_misses(ink, vertical=False):
    """Share of ink pixels without a partner mirrored about the ink's own centre line."""
    if not ink:
        return 1.0
    k = 1 if vertical else 0
    lo, hi = min(p[k] for p in ink), max(p[k] for p in ink)
    flip = (lambda p: (p[0], lo + hi - p[1])) if vertical else (lambda p: (lo + hi - p[0], p[1]))
    return sum(1 for p in ink if flip(p) not in ink) / len(ink)

