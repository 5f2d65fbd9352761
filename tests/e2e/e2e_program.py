#!/usr/bin/env python3
"""End-to-end checks of the whole program on a real X server with a window manager.

run_e2e.sh starts the X server and the window manager and then this script, which starts
the program and steers it only as a practitioner would: real key presses and pointer clicks
(xdotool, through the server's test extension), a real close request through the window
manager (wmctrl). What the program does is read back from the server alone: which of its
windows are mapped, their geometry, the active window, and screenshots (ImageMagick's
import), in which the yellow face picture is found by its colour.

Every check prints one PASS or FAIL line; the exit status is 1 if any check failed. The
screenshots of a failing run are written as PNG files into the folder given by
--failure-shots.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time
import zlib

TITLE_CAPTION = "Tarrowin (Alternating bilateral visuals and tones for EMDR)"
SETTINGS_CAPTION = "Setttings"
STIMULATION_CAPTION = "Alternating Bilateral Stimulation"

SCREEN_W, SCREEN_H = 1920, 1080
TWIPS_PER_PIXEL = 15  # 96 dpi, the program's logical resolution on X

# The stimulation window's buttons, as stored: width and height in twips.
PAUSE_SIZE = (1455, 495)
SETTINGS_SIZE = (1215, 495)

WAIT = 10.0  # seconds allowed for anything the window system or the program does

# A face pixel: pure yellow. The grey window, the buttons and the black outline of the face
# are far from it on at least one channel.
_HIGH = bytes(1 if v >= 200 else 0 for v in range(256))
_LOW = bytes(1 if v <= 80 else 0 for v in range(256))
# Text on a button: dark on all three channels (the blue focus frame is not).
_DARK = bytes(1 if v < 110 else 0 for v in range(256))


class Abort(Exception):
    """A step failed that the following steps depend on."""


def run(args, timeout=20, check=False):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if check and result.returncode != 0:
        raise Abort(f"{' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
    return result


def poll(predicate, timeout=WAIT, interval=0.1):
    """The first true value of predicate() within timeout seconds, else the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def twips_round(value):
    # The program converts track values to whole twips rounding halves to even.
    return round(value)


def pixels_of(twips):
    # The toolkit shows twips at the nearest pixel, halves away from zero.
    v = twips / TWIPS_PER_PIXEL
    return int(v + 0.5) if v >= 0 else -int(-v + 0.5)


# ------------------------------------------------------------------------------------------
# Screenshots


class Shot:
    def __init__(self, name, width, height, data, path):
        self.name = name
        self.width = width
        self.height = height
        self.data = data
        self.path = path

    def rows(self, rect):
        x, y, w, h = rect
        for row in range(y, y + h):
            start = (row * self.width + x) * 3
            yield self.data[start:start + w * 3]

    def region(self, rect):
        return b"".join(self.rows(rect))

    def uniform(self, rect):
        """Whether every pixel of the rectangle has the same colour."""
        block = self.region(rect)
        first = block[:3]
        return block == first * (len(block) // 3)

    def ink_extent(self, rect):
        """Horizontal extent (pixels) of dark text pixels inside the rectangle, 0 if none."""
        lo, hi = None, None
        for line in self.rows(rect):
            r = line[0::3].translate(_DARK)
            g = line[1::3].translate(_DARK)
            b = line[2::3].translate(_DARK)
            mask = (int.from_bytes(r, "little") & int.from_bytes(g, "little")
                    & int.from_bytes(b, "little"))
            if mask:
                first = (mask & -mask).bit_length() - 1
                last = mask.bit_length() - 1
                # Each pixel is one byte of the mask: bit 8*i marks pixel i.
                first //= 8
                last //= 8
                lo = first if lo is None else min(lo, first)
                hi = last if hi is None else max(hi, last)
        return 0 if lo is None else hi - lo + 1


def parse_ppm(data):
    """Width, height and the RGB bytes of a binary PPM (P6, maxval 255)."""
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
    pos += 1  # the single whitespace after maxval
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"unexpected image format {fields[0]!r} maxval {fields[3]!r}")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    if len(pixels) != width * height * 3:
        raise ValueError("truncated image")
    return width, height, pixels


