#!/usr/bin/env python3
"""GUI tests of korvane.exe under Xvfb and Wine: start-up picture, caption ticker and button
states, music through an ALSA file sink, Test and Install jobs with their outcome boxes, the
user's abort, the NFO viewer, Exit, and a window at twice its size closed by its close box.
Run through run-all.sh, which passes the build's paths; extra arguments select tests by name."""
import argparse
import calendar
import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

from PIL import Image, ImageChops

from harness import (Failure, Installer, Session, button_rects, caption_buttons, changed_box, check,
                     colour_distance, copy_release, crop, glyph_ink, inside, mean_colour, mirror_misses, quiet,
                     screenshot, wait_for)

TICKER_TITLE = "Korvane Installer 1998"
TEST_OK = "The file TEST has been sucessfully completed!\nYou can sucessfully install this product!"
TEST_FAILED = "The file TEST has failed!"
DESTINATION = "^Select X-Traction Destination:$"
KIND_NAMES = ("normal", "hover", "pressed")
BUTTON_NAMES = ("test", "install", "nfo", "exit")
TEST, INSTALL, NFO, EXIT = range(4)
# Source rectangles of the four buttons' Normal, Hover and Pressed images in the main picture.
BUTTON_SOURCES = (
    ((139, 50, 287, 100), (0, 302, 148, 352), (151, 303, 299, 353)),
    ((139, 100, 287, 150), (0, 352, 148, 402), (151, 353, 299, 403)),
    ((139, 150, 287, 200), (1, 402, 149, 452), (151, 403, 299, 453)),
    ((139, 198, 287, 248), (0, 450, 148, 500), (151, 451, 299, 499)),
)


class Context:
    def __init__(self, args, session):
        self.args = args
        self.session = session
        self.runs = 0

    def release_copy(self, name):
        self.runs += 1
        return copy_release(self.args.release, os.path.join(self.session.work, f"run{self.runs}-{name}"))

    @contextlib.contextmanager
    def start(self, name, cwd=None, debug="trace+msgbox"):
        """The installer, running in a release copy once its main window shows; killed afterwards."""
        app = Installer(self.session, cwd or self.release_copy(name), name, debug)
        try:
            app.wait_main()
            yield app
        finally:
            app.kill()

    def save(self, image, name):
        if self.args.screenshots:
            os.makedirs(self.args.screenshots, exist_ok=True)
            image.save(os.path.join(self.args.screenshots, name))


def check_exit(app, session, what):
    """The installer ends with code 0 and leaves no Wine process running."""
    code = app.wait_exit()
    check(code == 0, f"{what} ended the installer with code {code}")
    try:
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=30)
    except subprocess.TimeoutExpired:
        raise Failure("Wine processes were still running 30 s after the installer ended")


def park(main):
    main.move(3, 3)


def button_point(app, index, fraction=0.5):
    x, y, w, h = button_rects(*app.main.size())[index]
    return x + int(w * fraction), y + int(h * fraction)


def click_button(app, index):
    app.main.click(*button_point(app, index))


# --- start-up, ticker, buttons, music, Exit -------------------------------------------------

