#!/usr/bin/env python3
"""GUI tests of korvane.exe under Xvfb and Wine: start-up picture, caption ticker and button
states, music through an ALSA file sink, Test and Install jobs with their outcome boxes, the
user's abort, the NFO viewer, Exit and the close box, and a window at twice its size.

usage: gui_tests.py --exe korvane.exe --release DIR --payload DIR --cli korvane
                    --caption FILE --module FILE --main-picture FILE [--screenshots DIR] [TEST...]
"""
import argparse
import calendar
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

from PIL import Image

from harness import (Failure, Installer, Session, button_rects, changed_box, check, colour_distance,
                     copy_release, crop, inside, mean_colour, wait_for)

TICKER_TITLE = "Korvane Installer 1998"
KIND_NAMES = ("normal", "hover", "pressed")
BUTTON_NAMES = ("test", "install", "nfo", "exit")
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

    def start(self, name, cwd=None, debug="trace+msgbox"):
        cwd = cwd or self.release_copy(name)
        app = Installer(self.session, cwd, name, debug)
        app.wait_main()
        return app

    def save(self, image, name):
        if self.args.screenshots:
            os.makedirs(self.args.screenshots, exist_ok=True)
            image.save(os.path.join(self.args.screenshots, name))

    def artifact(self, image, name):
        image.save(os.path.join(self.session.work, "artifacts", name))


def caption_text(path):
    data = open(path, "rb").read()[:500]
    end = len(data)
    for i in range(min(len(data), 499)):
        if data[i:i + 2] == b"~~":
            end = i
            break
    return data[:end].decode("latin-1")


def no_stray_process(session):
    try:
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=30)
    except subprocess.TimeoutExpired:
        raise Failure("Wine processes were still running 30 s after the installer ended")


def park(main):
    main.move(3, 3)


# --- start-up, ticker, buttons, music, Exit -------------------------------------------------