def yellow_pixels(data, width, rect, limit=20000):
    """Coordinates (x, y) of the face-yellow pixels inside rect (screen coordinates)."""
    x0, y0, w, h = rect
    found = []
    for row in range(y0, y0 + h):
        start = (row * width + x0) * 3
        line = data[start:start + w * 3]
        r = line[0::3].translate(_HIGH)
        g = line[1::3].translate(_HIGH)
        b = line[2::3].translate(_LOW)
        mask = int.from_bytes(r, "little") & int.from_bytes(g, "little") \
            & int.from_bytes(b, "little")
        while mask:
            low = mask & -mask
            found.append((x0 + (low.bit_length() - 1) // 8, row))
            mask ^= low
            if len(found) > limit:
                return found
    return found


class FaceModel:
    """Where the yellow pixels sit inside the picture file, to turn a found face back into
    the picture's top-left corner."""

    def __init__(self, path):
        index = self._index_of_32(path)
        out = subprocess.run(["convert", f"{path}[{index}]", "-background", "#808080",
                              "-flatten", "-depth", "8", "ppm:-"], capture_output=True,
                             timeout=30)
        if out.returncode != 0:
            raise Abort(f"{path}: cannot be read ({out.stderr.decode(errors='replace')})")
        self.width, self.height, data = parse_ppm(out.stdout)
        pts = yellow_pixels(data, self.width, (0, 0, self.width, self.height))
        if not pts:
            raise Abort(f"{path}: no yellow pixels in the picture")
        self.count = len(pts)
        self.dx = min(p[0] for p in pts)
        self.dy = min(p[1] for p in pts)
        self.box_w = max(p[0] for p in pts) - self.dx + 1
        self.box_h = max(p[1] for p in pts) - self.dy + 1

    @staticmethod
    def _index_of_32(path):
        out = run(["identify", "-format", "%p %w %h\n", path], check=True)
        for line in out.stdout.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] == "32" and parts[2] == "32":
                return int(parts[0])
        return 0


# ------------------------------------------------------------------------------------------
# The X server's view of the program


class Desktop:
    def __init__(self, work):
        self.work = work
        self.shots = []
        self.counter = 0

    # Windows ---------------------------------------------------------------------------

    def mapped_windows(self, pid):
        """{window id: caption} of the program's viewable windows."""
        out = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid)])
        windows = {}
        for line in out.stdout.split():
            wid = int(line)
            name = run(["xdotool", "getwindowname", str(wid)])
            if name.returncode == 0:
                windows[wid] = name.stdout.rstrip("\n")
        return windows

    def captions(self, pid):
        return sorted(self.mapped_windows(pid).values())

    def window_named(self, pid, caption):
        for wid, name in self.mapped_windows(pid).items():
            if name == caption:
                return wid
        return None

    @staticmethod
    def active_window():
        out = run(["xdotool", "getactivewindow"])
        return int(out.stdout.strip()) if out.returncode == 0 and out.stdout.strip() else None

    @staticmethod
    def client_geometry(wid):
        """(x, y, width, height) of the window's client area on the screen."""
        out = run(["xwininfo", "-id", str(wid)])
        values = {}
        for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                           ("w", "Width"), ("h", "Height")):
            m = re.search(rf"^\s*{label}:\s*(-?\d+)", out.stdout, re.M)
            if not m:
                return None
            values[key] = int(m.group(1))
        return values["x"], values["y"], values["w"], values["h"]

    @staticmethod
    def frame_extents(wid):
        """(left, right, top, bottom) of the frame the window manager put around it."""
        out = run(["xprop", "-id", str(wid), "-notype", "_NET_FRAME_EXTENTS"])
        m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out.stdout)
        return tuple(int(v) for v in m.groups()) if m else None

    def frame_geometry(self, wid):
        client = self.client_geometry(wid)
        extents = self.frame_extents(wid)
        if not client or not extents:
            return None
        x, y, w, h = client
        left, right, top, bottom = extents
        return x - left, y - top, w + left + right, h + top + bottom

    # Input -----------------------------------------------------------------------------

    @staticmethod
    def key(name):
        run(["xdotool", "key", name], check=True)

    @staticmethod
    def click(x, y):
        run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=True)

    @staticmethod
    def pointer_to(x, y):
        run(["xdotool", "mousemove", "--sync", str(x), str(y)], check=True)

    # Screenshots -----------------------------------------------------------------------

    def shot(self, label):
        self.counter += 1
        name = f"{self.counter:03d}-{label}"
        out = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                             capture_output=True, timeout=30)
        if out.returncode != 0:
            raise Abort(f"screenshot failed: {out.stderr.decode(errors='replace').strip()}")
        width, height, pixels = parse_ppm(out.stdout)
        # Kept compressed (a mostly grey screen packs small) until a failure asks for them.
        path = os.path.join(self.work, name + ".ppm.z")
        with open(path, "wb") as f:
            f.write(zlib.compress(out.stdout, 1))
        shot = Shot(name, width, height, pixels, path)
        self.shots.append(shot)
        return shot

    def save_shots(self, folder):
        os.makedirs(folder, exist_ok=True)
        for shot in self.shots:
            if not os.path.exists(shot.path):
                continue
            with open(shot.path, "rb") as f:
                ppm = zlib.decompress(f.read())
            subprocess.run(["convert", "ppm:-", os.path.join(folder, shot.name + ".png")],
                           input=ppm, capture_output=True, timeout=60)


