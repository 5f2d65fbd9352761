#!/usr/bin/env python3
"""The program on a Wayland compositor with two outputs, as run_two_outputs.sh sets it up: A,
1920x1080 at the left, and B, 1280x1024 at its right. The practitioner moves the settings
window to B and starts the run: the stimulation window must open on B, filling it, with the
face on B's track; stay on B when a later Continue comes from A; and follow to A with its
track when moved there. (sway 1.7 leaves a headless output on when told to switch it off: the
unplugging of a screen is checked on X alone, by two_screens.py.) A Wayland client cannot place its windows:
the compositor opens them where the practitioner works, and the program's part is to take the
screen of the settings window as its own before the stimulation window is shown.

    two_outputs.py --program PATH --work FOLDER [--xwayland] [--failure-shots FOLDER]

Exit status 0 when every check passed, 1 otherwise.
"""

import argparse
import sys
import time

from screens import SETTINGS_CAPTION, Screens, run_driver
from desktop import WaylandDesktop, run

A = ("HEADLESS-1", (0, 0, 1920, 1080))
B = ("HEADLESS-2", (1920, 0, 1280, 1024))


class TwoOutputs(Screens):
    def __init__(self, args):
        super().__init__(args)
        self.desktop = WaylandDesktop(self.desktop.wait)
        self.platform = "xcb" if args.xwayland else None

    def to_output(self, wid, output, what):
        """Through the compositor, as a practitioner drags a window: moved to the output and
        given the focus there."""
        d = self.desktop
        d.move_to_output(wid, output[0])
        self.require(d.poll(lambda: d.output_of(wid) == output[0]),
                     f"{what} is moved to {output[0]}", f"on {d.output_of(wid)}")
        self.require(d.activate(wid), f"{what} has the focus on {output[0]}")

    def fills(self, wid, output, what):
        d = self.desktop
        self.require(d.poll(lambda: d.output_of(wid) == output[0]
                            and d.client_geometry(wid) == output[1]),
                     f"{what} on {output[0]}, filling it", f"on {d.output_of(wid)}, client "
                     f"{d.client_geometry(wid)}")
        # The compositor's tree has the new size before the program has drawn at it.
        time.sleep(0.5)

    def run(self):
        d = self.desktop
        settings = self.open_settings()
        pid = self.program.pid
        shell = d.view(settings).get("shell")
        self.check(shell == ("xwayland" if self.args.xwayland else "xdg_shell"),
                   "the program's platform: " + ("X, as started" if self.args.xwayland else
                                                 "Wayland, its own choice with X at hand too"),
                   f"shell {shell}")

        self.to_output(settings, B, "the settings window")
        stim = self.start_stimulation()
        self.fills(stim, B, "the stimulation window opens")
        self.check_on_track("opened on B", stim)

        # Back to the settings (from Resume, Tab reaches Show Settings Screen), which the
        # practitioner moves to A: Continue leaves the stimulation window on B.
        for key in ("Escape", "Tab", "space"):
            d.key(key)
        self.require(d.poll(lambda: d.window_named(pid, SETTINGS_CAPTION) is not None),
                     "Show Settings Screen shows the settings window again")
        settings = d.window_named(pid, SETTINGS_CAPTION)
        self.to_output(settings, A, "the settings window")
        d.key("Return")
        self.require(d.poll(lambda: d.window_named(pid, SETTINGS_CAPTION) is None),
                     "Continue hides the settings window")
        self.fills(stim, B, "after a Continue from A the stimulation window is still")
        self.check_on_track("second run, still on B", stim)

        self.to_output(stim, A, "the stimulation window")
        self.fills(stim, A, "the stimulation window is")
        self.check_on_track("moved to A", stim)

        self.check_close(stim)
        errors = self.program.errors()
        self.check(errors == "", "the program wrote nothing on standard error",
                   errors.strip().replace("\n", " | ")[:2000])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--xwayland", action="store_true")
    parser.add_argument("--failure-shots")
    args = parser.parse_args()
    args.label = "two outputs, " + ("XWayland" if args.xwayland else "native")
    args.scale = 1
    return run_driver(TwoOutputs, args)


if __name__ == "__main__":
    sys.exit(main())