def test_startup_buttons_music_exit(ctx):
    with ctx.start("startup") as app:
        main = app.main
        first_seen = time.monotonic()
        # The X window can exist a moment before its title is set.
        first_name = wait_for(main.name, 2, "the main window's caption", 0.005)
        check(first_name == TICKER_TITLE, f"first caption {first_name!r}, expected {TICKER_TITLE!r}")
        text = open(ctx.args.caption, "rb").read()[:500].split(b"~~")[0].decode("latin-1")
        ticked = wait_for(lambda: (main.name() != TICKER_TITLE) and main.name(), 1.0,
                          "the caption to leave its template title within a second")
        check(ticked in (text, text[1:], text[2:]), f"caption {ticked!r} is not the ticker text at its start")
        # Two later ticks: the text moves on by one character each.
        names = []
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline and len(names) < 3:
            n = main.name()
            if not names or n != names[-1]:
                names.append(n)
            time.sleep(0.02)
        check(len(names) >= 3, f"caption did not tick: {names!r}")
        for a, b in zip(names[1:], names[2:]):
            check(b == a[1:] or (a == "" and b == text), f"ticker step {a!r} -> {b!r}")
        print(f"    caption changed {time.monotonic() - first_seen:.2f}s after the window showed")

        park(main)
        time.sleep(0.4)
        rects = button_rects(*main.size())
        base = main.shot()
        ctx.save(base, "main-window.png")
        check(len(base.getcolors(1 << 16) or range(1 << 16)) > 16, "the main picture is not shown")
        if ctx.args.preview:
            check_preview(base, ctx.args.preview)
        picture = Image.open(ctx.args.main_picture).convert("RGB")
        for name, rect, sources in zip(BUTTON_NAMES, rects, BUTTON_SOURCES):
            x, y, w, h = rect
            main.hover(x + w // 2, y + h // 2)
            hover = main.shot()
            box = changed_box(base, hover)
            check(box and inside(box, rect), f"{name}: hover changed {box}, not inside {rect}")
            check(box[2] * box[3] >= w * h // 4, f"{name}: hover drew only {box}")
            main.press()
            pressed = main.shot()
            box = changed_box(hover, pressed)
            check(box and inside(box, rect), f"{name}: press changed {box}, not inside {rect}")
            colours = [mean_colour(picture.crop(src)) for src in sources]
            for kind, shot in enumerate(crop(i, rect) for i in (base, hover, pressed)):
                seen = mean_colour(shot)
                others = min(colour_distance(seen, colours[k]) for k in range(3)
                             if k != kind and colour_distance(colours[k], colours[kind]) > 8)
                check(colour_distance(seen, colours[kind]) < others, f"{name} {KIND_NAMES[kind]} looks like another image")
            # Leaving with the button held puts it back to Normal; releasing outside clicks nothing.
            park(main)
            main.release()
            check(changed_box(base, main.shot()) is None, f"{name}: not Normal again after leaving")
        check(main.exists() and len(app.windows()) == 1, "a release outside a button opened something")

        time.sleep(max(0.0, 3.5 - (time.monotonic() - app.started)))
        # A release on the rows that NFO and Exit share is an Exit click.
        x, y, w, h = rects[EXIT]
        check(y + 1 < rects[NFO][1] + rects[NFO][3], f"NFO {rects[NFO]} and Exit {rects[EXIT]} share no two rows")
        main.click(x + w // 2, y)
        check_exit(app, ctx.session, "Exit")
        check_music(ctx)


# Where `korvane preview` draws the main window's client area (tools/release/preview.h).
PREVIEW_MAIN = (12, 44, 270, 319)


def check_preview(shot, preview_png):
    """The window as it first shows is the preview's main window, nearly pixel for pixel."""
    x, y, w, h = PREVIEW_MAIN
    drawn = Image.open(preview_png).convert("RGB").crop((x, y, x + w, y + h))
    shot = shot.convert("RGB")
    check(shot.size == drawn.size, f"window {shot.size}, preview's main window {drawn.size}")
    a, b = shot.load(), drawn.load()
    differ = [(i, j) for j in range(h) for i in range(w) if a[i, j] != b[i, j]]
    same = w * h - len(differ)
    box = (min(p[0] for p in differ), min(p[1] for p in differ), max(p[0] for p in differ), max(p[1] for p in differ)) if differ else None
    rows = sorted({p[1] for p in differ})
    # About 2% differ under Wine, spread over the picture; the old release's picture (or any
    # other) differs almost everywhere.
    check(same >= 0.97 * w * h, f"only {same} of {w * h} pixels of the window equal the preview's (differing in {box}, rows {rows[:12]}...)")
    print(f"    {same} of {w * h} pixels equal to the preview's main window")


def check_music(ctx):
    sink = ctx.session.sink
    captured = open(sink, "rb").read() if os.path.exists(sink) else b""
    check(len(captured) >= 176400, f"only {len(captured)} bytes of PCM reached the sound device")
    expected = subprocess.run([ctx.args.cli, "play", "--raw", "--seconds", "4", ctx.args.module],
                              capture_output=True, timeout=120, check=True).stdout
    n = min(len(captured), len(expected), 2 * 176400)
    # The end of what was captured may be the device's silence after the program stopped.
    first = next((i for i in range(0, n, 2) if captured[i:i + 2] != expected[i:i + 2]), None)
    check(first is None, f"captured PCM differs from `korvane play --raw` at byte {first} of {n}")
    check(any(captured[i] not in (0, 0xFF) for i in range(0, n, 97)), "the music is silent")
    print(f"    {n} bytes of PCM equal to the renderer's, {len(captured)} captured")


def test_caption_symbols(ctx):
    """In a Wine desktop, which draws frames, the caption buttons show their symbols (from
    Wine's own fonts), not the letters "0 1 r" that stand in when the symbol font is missing."""
    cwd = ctx.release_copy("desktop")
    proc = subprocess.Popen(["wine", "explorer", "/desktop=KorvaneShot,800x600", "korvane.exe"], cwd=cwd,
                            env=ctx.session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: len(caption_buttons(screenshot(ctx.session) or Image.new("RGB", (9, 9)))) == 3, 30,
                 "a window with three caption buttons", 0.5)
        time.sleep(1.0)  # the ticker and the picture settle
        shot = screenshot(ctx.session)
        boxes = caption_buttons(shot)
        check(len(boxes) == 3, f"caption buttons {boxes}")
        ctx.save(shot.crop((0, 0, 800, 600)), "main-window-desktop.png")
        minimise, maximise, close = (glyph_ink(shot, b) for b in boxes)
        height = boxes[0][3] - boxes[0][1]
        check(minimise and min(y for _, y in minimise) >= height * 2 // 3,
              f"the minimise button shows no line at its foot: {sorted(minimise)}")
        xs = [x for x, _ in maximise]
        ys = [y for _, y in maximise]
        edges = [sum(1 for p in maximise if p[0] == x) for x in (min(xs), max(xs))] if maximise else [0]
        check(maximise and min(edges) >= (max(ys) - min(ys)) * 0.7 and mirror_misses(maximise) <= 0.15,
              f"the maximise button shows no box: {sorted(maximise)}")
        check(close and mirror_misses(close) <= 0.15 and mirror_misses(close, vertical=True) <= 0.15,
              f"the close button shows no cross: {sorted(close)}")
    finally:
        proc.kill()
        quiet(["wineserver", "-k"], ctx.session.env)
        proc.wait(10)


# --- jobs ----------------------------------------------------------------------------------

def find_progress_window(app):
    # No caption, and larger than any message box (which can show unnamed for a moment).
    return next((w for w in app.windows() if w.id != app.main.id and w.name() == "" and min(w.size()) > 300), None)


def start_test_frozen(app):
    """Clicks Test and stops the installer at once, then lets it run in slices until the
    progress window shows; returns that window with the installer stopped."""
    app.main.hover(*button_point(app, TEST))
    app.main.press()
    app.s.xdotool("mouseup", 1)
    app.freeze()
    progress = app.step_until(lambda: find_progress_window(app))
    # Found once created; under load it can take a few slices more to be mapped and shown.
    app.step_until(lambda: progress.shot() is not None)
    return progress


def test_test_button(ctx):
    with ctx.start("test", debug="trace+msgbox,trace+file") as app:
        progress = start_test_frozen(app)
        shots = []
        while len(shots) < 40 and not app.boxes() and (shot := progress.shot()) is not None:
            shots.append(shot)
            app.step(0.03)
        app.thaw()
        # The gauges and their percentages stand left of column 396 above row 270.
        gauges = (150, 0, 246, 270)
        check(any(changed_box(crop(a, gauges), crop(b, gauges)) for a, b in zip(shots, shots[1:])),
              f"the gauges never moved in {len(shots)} screenshots")
        busiest = max(shots, key=lambda i: len(i.getcolors(1 << 16) or ()))
        ctx.save(busiest, "progress-window.png")
        check_rows_below_picture(ctx, busiest, gauges)
        app.confirm(TEST_OK, "Korvane 98")
        wait_for(lambda: not progress.exists(), 10, "the progress window to close")
        check(app.main.exists(), "the main window went away with the job")
        opened = re.findall(r'trace:file:CreateFileW L"([^"]+)"', app.log_text())
        names = {os.path.basename(n.replace("\\\\", "/").replace("\\", "/")).lower() for n in opened}
        volumes = {n for n in names if re.fullmatch(r".*\.(rar|r\d\d|s\d\d)", n)}
        check(len(volumes) == ctx.args.volumes, f"{len(volumes)} volumes opened, expected {ctx.args.volumes}")
        check(len(app.boxes()) == 1, f"unexpected boxes: {app.boxes()}")


def check_rows_below_picture(ctx, shot, gauges):
    """The progress window's labels and Abort button sit below its picture: every pixel of the
    picture outside the gauges is as drawn (a label over it would paint its own background),
    and the rows' text stands in the strip under the picture."""
    picture = Image.open(ctx.args.progress_picture).convert("RGB")
    width, height = min(396, shot.size[0]), picture.size[1]
    check(shot.size[1] > height, f"the progress window {shot.size} is no taller than its picture")

    def spoilt(rect):
        # The window's frame and the gauge repaints may move parts of the picture by a pixel.
        x, y, w, h = rect
        return min(sum(1 for v in ImageChops.difference(crop(shot, (x + dx, y + dy, w, h)), crop(picture, rect))
                       .convert("L").getdata() if v > 60)
                   for dx in (-2, -1, 0, 1, 2) for dy in (-2, -1, 0, 1, 2))

    gx, gy, gw, gh = gauges
    # Below the gauges the program writes its "%" signs itself; the floor under them is static.
    for rect in [(2, 2, gx - 2, height - 4), (gx, gh + 20, width - gx - 2, height - gh - 22)]:
        n = spoilt(rect)
        check(n <= rect[2] * rect[3] // 50,
              f"{n} pixels of the picture in {rect} are covered (labels or button over the picture?)")
    strip = crop(shot, (0, height + 2, shot.size[0], shot.size[1] - height - 2)).convert("L")
    background = strip.getpixel((strip.size[0] - 1, strip.size[1] - 1))
    ink_rows = [y for y in range(strip.size[1])
                if any(abs(strip.getpixel((x, y)) - background) > 60 for x in range(strip.size[0]))]
    bands = sum(1 for a, b in zip([-2] + ink_rows, ink_rows) if b != a + 1)
    check(bands >= 3, f"{bands} rows of text under the picture, expected the two labels and the button")


def test_one_job_at_a_time(ctx):
    with ctx.start("onejob") as app:
        progress = start_test_frozen(app)
        job_size = progress.size()
        # Moved aside, the progress window uncovers the buttons; the clicks wait in the X
        # server until the installer runs again.
        app.s.xdotool("windowmove", progress.id, 700, 500)
        click_button(app, TEST)
        click_button(app, INSTALL)
        seen = set()
        for _ in range(60):
            app.step(0.03)
            # A message box shows unnamed and at another size for a moment: only windows of
            # the progress window's size count.
            seen |= {w.id for w in app.windows() if w.id != app.main.id and w.size() == job_size}
            if app.boxes():
                break
        app.thaw()
        check(len(seen) <= 1, f"a second progress window opened while a job ran ({seen})")
        check(not app.window_named(DESTINATION), "Install opened its dialog during a job")
        app.confirm(TEST_OK, "Korvane 98")
        time.sleep(0.5)
        check(app.boxes() == [TEST_OK], f"boxes of a second job: {app.boxes()}")


def middle_volume(directory):
    volumes = sorted(n for n in os.listdir(directory) if re.fullmatch(r".*\.r\d\d", n.lower()))
    return volumes[len(volumes) // 2]


def test_test_damaged(ctx):
    cwd = ctx.release_copy("damaged")
    victim = os.path.join(cwd, middle_volume(cwd))
    data = bytearray(open(victim, "rb").read())
    # Past the headers, inside packed data: the entry's checksum fails.
    for offset in range(len(data) * 2 // 3, len(data) * 2 // 3 + 16):
        data[offset] ^= 0x5A
    os.remove(victim)  # a hard link to the real release
    open(victim, "wb").write(data)
    with ctx.start("damaged", cwd=cwd) as app:
        click_button(app, TEST)
        wait_for(lambda: find_progress_window(app), 15, "the progress window")
        app.wait_box(TEST_FAILED)
        check(TEST_OK not in app.boxes(), "success reported for a damaged volume set")
        app.answer("Korvane 98")


def test_missing_volume(ctx):
    cwd = ctx.release_copy("missing")
    gone = middle_volume(cwd)
    os.remove(os.path.join(cwd, gone))
    with ctx.start("missing", cwd=cwd) as app:
        for run in (1, 2):
            # The engine stops the job itself after its own box; the next job must start
            # afresh and reach the same place again.
            click_button(app, TEST)
            wait_for(lambda: app.boxes().count(f"Cannot find:\n{gone}") == run, 60, "the engine's box")
            app.answer("Zendril 1997")
            wait_for(lambda: app.boxes().count(TEST_FAILED) == run, 30, "the failure box")
            app.answer("Korvane 98")
            wait_for(lambda: not find_progress_window(app), 10, "the progress window to close")
            check(app.boxes().count(TEST_FAILED) == run, f"run {run}: boxes {app.boxes()}")


def type_destination(app, path):
    click_button(app, INSTALL)
    dialog = wait_for(lambda: app.window_named(DESTINATION), 15, "the destination dialog")
    time.sleep(0.5)
    w, h = dialog.size()
    # The path field sits at (8, 142), 194 x 14 dialog units in a 214 x 175 template.
    dialog.click(int(105 * w / 214), int(149 * h / 175))
    dialog.key("Home", "shift+End", "BackSpace")
    app.s.xdotool("type", "--delay", "20", path)
    time.sleep(0.3)
    dialog.key("Return")


def tree(root):
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            found[os.path.relpath(os.path.join(folder, name), root).lower()] = os.path.join(folder, name)
    return found


def snapshot(root):
    return {rel: os.path.getsize(p) for rel, p in tree(root).items() if os.path.isfile(p)}


def check_installed(args, installed, complete=True):
    """Compares an installed tree with the payload, the empty folders and read-only marks that
    git cannot keep, and the one time every entry was packed with."""
    entries = tree(args.payload)
    marks = [line.strip().partition(" ") for line in open(args.attributes, encoding="utf-8")]
    readonly = {path.lower() for kind, _, path in marks if kind == "readonly"}
    empty_dirs = {path.lower() for kind, _, path in marks if kind == "emptydir"}
    packed = calendar.timegm(time.strptime(args.time, "%Y-%m-%d %H:%M:%S"))
    got = tree(installed)
    want = set(entries) | empty_dirs
    if complete:
        check(set(got) == want, f"installed tree differs: missing {sorted(want - set(got))[:5]}, "
                                f"extra {sorted(set(got) - want)[:5]}")
    for rel, path in got.items():
        check(rel in want, f"{rel} is not in the payload")
        if rel in empty_dirs or os.path.isdir(entries[rel]):
            check(os.path.isdir(path), f"{rel} is not a directory")
            continue
        check(open(entries[rel], "rb").read() == open(path, "rb").read(), f"{rel} differs from the payload")
        st = os.stat(path)
        check(abs(st.st_mtime - packed) < 2, f"{rel}: time {st.st_mtime}, packed with {packed}")
        check(bool(st.st_mode & 0o222) == (rel not in readonly), f"{rel}: read-only attribute not as packed")
    return got


def test_install(ctx):
    with ctx.start("install") as app:
        type_destination(app, "C:\\korvane test\\deep\\dest")
        app.confirm("The directory:\nC:\\korvane test\\deep\\dest\\\ndoes not exist.\nDo you wish to create it?",
                    "Select X-Tract Directory", 15)
        wait_for(lambda: find_progress_window(app), 15, "the progress window")
        app.confirm("The X-Traction has been sucessfully completed!", "Korvane 98")
        got = check_installed(ctx.args, ctx.session.drive_c("korvane test", "deep", "dest"))
        print(f"    {len(got)} installed entries equal the payload")


def test_install_without_room(ctx):
    """A destination on a disk too small for the release (a 1 MiB tmpfs, so only as root):
    the installer asks before writing anything, and No returns to the main window."""
    small = ctx.session.drive_c("small")
    os.makedirs(small)
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", small],
                                           stderr=subprocess.DEVNULL).returncode != 0:
        print("    skipped: a small tmpfs cannot be mounted here")
        return
    try:
        with ctx.start("noroom") as app:
            type_destination(app, "C:\\small\\dest")
            app.confirm("The directory:\nC:\\small\\dest\\\ndoes not exist.\nDo you wish to create it?",
                        "Select X-Tract Directory", 15)
            question = wait_for(lambda: next((b for b in app.boxes() if "Install anyway?" in b), None), 15,
                                "the question about free space")
            check(re.search(r"The files need \d+ MB, but only [01] MB are free at:\nC:\\small\\dest\\", question),
                  f"free space question reads {question!r}")
            app.answer("Korvane 98", key="n")
            time.sleep(1.0)
            check(not find_progress_window(app), "a job started after No")
            check(app.main.exists(), "the main window went away")
            check(not snapshot(small), f"files were written: {snapshot(small)}")
    finally:
        subprocess.run(["umount", small])


def install_frozen(app, dest):
    """Starts an Install into a new folder and stops the installer once its first file is
    complete; returns the progress window with the installer stopped."""
    type_destination(app, "C:\\" + os.path.basename(dest))
    # Answered at once: the job would be over while answer() waits for the box to go.
    box = wait_for(lambda: app.window_named("^Select X-Tract Directory$"), 15, "the creation question")
    box.key("Return")
    app.freeze()
    progress = app.step_until(lambda: find_progress_window(app))
    app.step_until(lambda: os.path.isdir(dest) and snapshot(dest), 30, 0.005)
    return progress


UNDO = "Undo the X-Traction?\nYes removes the files it installed and puts back the files it replaced."


def test_abort(ctx):
    dest = ctx.session.drive_c("korvane-abort")
    with ctx.start("abort") as app:
        progress = install_frozen(app, dest)
        progress.focus()
        app.s.xdotool("key", "Escape")
        app.thaw()
        app.wait_box("Installation was aborted...", 20)
        at_box = snapshot(dest)
        time.sleep(1.5)
        check(snapshot(dest) == at_box, "files were written after the abort box appeared")
        app.answer("Korvane 1998")
        # No to the undo question keeps what is complete.
        app.wait_box(UNDO, 10)
        app.answer("Korvane 98", key="n")
        wait_for(lambda: not progress.exists(), 10, "the progress window to close")
        check(not any("X-Traction has" in b for b in app.boxes()), f"outcome box after abort: {app.boxes()}")
        got = check_installed(ctx.args, dest, complete=False)
        check(snapshot(dest) == at_box, "No to the undo question changed the installed files")
        print(f"    aborted with {len(at_box)} complete files and no partial one ({len(got)} entries)")


def contents(root):
    """Every file below root with its bytes, and every folder, by its path as spelled."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), root) + "/"] = None
        for name in files:
            found[os.path.relpath(os.path.join(folder, name), root)] = open(os.path.join(folder, name), "rb").read()
    return found


def test_abort_undo(ctx):
    """An install over an older copy of the release and a file of the user's own, aborted and
    undone: the folder holds again exactly what it held, byte for byte."""
    dest = ctx.session.drive_c("korvane-undo")
    for folder, _, files in os.walk(ctx.args.payload):
        rel = os.path.relpath(folder, ctx.args.payload)
        os.makedirs(os.path.join(dest, rel), exist_ok=True)
        for name in files[::2]:  # every other file was there before, in an older version
            with open(os.path.join(dest, rel, name), "wb") as f:
                f.write(b"older release: " + name.encode())
    with open(os.path.join(dest, "my notes.txt"), "wb") as f:
        f.write(b"the user's own")
    before = contents(dest)
    with ctx.start("undo") as app:
        type_destination(app, "C:\\" + os.path.basename(dest))
        box = wait_for(lambda: app.window_named("^Zendril 97$"), 30, "the overwrite question")
        # Answered while stopped: the whole job could be over in the moment a key takes.
        app.freeze()
        box.key("Return")
        progress = app.step_until(lambda: find_progress_window(app))
        def replaced():
            now = contents(dest)
            return any(v is not None and now.get(k) not in (None, v) for k, v in before.items())
        app.step_until(replaced, 30, 0.005)
        progress.focus()
        app.s.xdotool("key", "Escape")
        app.thaw()
        app.answer("Korvane 1998", timeout=20)
        app.wait_box(UNDO, 10)
        app.answer("Korvane 98", key="y")
        wait_for(lambda: not progress.exists(), 10, "the progress window to close")
        after = contents(dest)
        check(after == before, f"undo left {sorted(set(after) ^ set(before))[:5]} and "
                               f"{[k for k in before if k in after and after[k] != before[k]][:5]} changed")
        print(f"    {len(before)} entries back as they were")


def test_close_during_job(ctx):
    dest = ctx.session.drive_c("korvane-closed")
    with ctx.start("closejob") as app:
        install_frozen(app, dest)
        app.main.close_box()
        app.thaw()
        check_exit(app, ctx.session, "closing during a job")
        check(not any("X-Traction" in b for b in app.boxes()), f"outcome box while closing: {app.boxes()}")
        got = check_installed(ctx.args, dest, complete=False)
        print(f"    closed mid-job, {len(got)} entries left, none partial")


def test_cancel_destination(ctx):
    cwd = ctx.release_copy("cancel")
    with ctx.start("cancel", cwd=cwd, debug="trace+msgbox,trace+edit") as app:
        click_button(app, INSTALL)
        dialog = wait_for(lambda: app.window_named(DESTINATION), 15, "the destination dialog")
        time.sleep(0.5)
        dialog.key("Escape")
        wait_for(lambda: not dialog.exists(), 10, "the dialog to close on Escape")
        time.sleep(0.5)
        check(len(app.windows()) == 1 and not app.boxes(), "cancelling the dialog started something")
        # The installer's directory is current again: the NFO file is found by its name.
        open_viewer(app)
        start = nfo_start(cwd)
        wait_for(lambda: (texts := edit_texts(app)) and texts[-1].startswith(start), 5,
                 "the NFO text after a cancelled dialog")


# --- NFO viewer ----------------------------------------------------------------------------

def nfo_start(cwd):
    """The first characters of the NFO file as the viewer shows them (DOS code page 437)."""
    return open(os.path.join(cwd, "korvane.nfo"), "rb").read().decode("cp437")[:40]


def edit_texts(app):
    return app.traced(r'trace:edit:EDIT_WM_SetText L"(.*)"')


def open_viewer(app):
    x, y = button_point(app, NFO)
    app.main.click(x, y - 4)
    return wait_for(lambda: app.window_named("^Korvane 1998 --NFO--$"), 10, "the NFO viewer")


def close_viewer(app, viewer):
    """File > Return To Installer..., through the menu bar."""
    for _ in range(3):
        viewer.click(14, 10)
        try:
            menu = wait_for(lambda: next((w for w in app.windows() if w.name() == "" and w.size()[1] < 60), None),
                            3, "the File menu")
            menu.click(menu.size()[0] // 2, menu.size()[1] // 2)
            wait_for(lambda: not viewer.exists(), 3, "the viewer to close")
            return
        except Failure:
            continue
    raise Failure("the menu command did not close the viewer")


def test_nfo_viewer(ctx):
    cwd = ctx.release_copy("nfo")
    start = nfo_start(cwd)
    with ctx.start("nfo", cwd=cwd, debug="trace+msgbox,trace+edit") as app:
        viewer = open_viewer(app)
        time.sleep(0.8)
        texts = edit_texts(app)
        check(texts, "the viewer's text was never set")
        check(texts[-1].startswith(start), f"viewer text starts {texts[-1][:40]!r}, file gives {start!r}")
        scroll = re.findall(r"EDIT_UpdateScrollInfo SB_VERT, .*nPos=(\d+)", app.log_text())
        check(scroll and scroll[-1] == "0", "the text does not show from its first line")
        ctx.save(viewer.shot(), "nfo-viewer.png")
        viewer.key("Escape")
        time.sleep(0.6)
        check(viewer.exists(), "Escape closed the viewer")
        close_viewer(app, viewer)
        check(app.main.exists(), "the main window closed with the viewer")

        os.remove(os.path.join(cwd, "korvane.nfo"))
        viewer = open_viewer(app)
        wait_for(lambda: (texts := edit_texts(app)) and texts[-1] == "You are missing the KORVANE.NFO file!", 5,
                 "the missing-file text")
        close_viewer(app, viewer)


# --- twice the size ------------------------------------------------------------------------

def test_double_size(ctx):
    with ctx.start("resize") as app:
        main = app.main
        w1, h1 = main.size()
        double = (2 * w1, 2 * h1)
        small = button_rects(w1, h1)
        # Wine settles its window's geometry during the first second and undoes an earlier
        # resize from outside; the resize is repeated until it holds.
        for _ in range(5):
            time.sleep(1.0)
            app.s.xdotool("windowsize", main.id, *double)
            try:
                wait_for(lambda: main.size() == double, 3, "the window to take twice its size")
                break
            except Failure:
                continue
        check(main.size() == double, f"the window is {main.size()}, not twice {(w1, h1)}")
        wait_for(lambda: (main.shot() or Image.new("RGB", (1, 1))).size == double, 10,
                 "a screenshot at twice the size")
        time.sleep(1.0)
        big = button_rects(*double)
        for a, b in zip(small, big):
            check(all(abs(2 * p - q) <= 1 for p, q in zip(a, b)), f"rectangle {b} is not twice {a}")
        park(main)
        time.sleep(0.3)
        base = main.shot()
        for index, (name, rect) in enumerate(zip(BUTTON_NAMES, big)):
            # Lower right quarter: outside the rectangle of the original size.
            main.hover(*button_point(app, index, 0.75))
            box = changed_box(base, main.shot())
            check(box and inside(box, rect) and box[2] > rect[2] // 2 and box[3] > rect[3] // 2,
                  f"{name}: hover at twice the size drew {box}, expected about {rect}")
            park(main)
        # Exit itself is clicked at the first size; here the close box ends the installer.
        main.close_box()
        check_exit(app, ctx.session, "the close box")


TESTS = [test_startup_buttons_music_exit, test_caption_symbols, test_test_button,
         test_one_job_at_a_time, test_test_damaged, test_missing_volume, test_install,
         test_install_without_room, test_cancel_destination, test_abort, test_abort_undo, test_close_during_job,
         test_nfo_viewer, test_double_size]


def main():
    parser = argparse.ArgumentParser()
    for name in ("release", "payload", "attributes", "cli", "caption", "module", "main-picture", "progress-picture"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--time", required=True, help="time every entry was packed with (local = UTC here)")
    parser.add_argument("--volumes", type=int, required=True)
    parser.add_argument("--preview", help="a `korvane preview` of the release: the window must equal it")
    parser.add_argument("--screenshots")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("tests", nargs="*")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="korvane-gui-")
    session = Session(work)
    ctx = Context(args, session)
    failed = []
    started = time.monotonic()
    try:
        session.start()
        print(f"Wine prefix ready in {time.monotonic() - started:.1f}s ({work})")
        for test in TESTS:
            if args.tests and not any(t in test.__name__ for t in args.tests):
                continue
            t0 = time.monotonic()
            try:
                test(ctx)
                print(f"PASS {test.__name__} ({time.monotonic() - t0:.1f}s)")
            except Exception as e:  # a failing test must not stop the others
                failed.append(test.__name__)
                print(f"FAIL {test.__name__} ({time.monotonic() - t0:.1f}s): {e}")
                if not isinstance(e, Failure):
                    traceback.print_exc()
    finally:
        session.stop()
        if failed:
            print(f"logs and screenshots kept in {work}")
        elif not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failed)} failed, {time.monotonic() - started:.1f}s in all")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
