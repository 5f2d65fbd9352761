#!/usr/bin/env python3
"""The program on an X screen split into two monitors, as run_two_screens.sh sets it up: A,
1920x1080 at the left, and B, 1280x1024 at its right. The practitioner moves the settings
window to B and starts the run; the stimulation window must open maximized on B with the face
on B's track, stay there when a later Continue comes from A, follow to A when moved there, and
come back to A with its track when B is unplugged.

    two_screens.py --program PATH --work FOLDER [--failure-shots FOLDER]

Exit status 0 when every check passed, 1 otherwise.
"""

import argparse
import os
import subprocess
import sys
import time

from screens import (Abort, Screens, SETTINGS, STIMULATION, TITLE, active_window,
                     client_geometry, frame_extents, key, poll, run, window_named)

A = (0, 0, 1920, 1080)
B = (1920, 0, 1280, 1024)


def outer_geometry(wid):
    """(x, y, width, height) of the window with the window manager's frame."""
    g = client_geometry(wid)
    if not g:
        return None
    left, right, top, bottom = frame_extents(wid)
    return g[0] - left, g[1] - top, g[2] + left + right, g[3] + top + bottom


class TwoScreens(Screens):
    def covers(self, wid, monitor):
        return poll(lambda: outer_geometry(wid) == monitor)

    def activate(self, wid):
        run(["xdotool", "windowactivate", "--sync", wid])
        return poll(lambda: active_window() == wid)

    def move_settings(self, wid, x, y):
        run(["xdotool", "windowmove", "--sync", wid, str(x), str(y)], check=True)
        self.require(poll(lambda: (lambda g: g and g[0] >= x and g[1] >= y)(
            client_geometry(wid))), f"the settings window is moved to {x},{y}",
            f"client {client_geometry(wid)}")
        self.require(self.activate(wid), "the settings window is active again")

    def maximize_on(self, wid, monitor, name):
        """Through the window manager, as a practitioner drags it: no longer maximized,
        moved onto the monitor, maximized there."""
        run(["wmctrl", "-i", "-r", wid, "-b", "remove,maximized_vert,maximized_horz"],
            check=True)
        time.sleep(0.5)
        run(["wmctrl", "-i", "-r", wid, "-e",
             f"0,{monitor[0] + 100},{monitor[1] + 100},800,600"], check=True)
        poll(lambda: (lambda g: g and g[2:] == (800, 600))(client_geometry(wid)))
        run(["wmctrl", "-i", "-r", wid, "-b", "add,maximized_vert,maximized_horz"],
            check=True)
        self.require(self.covers(wid, monitor), f"the window manager maximizes the window "
                     f"on {name}", f"outer {outer_geometry(wid)}")

    def rest_pointer(self, monitor):
        """Where no button and no track is: near the right edge, a quarter down."""
        run(["xdotool", "mousemove", str(monitor[0] + monitor[2] - 5),
             str(monitor[1] + monitor[3] // 4)])

    def run(self):
        env = dict(os.environ, SDL_AUDIODRIVER="dummy", QT_QPA_PLATFORM="xcb")
        self.stderr = open(os.path.join(self.args.work, "program.err"), "w+")
        self.process = subprocess.Popen([self.args.program], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)
        pid = self.process.pid

        title = poll(lambda: window_named(pid, TITLE))
        self.require(title, "the title window is shown")
        poll(lambda: active_window() == title)
        key("Return")
        settings = poll(lambda: window_named(pid, SETTINGS))
        self.require(settings, "Continue leads to the settings window")
        poll(lambda: active_window() == settings)

        # The settings window on B: the run opens there.
        self.move_settings(settings, B[0] + 300, B[1] + 200)
        key("Return")
        stim = poll(lambda: window_named(pid, STIMULATION))
        self.require(stim, "Enter on the settings window starts the stimulation")
        self.require(self.covers(stim, B), "the stimulation window opens maximized on B, the "
                     "monitor of the settings window", f"outer {outer_geometry(stim)}")
        self.rest_pointer(B)
        self.check_on_track("opened on B", stim)

        # Back to the settings, which the practitioner moves to A: Continue keeps the
        # stimulation window on B, where it stands.
        key("Escape")
        x, y, w, h = outer_geometry(stim)
        cx, cy, _, _ = client_geometry(stim)
        # "Show Settings Screen": centred, its top 2.5 button heights above the bottom edge.
        run(["xdotool", "mousemove", "--sync", str(cx + w // 2), str(cy + h - 66), "click", "1"])
        self.require(poll(lambda: window_named(pid, SETTINGS) == settings),
                     "Show Settings Screen shows the settings window again")
        self.move_settings(settings, A[0] + 300, A[1] + 200)
        key("Return")
        self.require(poll(lambda: window_named(pid, SETTINGS) is None),
                     "Continue hides the settings window")
        self.check(self.covers(stim, B), "after a Continue from A the stimulation window is "
                   "still maximized on B", f"outer {outer_geometry(stim)}")
        self.rest_pointer(B)
        self.check_on_track("second run, still on B", stim)

        # Moved to A: the track follows.
        self.maximize_on(stim, A, "A")
        self.rest_pointer(A)
        self.check_on_track("moved to A", stim)

        # Back on B, which is then unplugged: the window comes to A and the track with it.
        self.maximize_on(stim, B, "B")
        self.rest_pointer(B)
        self.check_on_track("back on B", stim)
        run(["xrandr", "--delmonitor", "B"], check=True)
        self.require(self.covers(stim, A), "with B unplugged the window is maximized on A",
                     f"outer {outer_geometry(stim)}")
        time.sleep(0.5)
        self.require(self.process.poll() is None, "the program runs on after B is unplugged",
                     f"status {self.process.poll()}")
        self.rest_pointer(A)
        self.check_on_track("B unplugged", stim)

        errors = self.read_errors()
        self.check(not errors, "nothing went wrong in the program (no failed tick, no "
                   "file not found)", "; ".join(errors))
        run(["wmctrl", "-i", "-c", stim], check=True)
        try:
            status = self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            status = None
        self.check(status == 0, "closing the stimulation window ends the program with "
                   "status 0", f"status {status}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--failure-shots")
    args = parser.parse_args()
    args.label = "two monitors"
    args.scale = 1
    screens = TwoScreens(args)
    try:
        screens.run()
    except Abort as abort:
        print(f"[{args.label}] stopped: {abort}")
        screens.failures = max(screens.failures, 1)
    finally:
        screens.finish()
    return 0 if screens.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
