#!/usr/bin/env python3
"""The program on one screen of an X server that run_screens.sh has started: from the title
to a running stimulation by real key presses, the face followed on screenshots, the window
then made smaller through the window manager, and closed.

    screens.py --program PATH --label NAME [--scale FACTOR] [--failure-shots FOLDER]

Exit status 0 when every check passed, 1 otherwise.
"""

import argparse
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from desktop import (Abort, Desktop, FaceModel, Program, SETTINGS_CAPTION,  # noqa: E402
                     STIMULATION_CAPTION, TITLE_CAPTION, sample)

WAIT = 15


# ------------------------------------------------------------------------------------------
# The checks


class Screens:
    platform = "xcb"  # the toolkit's platform the program is started on (None: its own choice)

    def __init__(self, args):
        self.args = args
        self.scale = args.scale
        self.failures = 0
        self.program = None
        self.last_shot = None
        self.desktop = Desktop(WAIT)
        self.face = FaceModel(os.path.join(os.path.dirname(args.program), "Pictures",
                                           "Face.ico"), self.scale)

    def check(self, ok, what, detail=""):
        print(("ok   - " if ok else "FAIL - ") + f"[{self.args.label}] {what}"
              + ("" if ok or not detail else f": {detail}"), flush=True)
        if not ok:
            self.failures += 1
            self.keep_shot(what)
        return ok

    def require(self, ok, what, detail=""):
        if not self.check(ok, what, detail):
            raise Abort(what)

    def keep_shot(self, what):
        if not self.last_shot or not self.args.failure_shots:
            return
        name = re.sub(r"[^A-Za-z0-9]+", "-", f"{self.args.label}-{what}")[:80] + ".png"
        self.last_shot.save_png(os.path.join(self.args.failure_shots, name))

    def shot(self):
        self.last_shot = self.desktop.shot()
        return self.last_shot

    def face_box(self):
        """The yellow box of one face on the whole screen, or None (with the reason): a shot
        that caught a repaint half-way has no face, or more yellow than one face."""
        box = self.shot().yellow_box()
        if box is None:
            return None, "no face on the screen"
        if box[0] > self.face.count * 1.3 + 10:
            return None, f"{box[0]} yellow pixels, more than one face"
        return box, None

    def check_on_track(self, label, wid):
        """The face moves along the horizontal track of the window as it is now: its top at
        the middle of the window's outer height less the picture's, its left between the
        start end and the far end, every yellow pixel inside the client area."""
        cx, cy, cw, ch = self.desktop.client_geometry(wid)
        left, right, top, bottom = self.desktop.frame_extents(wid) or (0, 0, 0, 0)
        outer_w, outer_h = cw + left + right, ch + top + bottom
        size = self.face.width
        found, problems = sample(self.face_box, 8, (0.05, 0.35))
        self.require(len(found) >= 8, f"{label}: the face is seen in every screenshot",
                     f"{len(found)} of 8: {problems[-3:]}")
        corners = [(b[1] - self.face.dx, b[2] - self.face.dy) for b in found]
        expected_top = cy + (outer_h - size) / 2
        tops = [c[1] for c in corners]
        self.check(all(abs(t - expected_top) <= 3 for t in tops),
                   f"{label}: the face keeps to the track, its top at y = {expected_top:.0f}",
                   f"tops {tops}")
        lefts = [c[0] for c in corners]
        far = cx + outer_w - size
        self.check(all(cx - 2 <= x <= far + 2 for x in lefts),
                   f"{label}: the face stays between the ends of the track ({cx} .. {far})",
                   f"lefts {lefts}")
        inside = all(cx <= b[1] and b[3] < cx + cw and cy <= b[2] and b[4] < cy + ch
                     for b in found)
        self.check(inside, f"{label}: the face is inside the window ({cw}x{ch} at {cx},{cy})",
                   f"boxes {[b[1:] for b in found]}")
        spread = max(lefts) - min(lefts)
        self.check(spread >= min(100, cw // 4), f"{label}: the face moves",
                   f"lefts {lefts}")

    # The steps both drivers take -------------------------------------------------------

    def open_settings(self):
        """The program started, its title window shown, Continue by Enter: the settings
        window's id."""
        env = {"QT_SCALE_FACTOR": str(self.scale)} if self.scale != 1 else {}
        self.program = Program(self.args.program, self.args.work, env, self.platform)
        d = self.desktop
        title = d.poll(lambda: d.window_named(self.program.pid, TITLE_CAPTION))
        self.require(title, "the title window is shown")
        d.wait_active(title)
        d.key("Return")
        settings = d.poll(lambda: d.window_named(self.program.pid, SETTINGS_CAPTION))
        self.require(settings, "Continue leads to the settings window")
        d.wait_active(settings)
        return settings

    def start_stimulation(self):
        """Enter on the settings window: the stimulation window's id."""
        d = self.desktop
        d.key("Return")
        stim = d.poll(lambda: d.window_named(self.program.pid, STIMULATION_CAPTION))
        self.require(stim, "Enter on the settings window starts the stimulation")
        return stim

    def check_close(self, stim):
        """Nothing went wrong on the way, and a close request ends the program."""
        errors = self.program.problems()
        self.check(not errors, "nothing went wrong in the program (no failed tick, no "
                   "file not found)", "; ".join(errors))
        self.desktop.close(stim)
        status = self.program.wait(10)
        self.check(status == 0, "closing the stimulation window ends the program with "
                   "status 0", f"status {status}")

    def finish(self):
        if self.program:
            self.program.stop()

    # The steps of this driver ----------------------------------------------------------

    def run(self):
        self.open_settings()
        stim = self.start_stimulation()
        d = self.desktop
        screen = (0, 0, self.shot().width, self.last_shot.height)
        self.require(d.covers(stim, screen), f"the stimulation window covers the "
                     f"{screen[2]}x{screen[3]} screen", f"client {d.client_geometry(stim)}")
        d.rest_pointer(screen)
        self.check_on_track("full screen", stim)

        # Smaller, through the window manager: the picture moves to the new track.
        d.unmaximize(stim)
        time.sleep(0.5)
        d.place(stim, 100, 100, 800, 600)
        resized = d.poll(lambda: (lambda g: g if g and g[2:] == (800, 600) else None)(
            d.client_geometry(stim)))
        self.require(resized, "the window manager makes the window 800x600",
                     f"client {d.client_geometry(stim)}")
        time.sleep(0.5)
        self.check_on_track("800x600 at 100,100", stim)
        self.check_close(stim)


def run_driver(driver, args):
    """Runs the driver's checks; the exit status of the script."""
    screens = driver(args)
    try:
        screens.run()
    except Abort as abort:
        print(f"[{args.label}] stopped: {abort}")
        screens.failures = max(screens.failures, 1)
    finally:
        screens.finish()
    return 0 if screens.failures == 0 else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--label", required=True)
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--work", required=True)
    parser.add_argument("--failure-shots")
    args = parser.parse_args()
    return run_driver(Screens, args)


if __name__ == "__main__":
    sys.exit(main())
