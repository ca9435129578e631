#!/usr/bin/env python3
"""Smoke test of the real Corvane program on an X server (Xvfb, Qt's xcb platform): it starts,
its main window maps, Load goes through the real file, version and backup-set dialogs by the
keyboard, the recovery progress dialog follows the scan, the object tree is filled, and Exit
ends the process. Pictures of every step go to the screenshot folder.

Usage: xvfb_smoke.py PROGRAM BACKUP.bak SCREENSHOT_DIR
BACKUP is a Northwind backup written by SQL Server 2008 whose first set is to be recovered.
The whole run is by the keyboard, on a 1024x700 screen, at scale factors 1 and 2.
Exit status 0 passed, 1 failed, 77 skipped (no backup file, or no xvfb-run, xdotool or xwd).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xwdimage  # noqa: E402

SKIP = 77
MAIN_TITLE = "Tarnwell Brackmoor - v4.10"
# Sanitizer builds start and scan several times slower than a normal build.
MAP_TIMEOUT = 60
SCAN_TIMEOUT = 180
EXIT_TIMEOUT = 15
# The tree's rows on the main window (at scale factor 1), left of where any centred dialog can
# reach, and below the toolbar (whose Export button changes when a scan completes).
TREE_REGION = (0, 150, 190, 500)
TREE_CHANGED_PIXELS = 100
# The screen the program meets, a small laptop's, and the scale factors it is run at there.
SCREEN = "1024x700x24"
SCALES = (1, 2)


class Failure(Exception):
    pass


def tool(*args, timeout=30, check=True):
    done = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise Failure("%s failed: %s" % (" ".join(args), done.stderr.strip()))
    return done.stdout


class Smoke:
    def __init__(self, program, backup, shots, work, scale):
        self.scale = scale
        x0, y0, x1, y1 = TREE_REGION
        self.tree_region = (x0, y0 * scale, x1 * scale, min(y1 * scale, 680))
        self.program = program
        self.backup = backup
        self.shots = shots
        self.work = work
        self.process = None
        self.step = 0

    # ---- windows

    def visible(self, pattern):
        out = tool("xdotool", "search", "--onlyvisible", "--name", pattern, check=False)
        return [w for w in out.split() if w.isdigit()]

    def wait_window(self, pattern, what, timeout=MAP_TIMEOUT, exclude=()):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.check_running(what)
            found = [w for w in self.visible(pattern) if w not in exclude]
            if found:
                # Qt maps the window before its first paint and before it takes the focus.
                time.sleep(0.5)
                tool("xdotool", "windowfocus", "--sync", found[0])
                return found[0]
            time.sleep(0.2)
        raise Failure("%s did not appear within %d s" % (what, timeout))

    def wait_gone(self, window, what, timeout=MAP_TIMEOUT):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.check_running(what)
            if window not in self.visible("."):
                return
            time.sleep(0.2)
        raise Failure("%s did not close within %d s" % (what, timeout))

    def keys(self, *names):
        tool("xdotool", "key", "--clearmodifiers", "--delay", "60", *names)

    def check_running(self, what):
        if self.process.poll() is not None:
            raise Failure("Corvane ended (status %d) while waiting for %s" % (self.process.returncode, what))

    # ---- pictures

    def window_picture(self, window):
        data = subprocess.run(["xwd", "-id", window, "-silent"], capture_output=True, timeout=30).stdout
        return xwdimage.read_xwd(data)

    def screen_picture(self):
        # A dump of the root window shows Qt's dialogs black on Xvfb, while a dump of the
        # dialog itself holds its picture: every visible window is dumped by itself and laid
        # over the root, bottom-most first (xwininfo lists the top-most first).
        data = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, timeout=30).stdout
        screen = xwdimage.read_xwd(data)
        visible = set(self.visible("."))
        tree = tool("xwininfo", "-root", "-children")
        right = bottom = 1
        for line in reversed(tree.splitlines()):
            m = re.match(r"\s+(0x[0-9a-f]+) .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)\s*$", line)
            if not m or str(int(m.group(1), 16)) not in visible:
                continue
            try:
                picture = self.window_picture(str(int(m.group(1), 16)))
            except (ValueError, subprocess.SubprocessError):
                continue
            left, top = int(m.group(6)), int(m.group(7))
            screen = xwdimage.paste(screen, picture, left, top)
            right = max(right, left + picture.width)
            bottom = max(bottom, top + picture.height)
        # Only the part of the screen the program's windows cover.
        return xwdimage.crop(screen, 0, 0, right, bottom)

    def shot(self, name):
        self.step += 1
        path = os.path.join(self.shots, "xvfb-smoke-x%d-%d-%s.png" % (self.scale, self.step, name))
        xwdimage.write_png(self.screen_picture(), path)
        return path

    # ---- the run

    def start(self):
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "HOME": self.work,
            "XDG_CONFIG_HOME": os.path.join(self.work, "config"),
            "XDG_CACHE_HOME": os.path.join(self.work, "cache"),
            "XDG_STATE_HOME": os.path.join(self.work, "state"),
            "XDG_RUNTIME_DIR": os.path.join(self.work, "runtime"),
            "QT_SCALE_FACTOR": str(self.scale),
        })
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        env.pop("QT_QPA_PLATFORMTHEME", None)  # Qt's own file dialog, which xdotool can type into
        self.output = open(os.path.join(self.work, "corvane.out"), "w+")
        self.process = subprocess.Popen([self.program], env=env, cwd=self.work, stdout=self.output,
                                        stderr=subprocess.STDOUT)

    def run(self):
        self.start()
        main = self.wait_window("^%s$" % re.escape(MAIN_TITLE), "the main window")
        # The splash screen closes by itself; the main window is pictured once it is alone.
        end = time.monotonic() + MAP_TIMEOUT
        while set(self.visible(".")) - {main} and time.monotonic() < end:
            time.sleep(0.2)
        tool("xdotool", "windowfocus", "--sync", main)
        self.shot("main-window")
        before = self.window_picture(main)

        # Load by its key, the path typed into the file dialog.
        self.keys("ctrl+o")
        chooser = self.wait_window("^Open$", "the file dialog")
        tool("xdotool", "type", "--delay", "5", self.backup)
        self.shot("file-dialog")
        self.keys("Return")
        self.wait_gone(chooser, "the file dialog")

        # The version dialog opens on the version the file says; the set dialog on its first set.
        version = self.wait_window("^Tarnwell Brackmoor$", "the version dialog")
        self.shot("version-dialog")
        self.keys("Return")
        self.wait_gone(version, "the version dialog")

        sets = self.wait_window("^Brackmoor$", "the backup-set dialog")
        self.shot("set-dialog")
        self.keys("Return")
        self.wait_gone(sets, "the backup-set dialog")

        progress = self.wait_window("^Tarnwell Brackmoor$", "the recovery progress dialog", exclude={version})
        end = time.monotonic() + SCAN_TIMEOUT
        changed = 0
        while time.monotonic() < end:
            self.check_running("the object tree")
            changed = xwdimage.changed_pixels(before, self.window_picture(main), *self.tree_region)
            if changed >= TREE_CHANGED_PIXELS:
                break
            time.sleep(0.5)
        else:
            raise Failure("the object tree did not change within %d s (%d pixels)" % (SCAN_TIMEOUT, changed))
        time.sleep(1)  # the dialog's counts and its Close caption follow the tree
        self.shot("progress-dialog")
        tool("xdotool", "windowfocus", "--sync", progress)
        self.keys("Return")  # Close once the recovery is complete
        self.wait_gone(progress, "the recovery progress dialog")
        tool("xdotool", "windowfocus", "--sync", main)
        time.sleep(0.5)
        tree = self.shot("object-tree")
        changed = xwdimage.changed_pixels(before, self.window_picture(main), *self.tree_region)
        if changed < TREE_CHANGED_PIXELS:
            raise Failure("the object tree went back to its empty state after the dialog closed")
        print("object tree filled: %d pixels of its rows changed; picture %s" % (changed, tree))

        # The tree has the keys once the recovery is over: to the Tables folder, open it, and
        # choose Orders by typing its name; its first page of rows comes.
        self.keys("Home", "Down", "Down", "Right")
        time.sleep(0.3)
        tool("xdotool", "type", "--delay", "40", "dbo.Orders")
        time.sleep(2)
        first_page = self.window_picture(main)
        self.shot("orders-page-1")
        # Tab to the record list, Page Down to the second page.
        self.keys("Tab")
        time.sleep(0.3)
        self.keys("Next")
        time.sleep(2)
        second = self.shot("orders-page-2")
        turned = xwdimage.changed_pixels(first_page, self.window_picture(main), *self.list_region(first_page))
        if turned < TREE_CHANGED_PIXELS:
            raise Failure("Page Down in the record list did not turn the page (%d pixels changed)" % turned)
        print("Page Down turned the page: %d pixels of the list changed; picture %s" % (turned, second))

        # Exit by its key, and its confirmation.
        self.keys("ctrl+q")
        self.wait_window("^Tarnwell Brackmoor$", "the close question")
        self.shot("close-question")
        self.keys("alt+y")
        try:
            status = self.process.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure("Corvane still runs %d s after Exit was confirmed" % EXIT_TIMEOUT)
        if status != 0:
            raise Failure("Corvane ended with status %d" % status)

    def list_region(self, picture):
        # The right side of the window, below the toolbar and above the paging row.
        s = self.scale
        return (int(300 * s), int(170 * s), picture.width - 10, picture.height - int(60 * s))

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if getattr(self, "output", None):
            self.output.seek(0)
            text = self.output.read()
            if text.strip():
                print("---- Corvane's output\n" + text.rstrip())
            self.output.close()


def inside(program, backup, shots):
    for scale in SCALES:
        status = inside_at(program, backup, shots, scale)
        if status != 0:
            return status
    print("smoke test passed at scale factors %s; pictures in %s" % (", ".join(map(str, SCALES)), shots))
    return 0


def inside_at(program, backup, shots, scale):
    work = tempfile.mkdtemp(prefix="corvane-smoke-")
    smoke = Smoke(program, backup, shots, work, scale)
    try:
        smoke.run()
        print("scale factor %d passed" % scale)
        return 0
    except (Failure, subprocess.SubprocessError) as e:
        print("FAILED: %s" % e)
        try:
            print("picture of the failure: %s" % smoke.shot("failed"))
        except (Failure, ValueError, subprocess.SubprocessError) as shot_error:
            print("no picture of the failure: %s" % shot_error)
        return 1
    finally:
        smoke.close()
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    if len(argv) >= 2 and argv[1] == "--inside":
        return inside(*argv[2:5])
    if len(argv) != 4:
        print(__doc__)
        return 2
    program, backup, shots = argv[1:4]
    if not os.path.isfile(backup):
        print("skipped: backup %s not found" % backup)
        return SKIP
    missing = [t for t in ("xvfb-run", "xdotool", "xwd", "xwininfo") if not shutil.which(t)]
    if missing:
        print("skipped: %s not installed (scripts/install-deps.sh installs them)" % ", ".join(missing))
        return SKIP
    os.makedirs(shots, exist_ok=True)
    command = ["xvfb-run", "-a", "-s", "-screen 0 %s -nolisten tcp" % SCREEN,
               sys.executable, os.path.abspath(__file__), "--inside", os.path.abspath(program), os.path.abspath(backup),
               os.path.abspath(shots)]
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
