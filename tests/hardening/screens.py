#!/usr/bin/env python3
"""The program on one screen of an X server that run_screens.sh has started: from the title
to a running stimulation by real key presses, the face followed on screenshots, the window
then made smaller through the window manager, and closed.

    screens.py --program PATH --label NAME [--scale FACTOR] [--failure-shots FOLDER]

Exit status 0 when every check passed, 1 otherwise.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time

TITLE = "Tarrowin (Alternating bilateral visuals and tones for EMDR)"
SETTINGS = "Setttings"
STIMULATION = "Alternating Bilateral Stimulation"
FACE_SIZE = 32  # pixels of the default picture at a scale of 1
WAIT = 15

_HIGH = bytes(1 if v >= 200 else 0 for v in range(256))
_LOW = bytes(1 if v <= 80 else 0 for v in range(256))


class Abort(Exception):
    pass


def run(args, check=False):
    out = subprocess.run(args, capture_output=True, text=True, timeout=60)
    if check and out.returncode != 0:
        raise Abort(f"{' '.join(args)}: {out.stderr.strip()}")
    return out


def poll(predicate, timeout=WAIT, interval=0.1):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


# ------------------------------------------------------------------------------------------
# Windows


def window_named(pid, caption):
    out = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
               "^" + re.escape(caption) + "$"])
    ids = out.stdout.split()
    return ids[0] if ids else None


def active_window():
    return run(["xdotool", "getactivewindow"]).stdout.strip()


def client_geometry(wid):
    """(x, y, width, height) of the window's client area on the screen."""
    out = run(["xwininfo", "-id", wid]).stdout
    values = {}
    for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                       ("w", "Width"), ("h", "Height")):
        m = re.search(label + r":\s+(-?\d+)", out)
        if not m:
            return None
        values[key] = int(m.group(1))
    return values["x"], values["y"], values["w"], values["h"]


def frame_extents(wid):
    """(left, right, top, bottom) of the window manager's frame."""
    out = run(["xprop", "-id", wid, "_NET_FRAME_EXTENTS"]).stdout
    m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
    return tuple(int(v) for v in m.groups()) if m else (0, 0, 0, 0)


def key(name):
    run(["xdotool", "key", name], check=True)


# ------------------------------------------------------------------------------------------
# Screenshots


def parse_ppm(data):
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Abort(f"unexpected screenshot format {fields[0]!r}")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    if len(pixels) != width * height * 3:
        raise Abort("truncated screenshot")
    return width, height, pixels


class Shot:
    def __init__(self, raw):
        self.raw = raw
        self.width, self.height, self.pixels = parse_ppm(raw)

    def yellow_box(self):
        """(count, x0, y0, x1, y1) of the face-yellow pixels on the whole screen, or None."""
        count = 0
        x0 = y0 = x1 = y1 = None
        row_bytes = self.width * 3
        for row in range(self.height):
            line = self.pixels[row * row_bytes:(row + 1) * row_bytes]
            mask = (int.from_bytes(line[0::3].translate(_HIGH), "little")
                    & int.from_bytes(line[1::3].translate(_HIGH), "little")
                    & int.from_bytes(line[2::3].translate(_LOW), "little"))
            if not mask:
                continue
            first = ((mask & -mask).bit_length() - 1) // 8
            last = (mask.bit_length() - 1) // 8
            count += bin(mask).count("1")
            x0 = first if x0 is None else min(x0, first)
            x1 = last if x1 is None else max(x1, last)
            y0 = row if y0 is None else y0
            y1 = row
        return None if x0 is None else (count, x0, y0, x1, y1)


def screenshot():
    out = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                         capture_output=True, timeout=60)
    if out.returncode != 0:
        raise Abort(f"screenshot failed: {out.stderr.decode(errors='replace').strip()}")
    return Shot(out.stdout)


def face_model(path, scale):
    """Where the yellow sits inside the picture, in screen pixels at the given scale:
    (count, left offset, top offset, box width, box height) of the picture's own yellow."""
    out = subprocess.run(["convert", f"{path}[0]", "-background", "#808080", "-flatten",
                          "-depth", "8", "ppm:-"], capture_output=True, timeout=30)
    if out.returncode != 0:
        raise Abort(f"{path}: {out.stderr.decode(errors='replace')}")
    box = Shot(out.stdout).yellow_box()
    if not box:
        raise Abort(f"{path}: no yellow in the picture")
    count, x0, y0, x1, y1 = box
    return (count * scale * scale, x0 * scale, y0 * scale, (x1 - x0 + 1) * scale,
            (y1 - y0 + 1) * scale)


