"""Driving the whole program on the X server that x_session.sh started, only as a practitioner
would: real key presses and pointer clicks (xdotool, through the server's test extension), and
moves, resizes and close requests through the window manager (wmctrl). What the program does is
read back from the server alone: which of its windows are mapped, their geometry, the active
window, and screenshots (ImageMagick's import), in which the yellow face picture is found by
its colour.

Also the stand-in for the desktop's screen services and the X server's screen saver, through
which the program holds the screen awake.

Used by the end-to-end driver (tests/e2e/e2e_program.py), the screen drivers
(tests/hardening/screens.py, two_screens.py) and the bench (bench/measure.py).
"""

import ctypes
import json
import os
import random
import re
import subprocess
import time
import zlib

TITLE_CAPTION = "Tarrowin (Alternating bilateral visuals and tones for EMDR)"
SETTINGS_CAPTION = "Setttings"
STIMULATION_CAPTION = "Alternating Bilateral Stimulation"

TWIPS_PER_PIXEL = 15  # 96 dpi, the program's logical resolution on X

# A face pixel: pure yellow. The grey window, the buttons and the black outline of the face
# are far from it on at least one channel.
_HIGH = bytes(1 if v >= 200 else 0 for v in range(256))
_LOW = bytes(1 if v <= 80 else 0 for v in range(256))
# Text on a button: dark on all three channels (the blue focus frame is not).
_DARK = bytes(1 if v < 110 else 0 for v in range(256))


class Abort(Exception):
    """A step failed that the following steps depend on."""


def run(args, timeout=60, check=False):
    """Runs a tool to its end; with check, a failure of it is an Abort."""
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if check and result.returncode != 0:
        raise Abort(f"{' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
    return result


def poll(predicate, timeout, interval=0.1):
    """The first true value of predicate() within timeout seconds, else the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def sample(take, count, gap):
    """count values of take(), which gives (value, None) or (None, why), called at uneven
    gaps (seconds, from gap[0] to gap[1]) so that screenshots do not keep falling on the same
    phase of a motion. A call that gives no value (a repaint caught half-way) is made again,
    a few times at most. Gives the values and the reasons of the calls that gave none."""
    found, problems = [], []
    attempts = 0
    while len(found) < count and attempts < count + 6:
        attempts += 1
        value, why = take()
        if value is None:
            problems.append(why)
        else:
            found.append(value)
        time.sleep(random.uniform(*gap))
    return found, problems


# ------------------------------------------------------------------------------------------
# Screenshots


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
        raise Abort(f"unexpected image format {fields[0]!r} maxval {fields[3]!r}")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    if len(pixels) != width * height * 3:
        raise Abort("truncated image")
    return width, height, pixels


def _mask(line, tables):
    """Bit 8*i set where pixel i of an RGB line passes the table of each channel."""
    return (int.from_bytes(line[0::3].translate(tables[0]), "little")
            & int.from_bytes(line[1::3].translate(tables[1]), "little")
            & int.from_bytes(line[2::3].translate(tables[2]), "little"))


class Shot:
    """One screenshot (or picture) as a binary PPM, with its pixels."""

    def __init__(self, ppm, name=""):
        self.ppm = ppm
        self.name = name
        self.width, self.height, self.pixels = parse_ppm(ppm)

    def rows(self, rect):
        x, y, w, h = rect
        for row in range(y, y + h):
            start = (row * self.width + x) * 3
            yield self.pixels[start:start + w * 3]

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
            mask = _mask(line, (_DARK, _DARK, _DARK))
            if mask:
                # Each pixel is one byte of the mask: bit 8*i marks pixel i.
                first = ((mask & -mask).bit_length() - 1) // 8
                last = (mask.bit_length() - 1) // 8
                lo = first if lo is None else min(lo, first)
                hi = last if hi is None else max(hi, last)
        return 0 if lo is None else hi - lo + 1

    def yellow_box(self, rect=None):
        """(count, x0, y0, x1, y1) of the face-yellow pixels inside rect (the whole image
        unless given), in image coordinates, or None when there are none."""
        rect = rect or (0, 0, self.width, self.height)
        count = 0
        x0 = y0 = x1 = y1 = None
        for row, line in enumerate(self.rows(rect), rect[1]):
            mask = _mask(line, (_HIGH, _HIGH, _LOW))
            if not mask:
                continue
            first = rect[0] + ((mask & -mask).bit_length() - 1) // 8
            last = rect[0] + (mask.bit_length() - 1) // 8
            count += bin(mask).count("1")
            x0 = first if x0 is None else min(x0, first)
            x1 = last if x1 is None else max(x1, last)
            y0 = row if y0 is None else y0
            y1 = row
        return None if x0 is None else (count, x0, y0, x1, y1)

    def save_png(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["convert", "ppm:-", path], input=self.ppm, capture_output=True,
                       timeout=60)


class FaceModel:
    """Where the yellow pixels sit inside the picture file (its 32x32 image), in screen pixels
    at the toolkit's scale factor: to tell one face from a repaint caught half-way, and to turn
    a face found on the screen back into the picture's top-left corner."""

    def __init__(self, path, scale=1):
        index = self._index_of_32(path)
        out = subprocess.run(["convert", f"{path}[{index}]", "-background", "#808080",
                              "-flatten", "-depth", "8", "ppm:-"], capture_output=True,
                             timeout=30)
        if out.returncode != 0:
            raise Abort(f"{path}: cannot be read ({out.stderr.decode(errors='replace')})")
        picture = Shot(out.stdout)
        box = picture.yellow_box()
        if not box:
            raise Abort(f"{path}: no yellow pixels in the picture")
        count, x0, y0, x1, y1 = box
        self.width, self.height = picture.width * scale, picture.height * scale
        self.count = count * scale * scale
        self.dx, self.dy = x0 * scale, y0 * scale
        self.box_w, self.box_h = (x1 - x0 + 1) * scale, (y1 - y0 + 1) * scale

    @staticmethod
    def _index_of_32(path):
        out = run(["identify", "-format", "%p %w %h\n", path], check=True)
        for line in out.stdout.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] == "32" and parts[2] == "32":
                return int(parts[0])
        return 0