# ------------------------------------------------------------------------------------------
# The stimulation window as the program lays it out


class StimulationLayout:
    """Client-area rectangles and the picture's tracks, from the window's outer size."""

    def __init__(self, client, frame, picture_w, picture_h):
        self.client = client  # (x, y, w, h) on the screen
        self.frame = frame
        self.W = frame[2] * TWIPS_PER_PIXEL
        self.H = frame[3] * TWIPS_PER_PIXEL
        self.w = picture_w * TWIPS_PER_PIXEL
        self.h = picture_h * TWIPS_PER_PIXEL
        top = self.H - 2.5 * PAUSE_SIZE[1]
        self.pause = self._rect(self.W / 3 - PAUSE_SIZE[0], top, *PAUSE_SIZE)
        self.settings = self._rect(self.W / 2 - SETTINGS_SIZE[0] / 2.0, top, *SETTINGS_SIZE)

    def _rect(self, left, top, width, height):
        # Screen coordinates of a control placed at these twips in the client area.
        return (self.client[0] + pixels_of(left), self.client[1] + pixels_of(top),
                pixels_of(width), pixels_of(height))

    def track(self, pattern):
        """Start and far end of the picture's top-left corner, in client pixels."""
        W, H, w, h = self.W, self.H, self.w, self.h
        if pattern == 1:
            start = (0, twips_round((H - h) / 2.0))
            end = (twips_round(W - w - 10), twips_round((H - h) / 2.0))
        elif pattern == 2:
            start = (twips_round(W / 2.0), 0)
            end = (twips_round(W / 2.0 - 10), twips_round(H - h))
        elif pattern == 3:
            start = (0, 0)
            end = (twips_round(W - w - 10), twips_round(H - h - 10))
        else:
            start = (0, twips_round(H - h - 10))
            end = (twips_round(W - w - 10), 0)
        return ((start[0] / TWIPS_PER_PIXEL, start[1] / TWIPS_PER_PIXEL),
                (end[0] / TWIPS_PER_PIXEL, end[1] / TWIPS_PER_PIXEL))

    def sideways_stops(self, steps):
        """The x pixels at which the picture can stand on the "-" track once both legs run
        at this many steps: each leg moves by the whole-twip step until the end is within
        one step, then the picture is put on that end."""
        start = 0
        end = twips_round(self.W - self.w - 10)
        stops = set()
        for frm, to in ((start, end), (end, start)):
            step = twips_round((to - frm) / steps)
            x = frm
            while abs(x - to) >= abs(step) - 1:
                stops.add(pixels_of(x))
                x += step
            stops.add(pixels_of(to))
        return stops


