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
import sys
import time

from screens import SETTINGS_CAPTION, Screens, run_driver
from desktop import run

A = (0, 0, 1920, 1080)
B = (1920, 0, 1280, 1024)


class TwoScreens(Screens):
    def move_settings(self, wid, x, y):
        d = self.desktop
        run(["xdotool", "windowmove", "--sync", str(wid), str(x), str(y)], check=True)
        self.require(d.poll(lambda: (lambda g: g and g[0] >= x and g[1] >= y)(
            d.client_geometry(wid))), f"the settings window is moved to {x},{y}",
            f"client {d.client_geometry(wid)}")
        self.require(d.activate(wid), "the settings window is active again")

    def maximize_on(self, wid, monitor, name):
        """Through the window manager, as a practitioner drags it: no longer maximized,
        moved onto the monitor, maximized there."""
        d = self.desktop
        d.unmaximize(wid)
        time.sleep(0.5)
        d.place(wid, monitor[0] + 100, monitor[1] + 100, 800, 600)
        d.poll(lambda: (lambda g: g and g[2:] == (800, 600))(d.client_geometry(wid)))
        d.maximize(wid)
        self.require(d.covers(wid, monitor), f"the window manager maximizes the window "
                     f"on {name}", f"outer {d.frame_geometry(wid)}")

    def on_track(self, label, stim, monitor):
        self.desktop.rest_pointer(monitor)
        self.check_on_track(label, stim)

    def run(self):
        d = self.desktop
        settings = self.open_settings()
        pid = self.program.pid

        # The settings window on B: the run opens there.
        self.move_settings(settings, B[0] + 300, B[1] + 200)
        stim = self.start_stimulation()
        self.require(d.covers(stim, B), "the stimulation window opens maximized on B, the "
                     "monitor of the settings window", f"outer {d.frame_geometry(stim)}")
        self.on_track("opened on B", stim, B)

        # Back to the settings, which the practitioner moves to A: Continue keeps the
        # stimulation window on B, where it stands.
        d.key("Escape")
        x, y, w, h = d.frame_geometry(stim)
        cx, cy, _, _ = d.client_geometry(stim)
        # "Show Settings Screen": centred, its top 2.5 button heights above the bottom edge.
        d.click(cx + w // 2, cy + h - 66)
        self.require(d.poll(lambda: d.window_named(pid, SETTINGS_CAPTION) == settings),
                     "Show Settings Screen shows the settings window again")
        self.move_settings(settings, A[0] + 300, A[1] + 200)
        d.key("Return")
        self.require(d.poll(lambda: d.window_named(pid, SETTINGS_CAPTION) is None),
                     "Continue hides the settings window")
        self.check(d.covers(stim, B), "after a Continue from A the stimulation window is "
                   "still maximized on B", f"outer {d.frame_geometry(stim)}")
        self.on_track("second run, still on B", stim, B)

        # Moved to A: the track follows.
        self.maximize_on(stim, A, "A")
        self.on_track("moved to A", stim, A)

        # Back on B, which is then unplugged: the window comes to A and the track with it.
        self.maximize_on(stim, B, "B")
        self.on_track("back on B", stim, B)
        run(["xrandr", "--delmonitor", "B"], check=True)
        self.require(d.covers(stim, A), "with B unplugged the window is maximized on A",
                     f"outer {d.frame_geometry(stim)}")
        time.sleep(0.5)
        self.require(self.program.status() is None, "the program runs on after B is unplugged",
                     f"status {self.program.status()}")
        self.on_track("B unplugged", stim, A)
        self.check_close(stim)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--failure-shots")
    args = parser.parse_args()
    args.label = "two monitors"
    args.scale = 1
    return run_driver(TwoScreens, args)


if __name__ == "__main__":
    sys.exit(main())