# ------------------------------------------------------------------------------------------
# The program


class Program:
    """The program started on the X server, with no sound (SDL's dummy output) unless env
    says otherwise; on the toolkit's platform named (its own choice when None). Its output goes to program.stdout and program.stderr in the work
    folder, its process id to program.pid there (the runner script ends it by that id if a
    driver could not)."""

    def __init__(self, path, work, env=None, platform="xcb"):
        full_env = dict(os.environ, SDL_AUDIODRIVER="dummy")
        if platform:
            full_env["QT_QPA_PLATFORM"] = platform
        else:  # the program's own choice
            full_env.pop("QT_QPA_PLATFORM", None)
        full_env.update(env or {})
        self.stderr_path = os.path.join(work, "program.stderr")
        with open(os.path.join(work, "program.stdout"), "wb") as stdout, \
                open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen([path], cwd=work, env=full_env,
                                            stdin=subprocess.DEVNULL, stdout=stdout,
                                            stderr=stderr)
        self.pid = self.process.pid
        with open(os.path.join(work, "program.pid"), "w") as f:
            f.write(f"{self.pid}\n")

    def status(self):
        """The exit status, None while it runs."""
        return self.process.poll()

    def wait(self, timeout):
        """The exit status, None when it did not end within timeout seconds."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            if self.wait(5) is None:
                self.process.kill()
                self.process.wait()

    # The rig's keys come from short-lived virtual keyboards (wtype): as one goes, sway 1.10
    # hands the program a keyboard with no keymap for a moment, which Qt 6.8 reports with this
    # line. A desktop's real keyboard always has its keymap: the line is the rig's, not the
    # program's.
    RIG_LINES = ("qt.qpa.wayland: unknown keymap format: 0",)

    def errors(self):
        """All the program wrote on standard error so far, less the rig's own lines."""
        with open(self.stderr_path, "rb") as f:
            text = f.read().decode(errors="replace")
        return "".join(line for line in text.splitlines(keepends=True)
                       if line.strip() not in self.RIG_LINES)

    def problems(self):
        """The problems the program reported ("tarrowin: ..." lines on standard error)."""
        return [line.strip() for line in self.errors().splitlines()
                if line.startswith("tarrowin:")]


# ------------------------------------------------------------------------------------------
# What the program holds the screen awake through


class ScreenServices:
    """The stand-in for the desktop's screen services (awake_service.py beside this file: the
    portal's Inhibit and the screen saver service) on a bus of its own, with what it recorded.
    options: the stand-in's own, such as ["--without", "portal"]. It needs Debian's python
    (python3-dbus), whichever python runs the driver."""

    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "awake_service.py")

    def __init__(self, work, options=()):
        self.record = os.path.join(work, "screen-services.record")
        self.process = subprocess.Popen(["/usr/bin/python3", self.SCRIPT, self.record, *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.address = None
        for line in self.process.stdout:
            if line.startswith("address "):
                self.address = line.split(" ", 1)[1].strip()
            if line.strip() == "ready":
                return
        self.process.wait()
        raise Abort(f"the stand-in for the screen services did not start: "
                    f"{self.process.stderr.read().strip()}")

    def lines(self):
        with open(self.record) as f:
            return f.read().splitlines()

    def events(self):
        """Each event's first two words: "hold portal", "release screensaver" and the like."""
        return [" ".join(line.split(" ")[:2]) for line in self.lines()]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class _ScreenSaverInfo(ctypes.Structure):
    _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong),
                ("event_mask", ctypes.c_ulong)]