def steps_at(speed):
    """Ticks per leg at a speed."""
    return twips_round((120 - speed) / 6.0)


SPEED_OF_KEY_9 = 10 * 9 - 5
SPEED_AT_START = 7 * 6 + 23  # the slider stands at 6 when the settings window opens


def distance_to_segment(p, a, b):
    (px, py), (ax, ay), (bx, by) = p, a, b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5


# ------------------------------------------------------------------------------------------
# The checks


class E2E:
    def __init__(self, args):
        self.args = args
        self.desktop = Desktop(args.work)
        self.passed = 0
        self.failed = 0
        self.program = None
        self.stderr_path = os.path.join(args.work, "program.stderr")
        self.stdout_path = os.path.join(args.work, "program.stdout")
        folder = os.path.dirname(args.program)
        self.face = FaceModel(os.path.join(folder, "Pictures", "Face.ico"))
        self.layout = None

    # Reporting -------------------------------------------------------------------------

    def check(self, ok, what, detail=""):
        if not ok and self.program and self.program.poll() is not None and \
                "closing" not in what:
            detail = (detail + "; " if detail else "") + \
                f"the program has ended, status {self.program.returncode}"
        if ok:
            self.passed += 1
            print(f"PASS: {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f" ({detail})" if detail else ""), flush=True)
        return ok

    def require(self, ok, what, detail=""):
        if not self.check(ok, what, detail):
            raise Abort(what)

    # The program -----------------------------------------------------------------------

    def start_program(self):
        env = dict(os.environ)
        env["SDL_AUDIODRIVER"] = "dummy"
        env.pop("QT_QPA_PLATFORM", None)
        self.stdout_file = open(self.stdout_path, "wb")
        self.stderr_file = open(self.stderr_path, "wb")
        self.program = subprocess.Popen([self.args.program], cwd=self.args.work, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self.stdout_file,
                                        stderr=self.stderr_file)
        with open(os.path.join(self.args.work, "program.pid"), "w") as f:
            f.write(f"{self.program.pid}\n")

    def pid(self):
        return self.program.pid

    def stop_program(self):
        if self.program and self.program.poll() is None:
            self.program.terminate()
            try:
                self.program.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.program.kill()
                self.program.wait()

    def wait_for_captions(self, expected):
        """Polls until exactly these windows of the program are mapped; the last list seen."""
        expected = sorted(expected)
        seen = []

        def matches():
            seen[:] = self.desktop.captions(self.pid())
            return seen == expected

        poll(matches)
        return seen

    # Face tracking ---------------------------------------------------------------------

    def face_at(self, shot):
        """Top-left corner of the picture in client pixels, or None (with the reason)."""
        cx, cy = self.layout.client[:2]
        pts = yellow_pixels(shot.data, shot.width, self.layout.client)
        if not pts:
            return None, "no face in the window"
        x0 = min(p[0] for p in pts)
        y0 = min(p[1] for p in pts)
        bw = max(p[0] for p in pts) - x0 + 1
        bh = max(p[1] for p in pts) - y0 + 1
        if len(pts) > self.face.count or bw > self.face.box_w or bh > self.face.box_h:
            return None, (f"{len(pts)} yellow pixels in {bw}x{bh} at ({x0},{y0}), more than "
                          f"one face")
        return (x0 - self.face.dx - cx, y0 - self.face.dy - cy), ""

    def positions(self, label, count):
        """Face positions from count screenshots a few hundred ms apart; a shot in which the
        face cannot be told (a repaint caught half-way) is taken again, a few times at most.
        The gaps vary, so that the shots do not keep falling on the same phase of the
        motion."""
        found = []
        problems = []
        attempts = 0
        while len(found) < count and attempts < count + 6:
            attempts += 1
            pos, why = self.face_at(self.desktop.shot(label))
            if pos is None:
                problems.append(why)
            else:
                found.append(pos)
            time.sleep(random.uniform(0.05, 0.4))
        return found, problems

    def moving(self, label):
        """Whether the face is seen in more than one place. It stops at a handful of places
        only (one per tick of a leg), so two shots may well catch it at the same one; a
        still face is in one place in all of them."""
        found, problems = self.positions(label, 8)
        if len(found) < 8:
            return False, f"face found in {len(found)} shots: {problems[-3:]}"
        spread = max(abs(a[0] - b[0]) + abs(a[1] - b[1]) for a in found for b in found)
        return len(set(found)) >= 2 and spread >= 50, f"positions {found}"

    def check_pattern(self, key, pattern, symbol, samples=6, settle=0.4):
        self.desktop.key(key)
        time.sleep(settle)
        found, problems = self.positions(f"pattern{pattern}", samples)
        if not self.check(len(found) >= samples, f"'{symbol}': the face is found in every shot",
                          f"found {len(found)}: {problems[-3:]}"):
            return None
        start, end = self.layout.track(pattern)
        worst = max(distance_to_segment(p, start, end) for p in found)
        self.check(worst <= 3.0, f"'{symbol}': every position lies on the track from "
                   f"({start[0]:.0f},{start[1]:.0f}) to ({end[0]:.0f},{end[1]:.0f})",
                   f"{worst:.1f} px off; positions {found}")
        a, b = max(((a, b) for a in found for b in found),
                   key=lambda ab: abs(ab[0][0] - ab[1][0]) + abs(ab[0][1] - ab[1][1]))
        dx, dy = b[0] - a[0], b[1] - a[1]
        _, _, cw, ch = self.layout.client
        mid_x = [p[0] + self.face.width / 2 for p in found]
        mid_y = [p[1] + self.face.height / 2 for p in found]
        if pattern == 1:
            self.check(len({p[1] for p in found}) == 1 and abs(dx) >= 100,
                       "'-': same height in every shot, moving sideways",
                       f"positions {found}")
            self.check(all(abs(y - ch / 2) <= 30 for y in mid_y),
                       "'-': at the vertical middle of the window", f"centres y {mid_y}")
        elif pattern == 2:
            self.check(max(p[0] for p in found) - min(p[0] for p in found) <= 1
                       and abs(dy) >= 100, "'|': same column in every shot, moving up and down",
                       f"positions {found}")
            self.check(all(abs(x - cw / 2) <= 30 for x in mid_x),
                       "'|': at the horizontal middle of the window", f"centres x {mid_x}")
        elif pattern == 3:
            self.check(abs(dx) >= 100 and abs(dy) >= 50 and (dx > 0) == (dy > 0),
                       "'\\': across and down together (top left to bottom right)",
                       f"positions {found}")
        else:
            self.check(abs(dx) >= 100 and abs(dy) >= 50 and (dx > 0) != (dy > 0),
                       "'/': across and up together (bottom left to top right)",
                       f"positions {found}")
        return found

    # The steps -------------------------------------------------------------------------

    def run(self):
        d = self.desktop
        self.start_program()

        # Title window.
        seen = self.wait_for_captions([TITLE_CAPTION])
        self.require(TITLE_CAPTION in seen, "the title window is shown", f"mapped: {seen}")
        time.sleep(0.5)  # anything else the program might map at start
        seen = d.captions(self.pid())
        self.check(seen == [TITLE_CAPTION], "the title window is the only window shown",
                   f"mapped: {seen}")
        title = d.window_named(self.pid(), TITLE_CAPTION)
        self.require(poll(lambda: d.active_window() == title), "the title window has the focus",
                     f"active window {d.active_window()}, title {title}")

        # Continue, by Enter on the focused Continue button.
        d.key("Return")
        seen = self.wait_for_captions([SETTINGS_CAPTION])
        self.require(seen == [SETTINGS_CAPTION],
                     "Enter on Continue: the settings window is shown, the title is gone",
                     f"mapped: {seen}")
        settings = d.window_named(self.pid(), SETTINGS_CAPTION)
        self.require(poll(lambda: d.active_window() == settings),
                     "the settings window has the focus", f"active window {d.active_window()}")

        # Enter on the settings window starts the stimulation.
        d.key("Return")
        seen = self.wait_for_captions([STIMULATION_CAPTION])
        self.require(seen == [STIMULATION_CAPTION],
                     "Enter on the settings: the stimulation window is shown, the settings "
                     "window is gone", f"mapped: {seen}")
        stim = d.window_named(self.pid(), STIMULATION_CAPTION)
        full = (0, 0, SCREEN_W, SCREEN_H)
        frame = poll(lambda: (lambda f: f if f == full else None)(d.frame_geometry(stim)))
        self.require(frame == full, "the stimulation window covers the screen (frame "
                     "1920x1080 at 0,0)", f"frame {d.frame_geometry(stim)}")
        client = d.client_geometry(stim)
        self.layout = StimulationLayout(client, frame, self.face.width, self.face.height)
        self.require(poll(lambda: d.active_window() == stim),
                     "the stimulation window has the focus", f"active window {d.active_window()}")
        # The pointer rests where no button and no track is.
        d.pointer_to(SCREEN_W - 5, SCREEN_H // 4)

        ok, detail = self.moving("start")
        self.check(ok, "the face moves once the stimulation has started", detail)
        running = d.shot("running-buttons")
        pause_rect, settings_rect = self.layout.pause, self.layout.settings
        self.check(not running.uniform(pause_rect) and running.uniform(settings_rect),
                   "control row: Pause shown near the bottom, Show Settings Screen hidden",
                   f"Pause at {pause_rect}, Show Settings Screen at {settings_rect}")
        pause_ink = running.ink_extent(pause_rect)
        pause_look = running.region(pause_rect)

        # Speed 9, then each pattern by its key. On "-" the shots wait until the first leg,
        # which starts at 15 steps whatever the speed, is over, and then show where the face
        # stops: 6 steps a leg at the speed of key 9, 9 steps at the speed the run began with.
        d.key("9")
        found = self.check_pattern("minus", 1, "-", samples=12, settle=1.5)
        if found:
            fast = self.layout.sideways_stops(steps_at(SPEED_OF_KEY_9))
            slow = self.layout.sideways_stops(steps_at(SPEED_AT_START))
            xs = sorted({p[0] for p in found})
            self.check(all(x in fast for x in xs) and any(x not in slow for x in xs),
                       f"'9': the face stops only where the {steps_at(SPEED_OF_KEY_9)} steps of a "
                       f"leg at speed 9 put it {sorted(fast)}", f"stops seen {xs}")
        for key, pattern, symbol in (("bar", 2, "|"), ("backslash", 3, "\\"), ("slash", 4, "/")):
            self.check_pattern(key, pattern, symbol)

        # Esc pauses: the face stands still, the Pause button reads Resume and the Show
        # Settings Screen button appears beside it.
        d.key("minus")
        time.sleep(0.3)
        d.key("Escape")
        paused = poll(lambda: (lambda s: s if not s.uniform(settings_rect) else None)(
            d.shot("pausing")))
        self.check(bool(paused), "Esc: Show Settings Screen appears in the control row",
                   f"nothing drawn at {settings_rect}")
        time.sleep(0.2)
        first = d.shot("paused-a")
        time.sleep(0.5)
        second = d.shot("paused-b")
        p1, why1 = self.face_at(first)
        p2, why2 = self.face_at(second)
        self.check(p1 is not None and p1 == p2, "Esc: the face stands still (two shots 500 ms "
                   "apart)", f"{p1 or why1} then {p2 or why2}")
        resume_ink = second.ink_extent(pause_rect)
        self.check(second.region(pause_rect) != pause_look and resume_ink > pause_ink,
                   "Esc: the Pause button's caption changed to the longer Resume",
                   f"text {pause_ink} px wide before, {resume_ink} px now")

        # Esc again resumes.
        d.key("Escape")
        poll(lambda: d.shot("resuming").uniform(settings_rect))
        ok, detail = self.moving("resumed")
        self.check(ok, "Esc again: the face moves again", detail)
        again = d.shot("resumed-buttons")
        self.check(again.region(pause_rect) == pause_look and again.uniform(settings_rect),
                   "Esc again: the caption reads Pause as before, Show Settings Screen hidden",
                   "the control row differs from the first run")

        # Pause, then Show Settings Screen leads back to the settings window.
        d.key("Escape")
        paused = poll(lambda: (lambda s: s if not s.uniform(settings_rect) else None)(
            d.shot("pausing-2")))
        self.require(bool(paused), "Esc: paused again, Show Settings Screen shown")
        x, y, w, h = settings_rect
        d.click(x + w // 2, y + h // 2)
        seen = self.wait_for_captions([SETTINGS_CAPTION, STIMULATION_CAPTION])
        self.require(seen == sorted([SETTINGS_CAPTION, STIMULATION_CAPTION]),
                     "Show Settings Screen: the settings window is shown over the stimulation",
                     f"mapped: {seen}")
        settings = d.window_named(self.pid(), SETTINGS_CAPTION)
        self.require(poll(lambda: d.active_window() == settings),
                     "Show Settings Screen: the settings window has the focus",
                     f"active window {d.active_window()}")
        d.pointer_to(SCREEN_W - 5, SCREEN_H // 4)
        behind = d.shot("settings-again")
        self.check(behind.uniform(pause_rect) and behind.uniform(settings_rect),
                   "Show Settings Screen: both buttons of the control row are hidden")
        d.key("Return")
        seen = self.wait_for_captions([STIMULATION_CAPTION])
        self.require(seen == [STIMULATION_CAPTION],
                     "Enter on the settings: back to the stimulation alone", f"mapped: {seen}")
        self.check(poll(lambda: d.active_window() == stim),
                   "the stimulation window has the focus again",
                   f"active window {d.active_window()}")
        ok, detail = self.moving("restarted")
        self.check(ok, "the face moves again after the settings", detail)
        again = d.shot("restarted-buttons")
        self.check(not again.uniform(pause_rect) and again.ink_extent(pause_rect) == pause_ink
                   and again.uniform(settings_rect),
                   "the control row shows Pause again, Show Settings Screen hidden",
                   f"text {again.ink_extent(pause_rect)} px wide, {pause_ink} px expected")

        # A close request through the window manager ends the program.
        run(["wmctrl", "-i", "-c", hex(stim)], check=True)
        try:
            status = self.program.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            status = None
        self.check(status == 0, "closing the stimulation window ends the program with status 0",
                   "still running" if status is None else f"status {status}")

    def finish(self):
        self.stop_program()
        for f in (getattr(self, "stdout_file", None), getattr(self, "stderr_file", None)):
            if f:
                f.close()
        if os.path.exists(self.stderr_path):
            with open(self.stderr_path, "rb") as f:
                errors = f.read().decode(errors="replace")
            self.check(errors == "", "the program wrote nothing on standard error",
                       errors.strip().replace("\n", " | ")[:2000])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--failure-shots", required=True)
    parser.add_argument("--keep-shots", help="folder for the screenshots of a passing run too")
    args = parser.parse_args()

    test = None
    try:
        test = E2E(args)
        test.run()
    except Abort as e:
        print(f"(stopped after: {e})", flush=True)
        if test:
            test.failed = max(test.failed, 1)
    except Exception as e:  # a tool failed in an unforeseen way: a failure, with the reason
        print(f"FAIL: unexpected error: {type(e).__name__}: {e}", flush=True)
        if test:
            test.failed += 1
        else:
            return 1
    finally:
        if test:
            test.finish()
    if test.failed:
        test.desktop.save_shots(args.failure_shots)
        print(f"e2e_program: FAILED, {test.failed} of {test.passed + test.failed} checks failed;"
              f" screenshots in {args.failure_shots}", flush=True)
        return 1
    if args.keep_shots:
        test.desktop.save_shots(args.keep_shots)
        print(f"screenshots in {args.keep_shots}", flush=True)
    print(f"e2e_program: all {test.passed} checks passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