def test_startup_buttons_music_exit(ctx):
    s = ctx.session
    cwd = ctx.release_copy("startup")
    app = Installer(s, cwd, "startup")
    try:
        main = app.wait_main()
        first_seen = time.monotonic()
        # The X window can exist a moment before its title is set.
        first_name = wait_for(main.name, 2, "the main window's caption", 0.005)
        check(first_name == TICKER_TITLE, f"first caption {first_name!r}, expected {TICKER_TITLE!r}")
        text = caption_text(ctx.args.caption)
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
        width, height = main.size()
        rects = button_rects(width, height)
        base = main.shot()
        ctx.save(base, "main-window.png")
        check(len(base.getcolors(1 << 16) or range(1 << 16)) > 16, "the main picture is not shown")
        picture = Image.open(ctx.args.main_picture).convert("RGB")
        for i, rect in enumerate(rects):
            x, y, w, h = rect
            main.hover(x + w // 2, y + h // 2)
            hover = main.shot()
            box = changed_box(base, hover)
            check(box and inside(box, rect), f"{BUTTON_NAMES[i]}: hover changed {box}, not inside {rect}")
            check(box[2] * box[3] >= rect[2] * rect[3] // 4, f"{BUTTON_NAMES[i]}: hover drew only {box}")
            main.press()
            pressed = main.shot()
            box = changed_box(hover, pressed)
            check(box and inside(box, rect), f"{BUTTON_NAMES[i]}: press changed {box}, not inside {rect}")
            shots = (crop(base, rect), crop(hover, rect), crop(pressed, rect))
            sources = [mean_colour(picture.crop(src)) for src in BUTTON_SOURCES[i]]
            for kind, shot in enumerate(shots):
                ctx.artifact(shot, f"button-{BUTTON_NAMES[i]}-{KIND_NAMES[kind]}.png")
                seen = mean_colour(shot)
                mine = colour_distance(seen, sources[kind])
                others = min(colour_distance(seen, sources[k]) for k in range(3) if k != kind
                             and colour_distance(sources[k], sources[kind]) > 8)
                check(mine < others, f"{BUTTON_NAMES[i]} {KIND_NAMES[kind]} looks like another image")
            # Leaving with the button held puts it back to Normal; releasing outside clicks nothing.
            park(main)
            main.release()
            back = main.shot()
            check(changed_box(base, back) is None, f"{BUTTON_NAMES[i]}: not Normal again after leaving")
        check(main.exists() and len(app.windows()) == 1, "a release outside a button opened something")

        time.sleep(max(0.0, 3.5 - (time.monotonic() - app.started)))
        # The rows that NFO and Exit share: a release there is an Exit click.
        x, y, w, h = rects[3]
        nfo = rects[2]
        check(y + 1 < nfo[1] + nfo[3], f"NFO {nfo} and Exit {rects[3]} do not share two rows")
        main.click(x + w // 2, y)
        code = app.wait_exit()
        check(code == 0, f"Exit ended the installer with code {code}")
        no_stray_process(s)
        check_music(ctx)
    finally:
        app.kill()


def check_music(ctx):
    captured = open(ctx.session.sink, "rb").read() if os.path.exists(ctx.session.sink) else b""
    check(len(captured) >= 176400, f"only {len(captured)} bytes of PCM reached the sound device")
    expected = subprocess.run([ctx.args.cli, "play", "--raw", "--seconds", "4", ctx.args.module],
                              capture_output=True, timeout=120, check=True).stdout
    n = min(len(captured), len(expected), 2 * 176400)
    # The end of what was captured may be the device's silence after the program stopped.
    first = next((i for i in range(0, n, 2) if captured[i:i + 2] != expected[i:i + 2]), None)
    check(first is None, f"captured PCM differs from `korvane play --raw` at byte {first} of {n}")
    check(any(captured[i] not in (0, 0xFF) for i in range(0, n, 97)), "the music is silent")
    print(f"    {n} bytes of PCM equal to the renderer's, {len(captured)} captured")


def test_close_box(ctx):
    app = ctx.start("closebox")
    try:
        time.sleep(0.5)
        app.main.close_box()
        code = app.wait_exit()
        check(code == 0, f"the close box ended the installer with code {code}")
        no_stray_process(ctx.session)
    finally:
        app.kill()


# --- jobs ----------------------------------------------------------------------------------

def find_progress_window(app):
    # No caption, and larger than any message box (which can show unnamed for a moment).
    return next((w for w in app.windows() if w.id != app.main.id and w.name() == "" and min(w.size()) > 300), None)


def progress_window(app):
    return wait_for(lambda: find_progress_window(app), 15, "the progress window")


def click_frozen(app, button):
    """Clicks a main window button and stops the installer right away: the demo job takes
    well under a second, and the tests look at it while it runs, in short slices."""
    x, y, w, h = button_rects(*app.main.size())[button]
    app.main.hover(x + w // 2, y + h // 2)
    app.main.press()
    app.s.xdotool("mouseup", 1)
    app.freeze()


def volumes_opened(app):
    names = re.findall(r'trace:file:CreateFileW L"([^"]+)"', app.log_text())
    return {os.path.basename(n.replace("\\\\", "/").replace("\\", "/")).lower() for n in names}


def test_test_button(ctx):
    app = ctx.start("test", debug="trace+msgbox,trace+file")
    try:
        main = app.main
        click_frozen(app, 0)
        shots = []
        try:
            progress = app.step_until(lambda: find_progress_window(app))
            while len(shots) < 40 and not app.boxes():
                shot = progress.shot()
                if shot is None:
                    break
                shots.append(shot)
                app.thaw()
                time.sleep(0.03)
                app.freeze()
        finally:
            app.thaw()
        # The gauges and their percentages stand left of column 396 above row 270.
        gauges = (150, 0, 246, 270)
        moving = [changed_box(crop(a, gauges), crop(b, gauges)) for a, b in zip(shots, shots[1:])]
        check(any(moving), f"the gauges never moved in {len(shots)} screenshots")
        ctx.save(max(shots, key=lambda i: len(i.getcolors(1 << 16) or ())), "progress-window.png")
        text = "The file TEST has been sucessfully completed!\nYou can sucessfully install this product!"
        app.wait_box(text)
        app.answer("Korvane 98")
        wait_for(lambda: not progress.exists(), 10, "the progress window to close")
        check(main.exists(), "the main window went away with the job")
        opened = volumes_opened(app)
        volumes = {n for n in opened if re.fullmatch(r".*\.(rar|r\d\d|s\d\d)", n)}
        check(len(volumes) == ctx.args.volumes, f"{len(volumes)} volumes opened, expected {ctx.args.volumes}")
        check(len(app.boxes()) == 1, f"unexpected boxes: {app.boxes()}")
    finally:
        app.kill()


def test_one_job_at_a_time(ctx):
    app = ctx.start("onejob")
    try:
        main = app.main
        click_frozen(app, 0)
        try:
            progress = app.step_until(lambda: find_progress_window(app))
            job_size = progress.size()
            # The progress window covers the main window; moved aside, the buttons can be
            # clicked again while the job runs (input waits in the X server until the thaw).
            app.s.xdotool("windowmove", progress.id, 700, 500)
            for index in (0, 1):
                bx, by, bw, bh = button_rects(*main.size())[index]
                main.click(bx + bw // 2, by + bh // 2)
            seen = set()
            for _ in range(60):
                app.thaw()
                time.sleep(0.03)
                app.freeze()
                # A message box shows unnamed and at another size for a moment: only windows
                # of the progress window's size count.
                seen |= {(w.id, w.size()) for w in app.windows() if w.id != main.id and w.size() == job_size}
                if app.boxes():
                    break
        finally:
            app.thaw()
        check(len({i for i, _ in seen}) <= 1, f"a second progress window opened while a job ran ({seen})")
        check(not app.window_named("^Select X-Traction Destination:$"), "Install opened its dialog during a job")
        text = "The file TEST has been sucessfully completed!\nYou can sucessfully install this product!"
        app.wait_box(text)
        app.answer("Korvane 98")
        time.sleep(0.5)
        check(app.boxes() == [text], f"boxes of a second job: {app.boxes()}")
    finally:
        app.kill()


def test_cancel_destination(ctx):
    cwd = ctx.release_copy("cancel")
    app = ctx.start("cancel", cwd=cwd, debug="trace+msgbox,trace+edit")
    try:
        x, y, w, h = button_rects(*app.main.size())[1]
        app.main.click(x + w // 2, y + h // 2)
        dialog = wait_for(lambda: app.window_named("^Select X-Traction Destination:$"), 15, "the destination dialog")
        time.sleep(0.5)
        dialog.key("Escape")
        wait_for(lambda: not dialog.exists(), 10, "the dialog to close on Escape")
        time.sleep(0.5)
        check(len(app.windows()) == 1 and not app.boxes(), "cancelling the dialog started something")
        # The installer's directory is current again: the NFO file is found by its name.
        open_viewer(app)
        nfo = open(os.path.join(cwd, "korvane.nfo"), "rb").read()
        wait_for(lambda: edit_texts(app) and edit_texts(app)[-1].startswith(wine_debug_string(nfo)[:60]), 5,
                 "the NFO text after a cancelled dialog")
    finally:
        app.kill()


def damage_one_volume(directory):
    volumes = sorted(n for n in os.listdir(directory) if re.fullmatch(r".*\.r\d\d", n.lower()))
    victim = os.path.join(directory, volumes[len(volumes) // 2])
    data = bytearray(open(victim, "rb").read())
    # Past the headers, inside packed data: the entry's checksum fails.
    for offset in range(len(data) * 2 // 3, len(data) * 2 // 3 + 16):
        data[offset] ^= 0x5A
    os.remove(victim)  # it is a hard link to the real release
    open(victim, "wb").write(data)


def test_test_damaged(ctx):
    cwd = ctx.release_copy("damaged")
    damage_one_volume(cwd)
    app = ctx.start("damaged", cwd=cwd)
    try:
        x, y, w, h = button_rects(*app.main.size())[0]
        app.main.click(x + w // 2, y + h // 2)
        progress_window(app)
        app.wait_box("The file TEST has failed!")
        check("The file TEST has been sucessfully completed!\nYou can sucessfully install this product!"
              not in app.boxes(), "success reported for a damaged volume set")
        app.answer("Korvane 98")
    finally:
        app.kill()


def test_missing_volume(ctx):
    cwd = ctx.release_copy("missing")
    volumes = sorted(n for n in os.listdir(cwd) if re.fullmatch(r".*\.r\d\d", n.lower()))
    gone = volumes[len(volumes) // 2]
    os.remove(os.path.join(cwd, gone))
    app = ctx.start("missing", cwd=cwd)
    try:
        for run in (1, 2):
            # The engine stops the job itself after its own box (Abort 1); the next job must
            # start afresh and reach the same place again.
            x, y, w, h = button_rects(*app.main.size())[0]
            app.main.click(x + w // 2, y + h // 2)
            wait_for(lambda: app.boxes().count(f"Cannot find:\n{gone}") == run, 60, "the engine's box")
            app.answer("Zendril 1997")
            wait_for(lambda: app.boxes().count("The file TEST has failed!") == run, 30, "the failure box")
            app.answer("Korvane 98")
            wait_for(lambda: not find_progress_window(app), 10, "the progress window to close")
            check(app.boxes().count("The file TEST has failed!") == run, f"run {run}: boxes {app.boxes()}")
    finally:
        app.kill()


def type_destination(app, path):
    dialog = wait_for(lambda: app.window_named("^Select X-Traction Destination:$"), 15, "the destination dialog")
    time.sleep(0.5)
    w, h = dialog.size()
    # The path field sits at (8, 142), 194 x 14 dialog units in a 214 x 175 template.
    dialog.click(int(105 * w / 214), int(149 * h / 175))
    dialog.key("Home", "shift+End", "BackSpace")
    app.s.xdotool("type", "--delay", "20", path)
    time.sleep(0.3)
    dialog.key("Return")
    return dialog


def tree(root):
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(folder, name)
            found[os.path.relpath(full, root).lower()] = full
    return found


class Payload:
    """What an installation must produce: the payload's files, the empty folders and
    read-only marks that git cannot keep, and the one time every entry was packed with."""

    def __init__(self, args):
        self.root = args.payload
        self.entries = tree(self.root)
        self.readonly = set()
        self.empty_dirs = set()
        for line in open(args.attributes, encoding="utf-8"):
            kind, _, path = line.strip().partition(" ")
            if kind == "readonly":
                self.readonly.add(path.lower())
            elif kind == "emptydir":
                self.empty_dirs.add(path.lower())
        self.time = calendar.timegm(time.strptime(args.time, "%Y-%m-%d %H:%M:%S"))

    def expected_names(self):
        return set(self.entries) | self.empty_dirs

    def check_installed(self, installed, complete=True):
        got = tree(installed)
        want = self.expected_names()
        if complete:
            check(set(got) == want, f"installed tree differs: missing {sorted(want - set(got))[:5]}, "
                                    f"extra {sorted(set(got) - want)[:5]}")
        for rel, path in got.items():
            check(rel in want, f"{rel} is not in the payload")
            if rel in self.empty_dirs or os.path.isdir(self.entries[rel]):
                check(os.path.isdir(path), f"{rel} is not a directory")
                continue
            check(open(self.entries[rel], "rb").read() == open(path, "rb").read(), f"{rel} differs from the payload")
            check(abs(os.stat(path).st_mtime - self.time) < 2, f"{rel}: time {os.stat(path).st_mtime}, "
                                                               f"packed with {self.time}")
            writable = bool(os.stat(path).st_mode & 0o222)
            check(writable == (rel not in self.readonly), f"{rel}: read-only attribute not as packed")
        return got


def test_install(ctx):
    app = ctx.start("install")
    try:
        x, y, w, h = button_rects(*app.main.size())[1]
        app.main.click(x + w // 2, y + h // 2)
        type_destination(app, "C:\\korvane test\\deep\\dest")
        question = "The directory:\nC:\\korvane test\\deep\\dest\\\ndoes not exist.\nDo you wish to create it?"
        app.wait_box(question, 15)
        app.answer("Select X-Tract Directory")
        progress_window(app)
        app.wait_box("The X-Traction has been sucessfully completed!")
        app.answer("Korvane 98")
        got = Payload(ctx.args).check_installed(ctx.session.drive_c("korvane test", "deep", "dest"))
        print(f"    {len(got)} installed entries equal the payload")
    finally:
        app.kill()


def snapshot(root):
    return {rel: os.path.getsize(p) for rel, p in tree(root).items() if os.path.isfile(p)}


def test_abort(ctx):
    app = ctx.start("abort")
    dest = ctx.session.drive_c("korvane-abort")
    try:
        x, y, w, h = button_rects(*app.main.size())[1]
        app.main.click(x + w // 2, y + h // 2)
        type_destination(app, "C:\\korvane-abort")
        box = wait_for(lambda: app.window_named("^Select X-Tract Directory$"), 15, "the creation question")
        box.key("Return")
        app.freeze()
        try:
            progress = app.step_until(lambda: find_progress_window(app))
            app.step_until(lambda: os.path.isdir(dest) and snapshot(dest), 30, 0.005)
            progress.focus()
            app.s.xdotool("key", "Escape")
        finally:
            app.thaw()
        app.wait_box("Installation was aborted...", 20)
        at_box = snapshot(dest)
        time.sleep(1.5)
        check(snapshot(dest) == at_box, "files were written after the abort box appeared")
        app.answer("Korvane 1998")
        wait_for(lambda: not progress.exists(), 10, "the progress window to close")
        check(not any("X-Traction has" in b for b in app.boxes()), f"outcome box after abort: {app.boxes()}")
        got = Payload(ctx.args).check_installed(dest, complete=False)
        print(f"    aborted with {len(at_box)} complete files and no partial one ({len(got)} entries)")
    finally:
        app.kill()


def test_close_during_job(ctx):
    app = ctx.start("closejob")
    dest = ctx.session.drive_c("korvane-closed")
    try:
        x, y, w, h = button_rects(*app.main.size())[1]
        app.main.click(x + w // 2, y + h // 2)
        type_destination(app, "C:\\korvane-closed")
        box = wait_for(lambda: app.window_named("^Select X-Tract Directory$"), 15, "the creation question")
        box.key("Return")
        app.freeze()
        try:
            app.step_until(lambda: find_progress_window(app))
            app.step_until(lambda: os.path.isdir(dest) and snapshot(dest), 30, 0.005)
            app.main.close_box()
        finally:
            app.thaw()
        code = app.wait_exit()
        check(code == 0, f"closing during a job ended the installer with code {code}")
        check(not any("X-Traction" in b for b in app.boxes()), f"outcome box while closing: {app.boxes()}")
        no_stray_process(ctx.session)
        got = Payload(ctx.args).check_installed(dest, complete=False)
        print(f"    closed mid-job, {len(got)} entries left, none partial")
    finally:
        app.kill()


# --- NFO viewer ----------------------------------------------------------------------------

def wine_debug_string(data):
    """How Wine's debug log writes the text the viewer shows for these DOS (code page 437) bytes."""
    out = []
    for ch in data.decode("cp437"):
        special = {"\n": "\\n", "\r": "\\r", "\t": "\\t", "\\": "\\\\", '"': '\\"'}
        if ch in special:
            out.append(special[ch])
        elif " " <= ch < "\x7f":
            out.append(ch)
        else:
            out.append("\\%04x" % ord(ch))
    return "".join(out)


def edit_texts(app):
    return re.findall(r'trace:edit:EDIT_WM_SetText L"(.*)"', app.log_text())


def open_viewer(app):
    x, y, w, h = button_rects(*app.main.size())[2]
    app.main.click(x + w // 2, y + h // 2 - 4)
    return wait_for(lambda: app.window_named("^Korvane 1998 --NFO--$"), 10, "the NFO viewer")


def close_viewer(app, viewer):
    """File > Return To Installer..., through the menu bar."""
    for _ in range(3):
        viewer.click(14, 10)
        menu = None
        try:
            menu = wait_for(lambda: next((w for w in app.windows() if w.name() == "" and w.size()[1] < 60), None),
                            3, "the File menu")
        except Failure:
            continue
        menu.click(menu.size()[0] // 2, menu.size()[1] // 2)
        try:
            wait_for(lambda: not viewer.exists(), 3, "the viewer to close")
            return
        except Failure:
            continue
    raise Failure("the menu command did not close the viewer")


def test_nfo_viewer(ctx):
    cwd = ctx.release_copy("nfo")
    nfo = open(os.path.join(cwd, "korvane.nfo"), "rb").read()
    app = ctx.start("nfo", cwd=cwd, debug="trace+msgbox,trace+edit")
    try:
        viewer = open_viewer(app)
        time.sleep(0.8)
        texts = edit_texts(app)
        check(texts, "the viewer's text was never set")
        expected = wine_debug_string(nfo)[:60]
        check(texts[-1].startswith(expected), f"viewer text starts {texts[-1][:60]!r}, file gives {expected!r}")
        scroll = re.findall(r"EDIT_UpdateScrollInfo SB_VERT, .*nPos=(\d+)", app.log_text())
        check(scroll and scroll[-1] == "0", "the text does not show from its first line")
        shot = viewer.shot()
        ctx.save(shot, "nfo-viewer.png")
        viewer.key("Escape")
        time.sleep(0.6)
        check(viewer.exists(), "Escape closed the viewer")
        close_viewer(app, viewer)
        check(app.main.exists(), "the main window closed with the viewer")

        os.remove(os.path.join(cwd, "korvane.nfo"))
        viewer = open_viewer(app)
        wait_for(lambda: edit_texts(app) and edit_texts(app)[-1] == "You are missing the KORVANE.NFO file!", 5,
                 "the missing-file text")
        close_viewer(app, viewer)
    finally:
        app.kill()


# --- twice the size ------------------------------------------------------------------------

def test_double_size(ctx):
    app = ctx.start("resize")
    try:
        main = app.main
        w1, h1 = main.size()
        small = button_rects(w1, h1)
        # Wine settles its window's geometry during the first second and undoes an earlier
        # resize from outside; the resize is repeated until it holds.
        for _ in range(5):
            time.sleep(1.0)
            main.resize(2 * w1, 2 * h1)
            try:
                wait_for(lambda: main.size() == (2 * w1, 2 * h1), 3, "the window to take twice its size")
                break
            except Failure:
                continue
        check(main.size() == (2 * w1, 2 * h1), f"the window is {main.size()}, not twice {(w1, h1)}")
        wait_for(lambda: (main.shot() or Image.new("RGB", (1, 1))).size == (2 * w1, 2 * h1), 10,
                 "a screenshot at twice the size")
        time.sleep(1.0)
        big = button_rects(2 * w1, 2 * h1)
        for a, b in zip(small, big):
            check(all(abs(2 * p - q) <= 1 for p, q in zip(a, b)), f"rectangle {b} is not twice {a}")
        park(main)
        time.sleep(0.3)
        base = main.shot()
        for i, rect in enumerate(big):
            x, y, w, h = rect
            # Lower right quarter: outside the rectangle of the original size.
            main.hover(x + 3 * w // 4, y + 3 * h // 4)
            box = changed_box(base, main.shot())
            check(box and inside(box, rect) and box[2] > w // 2 and box[3] > h // 2,
                  f"{BUTTON_NAMES[i]}: hover at twice the size drew {box}, expected about {rect}")
            park(main)
        ctx.artifact(base, "main-window-double.png")
        x, y, w, h = big[3]
        main.click(x + 3 * w // 4, y + 3 * h // 4)
        check(app.wait_exit() == 0, "Exit at twice the size did not end the installer")
    finally:
        app.kill()


TESTS = [test_startup_buttons_music_exit, test_close_box, test_test_button, test_one_job_at_a_time, test_test_damaged,
         test_missing_volume,
         test_install, test_cancel_destination, test_abort, test_close_during_job, test_nfo_viewer, test_double_size]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--release", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--attributes", required=True)
    parser.add_argument("--time", required=True, help="time every entry was packed with (local = UTC here)")
    parser.add_argument("--cli", required=True)
    parser.add_argument("--caption", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--main-picture", required=True)
    parser.add_argument("--volumes", type=int, required=True)
    parser.add_argument("--screenshots")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("tests", nargs="*")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="korvane-gui-")
    os.makedirs(os.path.join(work, "artifacts"))
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
        if not args.keep and not failed:
            shutil.rmtree(work, ignore_errors=True)
        elif failed:
            print(f"logs and screenshots kept in {work}")
    print(f"{len(failed)} failed, {time.monotonic() - started:.1f}s in all")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