def x_screen_saver_on():
    """Whether the X server's screen saver is on now (its extension's query; xset q does not
    tell a suspended saver from one that has not yet come on)."""
    x11 = ctypes.CDLL("libX11.so.6")
    xss = ctypes.CDLL("libXss.so.1")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                          ctypes.POINTER(_ScreenSaverInfo)]
    display = x11.XOpenDisplay(None)
    if not display:
        raise Abort("the X server does not answer")
    info = _ScreenSaverInfo()
    try:
        if not xss.XScreenSaverQueryInfo(display, x11.XDefaultRootWindow(display),
                                         ctypes.byref(info)):
            raise Abort("the X server has no screen saver extension")
    finally:
        x11.XCloseDisplay(display)
    return info.state == 1  # ScreenSaverOn


# ------------------------------------------------------------------------------------------
# The X server's view of the program


class Desktop:
    """The X server and its window manager. wait: seconds allowed for anything the window
    system or the program does. With a work folder every screenshot is kept there,
    compressed, for save_shots."""

    def __init__(self, wait, work=None):
        self.wait = wait
        self.work = work
        self.kept = []  # (name, path) of the screenshots kept
        self.counter = 0

    def poll(self, predicate):
        return poll(predicate, self.wait)

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

    @staticmethod
    def window_named(pid, caption):
        """The id of the program's viewable window of exactly this caption, or None."""
        out = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                   "^" + re.escape(caption) + "$"])
        ids = out.stdout.split()
        return int(ids[0]) if ids else None

    @staticmethod
    def active_window():
        out = run(["xdotool", "getactivewindow"])
        return int(out.stdout.strip()) if out.returncode == 0 and out.stdout.strip() else None

    def wait_active(self, wid):
        """Whether the window became the active one within the time allowed."""
        return self.poll(lambda: self.active_window() == wid)

    def activate(self, wid):
        run(["xdotool", "windowactivate", "--sync", str(wid)])
        return self.wait_active(wid)

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
        """(x, y, width, height) of the window with the window manager's frame."""
        client = self.client_geometry(wid)
        extents = self.frame_extents(wid)
        if not client or not extents:
            return None
        x, y, w, h = client
        left, right, top, bottom = extents
        return x - left, y - top, w + left + right, h + top + bottom

    def covers(self, wid, area):
        """Whether the window's frame came to be exactly the area (x, y, width, height)."""
        return self.poll(lambda: self.frame_geometry(wid) == tuple(area))

    @staticmethod
    def unmaximize(wid):
        run(["wmctrl", "-i", "-r", hex(wid), "-b", "remove,maximized_vert,maximized_horz"],
            check=True)

    @staticmethod
    def maximize(wid):
        run(["wmctrl", "-i", "-r", hex(wid), "-b", "add,maximized_vert,maximized_horz"],
            check=True)

    @staticmethod
    def place(wid, x, y, width, height):
        run(["wmctrl", "-i", "-r", hex(wid), "-e", f"0,{x},{y},{width},{height}"], check=True)

    @staticmethod
    def close(wid):
        """A close request through the window manager."""
        run(["wmctrl", "-i", "-c", hex(wid)], check=True)

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

    def rest_pointer(self, area):
        """Where no button and no track is: near the area's right edge, a quarter down."""
        self.pointer_to(area[0] + area[2] - 5, area[1] + area[3] // 4)

    # Screenshots -----------------------------------------------------------------------

    def shot(self, label=""):
        """The whole screen now."""
        return self._keep(label, ["import", "-window", "root", "-depth", "8", "ppm:-"])

    def _keep(self, label, command):
        """A screenshot by the command, which writes it to its output as a binary PPM."""
        self.counter += 1
        name = f"{self.counter:03d}-{label}"
        out = subprocess.run(command, capture_output=True, timeout=60)
        if out.returncode != 0:
            raise Abort(f"screenshot failed: {out.stderr.decode(errors='replace').strip()}")
        shot = Shot(out.stdout, name)
        if self.work:
            # Kept compressed (a mostly grey screen packs small) until a failure asks for them.
            path = os.path.join(self.work, name + ".ppm.z")
            with open(path, "wb") as f:
                f.write(zlib.compress(out.stdout, 1))
            self.kept.append((name, path))
        return shot

    def save_shots(self, folder):
        """The screenshots kept, as PNG files in the folder."""
        os.makedirs(folder, exist_ok=True)
        for name, path in self.kept:
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                ppm = zlib.decompress(f.read())
            subprocess.run(["convert", "ppm:-", os.path.join(folder, name + ".png")],
                           input=ppm, capture_output=True, timeout=60)


# ------------------------------------------------------------------------------------------
# The same view on a Wayland compositor


class WaylandDesktop(Desktop):
    """sway, as wayland_session.sh started it, in place of the X server and its window
    manager: the program's windows (native or through XWayland) and their geometry from
    sway's tree, keys through a virtual keyboard (wtype), close requests and moves through
    sway's commands, and screenshots of the whole layout (grim), in layout coordinates. A
    window's id is sway's container id. The headless seat has no pointer: there are no
    clicks, the drivers reach controls by keys."""

    @staticmethod
    def tree():
        return json.loads(run(["swaymsg", "-r", "-t", "get_tree"], check=True).stdout)

    @staticmethod
    def views(node=None):
        """Every window in sway's tree (node: where to start, the whole tree unless given)."""
        node = node if node is not None else WaylandDesktop.tree()
        found = []
        if node.get("type") in ("con", "floating_con") and node.get("pid") is not None:
            found.append(node)
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            found.extend(WaylandDesktop.views(child))
        return found

    def program_views(self, pid):
        return [v for v in self.views() if v.get("pid") == pid and v.get("visible", True)]

    def mapped_windows(self, pid):
        return {v["id"]: v.get("name") or "" for v in self.program_views(pid)}

    def window_named(self, pid, caption):
        ids = [v["id"] for v in self.program_views(pid) if v.get("name") == caption]
        return ids[0] if ids else None

    def view(self, wid):
        views = [v for v in self.views() if v["id"] == wid]
        return views[0] if views else None

    def active_window(self):
        focused = [v["id"] for v in self.views() if v.get("focused")]
        return focused[0] if focused else None

    def activate(self, wid):
        run(["swaymsg", f"[con_id={wid}]", "focus"], check=True)
        return self.wait_active(wid)

    def output_of(self, wid):
        """The name of the output that shows the window, or None."""
        def walk(node, output):
            if node.get("type") == "output":
                output = node.get("name")
            if node.get("id") == wid:
                return output
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                found = walk(child, output)
                if found:
                    return found
            return None
        return walk(self.tree(), None)

    def client_geometry(self, wid):
        v = self.view(wid)
        if not v:
            return None
        rect, inner = v["rect"], v["window_rect"]
        return rect["x"] + inner["x"], rect["y"] + inner["y"], inner["width"], inner["height"]

    def frame_geometry(self, wid):
        """The window's area with what sway draws around it (nothing, in these sessions)."""
        v = self.view(wid)
        if not v:
            return None
        rect = v["rect"]
        return rect["x"], rect["y"], rect["width"], rect["height"]

    def frame_extents(self, wid):
        client, frame = self.client_geometry(wid), self.frame_geometry(wid)
        if not client or not frame:
            return None
        return (client[0] - frame[0], frame[0] + frame[2] - client[0] - client[2],
                client[1] - frame[1], frame[1] + frame[3] - client[1] - client[3])

    def close(self, wid):
        run(["swaymsg", f"[con_id={wid}]", "kill"], check=True)

    def move_to_output(self, wid, output):
        run(["swaymsg", f"[con_id={wid}]", "move", "to", "output", output], check=True)

    def key(self, name):
        # wtype takes xdotool's key names as keysyms; a digit's keysym name is the digit.
        # Each wtype is a keyboard of its own whose keymap the seat hands to the focused
        # client when it comes and again when it goes; XWayland compiles each one, and a key
        # that arrives meanwhile is read with the old keymap and lost. So wtype waits before
        # and after the key.
        run(["wtype", "-s", "150", "-k", name, "-s", "150"], check=True)

    def click(self, x, y):
        raise Abort("the Wayland session has no pointer: reach the control by keys")

    def pointer_to(self, x, y):
        pass  # no pointer, nothing to keep out of the way

    def rest_pointer(self, area):
        pass

    def shot(self, label=""):
        return self._keep(label, ["grim", "-t", "ppm", "-"])