# ------------------------------------------------------------------------------------------
# The checks


class Screens:
    def __init__(self, args):
        self.args = args
        self.scale = args.scale
        self.failures = 0
        self.process = None
        self.last_shot = None
        self.face = face_model(os.path.join(os.path.dirname(args.program), "Pictures",
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
        os.makedirs(self.args.failure_shots, exist_ok=True)
        name = re.sub(r"[^A-Za-z0-9]+", "-", f"{self.args.label}-{what}")[:80] + ".png"
        subprocess.run(["convert", "ppm:-", os.path.join(self.args.failure_shots, name)],
                       input=self.last_shot.raw, timeout=60)

    def shot(self):
        self.last_shot = screenshot()
        return self.last_shot

    def faces(self, count):
        """Yellow boxes from count screenshots taken at uneven gaps; shots that caught a
        repaint half-way (no face, or more yellow than one face) are taken again a few
        times."""
        found, problems = [], []
        attempts = 0
        limit = self.face[0] * 1.3 + 10
        while len(found) < count and attempts < count + 6:
            attempts += 1
            box = self.shot().yellow_box()
            if box is None:
                problems.append("no face on the screen")
            elif box[0] > limit:
                problems.append(f"{box[0]} yellow pixels, more than one face")
            else:
                found.append(box)
            time.sleep(random.uniform(0.05, 0.35))
        return found, problems

    def check_on_track(self, label, wid):
        """The face moves along the horizontal track of the window as it is now: its top at
        the middle of the window's outer height less the picture's, its left between the
        start end and the far end, every yellow pixel inside the client area."""
        cx, cy, cw, ch = client_geometry(wid)
        left, right, top, bottom = frame_extents(wid)
        outer_w, outer_h = cw + left + right, ch + top + bottom
        size = FACE_SIZE * self.scale
        _, dx, dy, _, _ = self.face
        found, problems = self.faces(8)
        self.require(len(found) >= 8, f"{label}: the face is seen in every screenshot",
                     f"{len(found)} of 8: {problems[-3:]}")
        corners = [(b[1] - dx, b[2] - dy) for b in found]
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

    def run(self):
        env = dict(os.environ, SDL_AUDIODRIVER="dummy", QT_QPA_PLATFORM="xcb")
        if self.scale != 1:
            env["QT_SCALE_FACTOR"] = str(self.scale)
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
        key("Return")
        stim = poll(lambda: window_named(pid, STIMULATION))
        self.require(stim, "Enter on the settings window starts the stimulation")
        screen = (self.shot().width, self.last_shot.height)

        def covers_screen():
            g = client_geometry(stim)
            left, right, top, bottom = frame_extents(stim)
            return g and (g[0] - left, g[1] - top, g[2] + left + right,
                          g[3] + top + bottom) == (0, 0) + screen
        self.require(poll(covers_screen), f"the stimulation window covers the "
                     f"{screen[0]}x{screen[1]} screen", f"client {client_geometry(stim)}")
        # The pointer rests where no button and no track is.
        run(["xdotool", "mousemove", str(screen[0] - 5), str(screen[1] // 4)])
        self.check_on_track("full screen", stim)

        # Smaller, through the window manager: the picture moves to the new track.
        run(["wmctrl", "-r", STIMULATION, "-b", "remove,maximized_vert,maximized_horz"],
            check=True)
        time.sleep(0.5)
        run(["wmctrl", "-r", STIMULATION, "-e", "0,100,100,800,600"], check=True)
        resized = poll(lambda: (lambda g: g if g and g[2:] == (800, 600) else None)(
            client_geometry(stim)))
        self.require(resized, "the window manager makes the window 800x600",
                     f"client {client_geometry(stim)}")
        time.sleep(0.5)
        self.check_on_track("800x600 at 100,100", stim)

        errors = self.read_errors()
        self.check(not errors, "nothing went wrong in the program (no failed tick, no "
                   "file not found)", "; ".join(errors))
        run(["wmctrl", "-c", STIMULATION], check=True)
        try:
            status = self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            status = None
        self.check(status == 0, "closing the stimulation window ends the program with "
                   "status 0", f"status {status}")

    def read_errors(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return [line.strip() for line in self.stderr if line.startswith("tarrowin:")]

    def finish(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--label", required=True)
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--work", required=True)
    parser.add_argument("--failure-shots")
    args = parser.parse_args()
    screens = Screens(args)
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
