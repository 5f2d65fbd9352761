#!/usr/bin/env python3
"""Runs every benchmark of the program and prints one table (bench/run.sh starts the X
server and window manager first and passes the build folder). The sound measurements run
twice, on each sound server of today's desktops, started, killed and stopped through the test
harness (tests/harness/sound_server.sh): the PulseAudio daemon, then PipeWire with WirePlumber
and its PulseAudio service on a 44.1 kHz graph.

Each figure is set against a floor measured in the same run on the same machine (the sound
figures on the same server):
  motion   Timer1's tick-to-tick error in bench_motion (the real windows) at speeds 5, 65
           and 85, against a bare precise timer at the same intervals;
  tones    from the motion tick that turned to the tone's first frame at the null sink
           (recorded from its monitor and placed on CLOCK_MONOTONIC by its frame index): its
           constant and spread, at each pace of the graph (the server's own; under load;
           under PipeWire also a 1024-frame minimum cycle and a forced 2048-frame cycle),
           against a bare client of the program's own sound-server device that places its
           tones after a steady schedule's moments, with the SDL2_mixer client as the old
           design's line; every tone compared with its file sample for sample;
  first    the first tone after Continue, and the preview tone of Change Tone, over fresh
           starts of the program;
  restart  the sound server (and under PipeWire its PulseAudio service alone) killed and
           started again during a stimulation: from its answering again to the first tone
           at the sink;
  cpu      CPU time and context switches of the real program during a 60 s stimulation at
           speed 65 with tones on, against a bare window moving one 32 x 32 picture on the
           same interval beside a bare sound client sounding tones at the same pace;
  start-up from exec to the title window exposed on the X server, against an empty window;
  memory   the program's peak resident memory (VmHWM) over that stimulation, against the
           empty window's.
Figures and details go to bench/results/bench-<date>.json.
"""

import argparse
import bisect
import datetime
import json
import math
import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "harness")
sys.path.insert(0, HARNESS)
import tones as detector  # noqa: E402
from desktop import (Desktop, SETTINGS_CAPTION, STIMULATION_CAPTION,  # noqa: E402
                     TITLE_CAPTION)

RATE = detector.RATE
FRAME = detector.FRAME
# Sound Tones on the settings window, in pixels of its client area (stored in twips / 15).
SOUNDTONES_AT = (4080 // 15 + 8, 3840 // 15 + 16)
MOTION_SPEEDS = (5, 65, 85)
SETTLE_NS = 1_500_000_000  # the tone floor's start, left out
TONE_TAIL_NS = 300_000_000  # a tone played this close to a program's end may be cut by it
SOUND_THREAD = "tarrowin-sound"  # the sound server library's thread in the program
SERVERS = {"pulseaudio": "PulseAudio", "pipewire": "PipeWire"}
RECORDER_LATENCY_MS = 30
# The paces at which the tones are measured: the harness's settings for the server's start
# (tests/harness/sound_session.sh), and whether busy loops keep every core full. "own": the
# graph at the cycle the program's own streams lead to.
PACES = {
    "own": ({}, False),
    "load": ({}, True),
    "min1024": ({"sound_session_min_quantum": "1024"}, False),
    "forced2048": ({"sound_session_force_quantum": "2048"}, False),
}
PACE_NAMES = {"own": "its own pace", "load": "under load (busy loops)",
              "min1024": "minimum cycle 1024", "forced2048": "cycle forced to 2048"}
PACE_ENV = sorted({name for env, _ in PACES.values() for name in env})


def interval_of(speed):
    """The motion tick's interval at a speed, rounded half to even as the program does."""
    return round((100 - speed) * 1.5)


def steps_of(speed):
    """The motion ticks from one end of the track to the other at a speed."""
    return round((120 - speed) / 6)


# ------------------------------------------------------------------------------------------
# Figures


def percentile(values, p):
    """Linear interpolation between closest ranks."""
    ordered = sorted(values)
    if not ordered:
        return None
    k = (len(ordered) - 1) * p / 100.0
    lo = int(k)
    hi = min(lo + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


def summary(values):
    if not values:
        return {"n": 0, "median": None, "p99": None, "max": None, "min": None}
    return {"n": len(values), "median": statistics.median(values),
            "p99": percentile(values, 99), "max": max(values), "min": min(values)}


def beat(onsets):
    """The tones against their ticks, from [(tick -> sink ms, side)] in the order they
    sounded: the constant (median), its spread (p99 - p1), each side's median, and how far
    the time between two tones strayed from the time between their ticks."""
    values = [v for v, _ in onsets]
    if not values:
        return {"n": 0, "median": None, "spread": None}
    sides = {key: [v for v, side in onsets if side == n] for n, key in ((1, "left"),
                                                                          (2, "right"))}
    result = summary(values)
    result.update({"p1": percentile(values, 1), "spread": percentile(values, 99) -
                   percentile(values, 1),
                   "gap_error_max_ms": max((abs(b - a) for a, b in zip(values, values[1:])),
                                           default=None)})
    result.update({f"{key}_median": statistics.median(v) if v else None
                   for key, v in sides.items()})
    result["values"] = [round(v, 2) for v in values]
    return result


def ratio(a, b):
    return a / b if a is not None and b not in (None, 0) else None


# ------------------------------------------------------------------------------------------
# Machine and processes


def machine_busy():
    """(busy, total) jiffies of all cores, from /proc/stat."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return sum(fields) - idle, sum(fields)


class Load:
    """How busy the whole machine was while a measurement ran (others' work included)."""

    def __init__(self):
        self.start = machine_busy()
        self.loadavg = open("/proc/loadavg").read().split()[0]

    def done(self):
        busy, total = machine_busy()
        cores = os.cpu_count() or 1
        share = (busy - self.start[0]) / max(1, total - self.start[1])
        return {"machine_busy_cores": round(share * cores, 2), "loadavg_1min_at_start":
                float(self.loadavg)}


def read_tasks(pid):
    """{tid: (name, cpu ns, voluntary, involuntary)} of every thread of the process."""
    tasks = {}
    base = f"/proc/{pid}/task"
    for tid in os.listdir(base):
        try:
            with open(f"{base}/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"{base}/{tid}/schedstat") as f:
                cpu = int(f.read().split()[0])
            vol = invol = 0
            with open(f"{base}/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        vol = int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches:"):
                        invol = int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            continue
        tasks[tid] = (name, cpu, vol, invol)
    return tasks


def process_ticks(pid):
    """User + system CPU seconds of the whole process (threads that ended included)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


class CpuSample:
    def __init__(self, pid):
        self.pid = pid
        self.wall = time.monotonic()
        self.ticks = process_ticks(pid)
        self.tasks = read_tasks(pid)


def cpu_between(a, b):
    """CPU share of one core, context switches a second, and the same per thread name."""
    wall = b.wall - a.wall
    threads = {}
    total_cpu = total_vol = total_invol = 0
    for tid, (name, cpu, vol, invol) in b.tasks.items():
        _, cpu0, vol0, invol0 = a.tasks.get(tid, (name, 0, 0, 0))
        entry = threads.setdefault(name, {"threads": 0, "cpu_pct": 0.0, "wakeups_per_s": 0.0,
                                          "involuntary_per_s": 0.0})
        entry["threads"] += 1
        entry["cpu_pct"] += (cpu - cpu0) / 1e9 / wall * 100
        entry["wakeups_per_s"] += (vol - vol0) / wall
        entry["involuntary_per_s"] += (invol - invol0) / wall
        total_cpu += cpu - cpu0
        total_vol += vol - vol0
        total_invol += invol - invol0
    for entry in threads.values():
        for key in ("cpu_pct", "wakeups_per_s", "involuntary_per_s"):
            entry[key] = round(entry[key], 3)
    return {
        "seconds": round(wall, 2),
        "cpu_pct_of_one_core": (b.ticks - a.ticks) / wall * 100,
        "cpu_pct_from_schedstat": total_cpu / 1e9 / wall * 100,
        "context_switches_per_s": (total_vol + total_invol) / wall,
        "voluntary_per_s": total_vol / wall,
        "threads": dict(sorted(threads.items(), key=lambda kv: -kv[1]["cpu_pct"])),
    }


def stop(process, timeout=5):
    if process.poll() is not None:
        return process.returncode
    process.terminate()
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait()


# ------------------------------------------------------------------------------------------
# The sound server


class SoundServer:
    """A private sound server of the test harness (tests/harness/sound_server.sh): its null
    sink in the program's format is the default output. Each kind has a runtime folder of its
    own, which the program, the bare clients and the recorders see while it is in use."""

    def __init__(self, kind, work):
        self.kind = kind
        self.name = SERVERS[kind]
        self.runtime = os.path.join(work, f"sound-{kind}")
        os.makedirs(self.runtime, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.output = os.path.join(work, f"sound-{kind}.out")
        # What a recorder needs on this server, as the harness says (under PipeWire a
        # recording stays on the monitor it names).
        words = subprocess.run(
            ["bash", "-c", 'sound_session_server=$1; source "$2"; sound_session_recorder_env',
             "_", kind, os.path.join(HARNESS, "sound_session.sh")],
            capture_output=True, text=True, check=True).stdout.split()
        self.recorder_env = dict(word.split("=", 1) for word in words)

    def command(self, *words, wait=True):
        """The harness's command on this server; its output goes to a file, as the servers it
        starts keep theirs open."""
        with open(self.output, "a") as out:
            process = subprocess.Popen([os.path.join(HARNESS, "sound_server.sh"), self.kind,
                                        *words], stdout=out, stderr=subprocess.STDOUT)
        return process.wait(60) if wait else process

    def use(self):
        """This server for everything started from now on."""
        os.environ["XDG_RUNTIME_DIR"] = self.runtime
        for name in ("PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "PULSE_COOKIE",
                     "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH"):
            os.environ.pop(name, None)
        Recorder.env = self.recorder_env
        Recorder.watch_latency = self.kind == "pulseaudio"

    def start(self):
        self.use()
        if self.command("start") != 0:
            raise RuntimeError(f"the {self.name} sound server does not start ({self.output})")

    def version(self):
        out = subprocess.run(["pactl", "info"], capture_output=True, text=True,
                             timeout=10).stdout
        m = re.search(r"Server Name: (.*)\nServer Version: (.*)", out)
        return f"{m.group(1)}, version {m.group(2)}" if m else "?"

    def kill(self, part):
        if self.command("kill", part) != 0:
            raise RuntimeError(f"the {self.name} sound server's {part} cannot be killed")

    def stop(self):
        self.command("stop")

    def restart_with(self, settings):
        """Stopped and started again with the harness's `settings` (a pace of the graph),
        which last for this start only."""
        self.stop()
        for name in PACE_ENV:
            os.environ.pop(name, None)
        os.environ.update(settings)
        try:
            self.start()
        finally:
            for name in settings:
                os.environ.pop(name)


# ------------------------------------------------------------------------------------------
# The sink: recording from the null sink's monitor


class Recorder:
    """parec reading the null sink's monitor into bench_sink_recorder, which stamps each
    read on CLOCK_MONOTONIC. `env`: what the server in use asks of a recorder.

    A recording is a client of the graph like any other: under PipeWire the shortest latency
    any client asks for becomes the cycle of the whole graph, so the recorder asks for more
    than a desktop's cycle and leaves the pace to the program's streams (or the bare
    client's); its reads then come a cycle at a time, which the placing takes in its stride.
    On the PulseAudio daemon the sink's latency is the shortest any client asks for too."""

    env = {}
    watch_latency = False  # whether the server reports its sink's latency (PulseAudio)
    LATENCY_POLL_S = 0.2

    def __init__(self, build, work, name, settle=0.5):
        self.raw = os.path.join(work, name + ".raw")
        self.stamps = os.path.join(work, name + ".stamps")
        self.parec = subprocess.Popen(
            ["parec", "--raw", "--device=null.monitor", "--format=s16le", f"--rate={RATE}",
             "--channels=2", f"--latency-msec={RECORDER_LATENCY_MS}"], stdout=subprocess.PIPE,
            env={**os.environ, **Recorder.env})
        self.keeper = subprocess.Popen(
            [os.path.join(build, "bench_sink_recorder"), self.raw, self.stamps],
            stdin=self.parec.stdout)
        self.parec.stdout.close()
        # The sink's latency is the shortest any client asks for, so it changes as the
        # program's or the bare client's streams come and go: it is read all along.
        self.latencies = []
        self.done = threading.Event()
        self.watch = threading.Thread(target=self.watch_sink, daemon=True)
        self.watch.start()
        time.sleep(settle)  # the stream is running before anything sounds

    def watch_sink(self):
        while True:
            try:
                self.latencies.append((time.monotonic_ns(), sink_latency_ns()
                                       if Recorder.watch_latency else 0))
            except (RuntimeError, subprocess.TimeoutExpired):
                pass  # the server is away (a restart) or not ready yet
            if self.done.wait(self.LATENCY_POLL_S):
                return

    def finish(self):
        time.sleep(0.3)  # the last tone has reached the monitor
        self.done.set()
        self.watch.join()
        stop(self.parec)
        if self.keeper.wait(10) != 0:
            raise RuntimeError("the sink recorder failed")
        return Recording(self.raw, self.stamps, self.latencies)

    def finish_after_server_loss(self):
        """The server went away: what the recorder kept is not used. It is ended at once (a
        PulseAudio service whose PipeWire went may keep its clients waiting)."""
        self.done.set()
        self.watch.join()
        stop(self.parec)
        self.keeper.wait(10)


def graph_settings():
    """What the playback streams ask of the server and how its graph is set, while they
    play: each stream's `node.latency` (PipeWire's PulseAudio service shows it), PipeWire's
    clock settings (`pw-metadata -n settings`) and the null sink's configured latency."""
    inputs = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True,
                            timeout=10).stdout
    result = {"node_latency": re.findall(r'node\.latency = "([^"]+)"', inputs),
              "sink_latency_ms": sink_latency_ns() / 1e6}
    settings = ""
    if os.path.exists(os.path.join(os.environ.get("XDG_RUNTIME_DIR", ""), "pipewire-0")):
        settings = subprocess.run(["pw-metadata", "-n", "settings"], capture_output=True,
                                  text=True, timeout=10).stdout
    result["clock"] = dict(re.findall(r"key:'clock\.([^']+)' value:'([^']*)'", settings))
    return result


def sink_latency_ns():
    """The null sink's configured latency: how far ahead of its clock it renders (the
    smallest latency any of its clients asks for)."""
    out = subprocess.run(["pactl", "list", "sinks"], capture_output=True, text=True,
                         timeout=10).stdout
    for block in out.split("Sink #")[1:]:
        if "Name: null\n" in block:
            m = re.search(r"Latency: \d+ usec, configured (\d+) usec", block)
            if m:
                return int(m.group(1)) * 1000
    raise RuntimeError("the null sink's latency is not shown")


class Recording:
    """The recorded samples and a mapping of each frame to CLOCK_MONOTONIC: the moment the
    null sink plays it, on its own clock.

    A read returns the frames that reached the monitor up to that moment, late by however
    long the recorder waited to be scheduled. For each read, read time minus frames so far
    divided by the rate is the sink's clock offset plus that wait. The smallest value over the
    5 s before a read (the lower envelope) drops the waits, and so does the smallest over the
    5 s after it; the larger of the two is taken as the offset there. A step of the offset
    that stays, where the monitor handed out less audio than the time that passed (PipeWire's
    may), places the frames after the step by the reads after it and those before by the
    reads before it. Within the first and last quarter second of a recording only the side
    that lies inside it is taken.

    The sink hands its samples to the monitor when it renders them, its configured latency
    ahead of playing them; so the reads that came soonest are that far ahead of the sink's
    clock, and the latency is added back to each read's offset: the latency read last before
    it (the recorder reads it every 0.2 s). Where it changed, the sink rendered further ahead
    or less far at some moment between two readings: the reads between them are left out.
    (Without it a tone would be placed up to a sink block, here 25 ms, before it was even
    written.) PipeWire reports its sink's latency
    as 0: there a frame is placed when the monitor handed it out, which is not before the sink
    took it; the program's tones and the bare client's are placed the same way in the same
    run, so their difference does not depend on it.

    How far a placing may be off (`spread_at`): the two sides' offsets apart over the half
    second around the frame. Where the monitor went on evenly, that is the scatter of the
    envelope itself; a larger value marks a step near the frame. And over the whole recording, the monitor's
    audio against the wall time (`frames_per_wall_second`)."""

    WINDOW_NS = 500_000_000
    BOUND_NS = 5_000_000_000
    STEP_NS = 2_000_000
    EDGE_NS = 250_000_000

    def __init__(self, raw, stamps, latencies):
        """latencies: [(CLOCK_MONOTONIC ns, the sink's configured latency ns)] in order."""
        latencies = latencies or [(0, 0)]
        self.latencies_ns = sorted({v for _, v in latencies})
        with open(raw, "rb") as f:
            self.data = f.read()
        self.reads = []
        with open(stamps) as f:
            for line in f:
                if not line.startswith("#"):
                    t, total = line.split()
                    self.reads.append((int(t), int(total) // FRAME))
        if not self.reads:
            raise RuntimeError("nothing was recorded from the sink")
        times = [t for t, _ in latencies]

        def latency_at(t):
            k = bisect.bisect_right(times, t)
            if 0 < k < len(latencies) and latencies[k - 1][1] != latencies[k][1]:
                return None  # it changed between these two readings
            return latencies[max(0, k - 1)][1]

        self.raw_offsets = []
        for t, frames in self.reads:
            latency = latency_at(t)
            self.raw_offsets.append(math.inf if latency is None else
                                    t - frames * 1e9 / RATE + latency)
        self.read_times = [t for t, _ in self.reads]
        self.read_frames = [frames for _, frames in self.reads]

    def read_of(self, frame):
        """The index of the read that brought the frame."""
        return min(bisect.bisect_left(self.read_frames, frame + 1), len(self.reads) - 1)

    def sides(self, frame, window=WINDOW_NS):
        """The lower envelope of the offsets over the `window` before the frame's read and
        over the `window` after it; None for a side cut short by the recording's edge."""
        i = self.read_of(frame)
        t = self.read_times[i]
        lo = bisect.bisect_left(self.read_times, t - window)
        hi = bisect.bisect_right(self.read_times, t + window)
        before = min(self.raw_offsets[lo:i + 1])
        after = min(self.raw_offsets[i:hi])
        if t - self.read_times[0] < self.EDGE_NS or before == math.inf:
            before = None
        if self.read_times[-1] - t < self.EDGE_NS or after == math.inf:
            after = None
        if before is None and after is None:  # a recording shorter than half a second
            before = after = min(self.raw_offsets)
        return before, after

    def offset_at(self, frame, window=WINDOW_NS):
        """The larger of the two sides where they part by more than STEP_NS (a step between
        them: the frame's own side is the larger); else the smaller, the tighter bound of
        the same stretch."""
        sides = [v for v in self.sides(frame, window) if v is not None]
        if max(sides) - min(sides) > self.STEP_NS:
            return max(sides)
        return min(sides)

    def spread_at(self, frame, window=WINDOW_NS):
        """ns between the two sides' offsets (0 where only one side is taken)."""
        before, after = self.sides(frame, window)
        return abs(before - after) if before is not None and after is not None else 0.0

    def frames_per_wall_second(self):
        """Seconds of audio the monitor handed out per second of CLOCK_MONOTONIC."""
        (t0, f0), (t1, f1) = self.reads[0], self.reads[-1]
        return (f1 - f0) / RATE / ((t1 - t0) / 1e9) if t1 > t0 else None

    def time_of(self, frame):
        """CLOCK_MONOTONIC ns at which the frame reached the sink: the frame measured by its
        index against the tightest bound of all the reads on its side of any step of the
        monitor's audio, the two sides' envelopes over BOUND_NS. A read's moment jumps by a
        block of the sink (on PipeWire by whole cycles, which the recorder's reads do not
        divide), so the half second around a frame may hold no read that came right as its
        block arrived, and a tone placed by those reads is off by up to a block; over
        seconds, the sink's clock keeps pace with CLOCK_MONOTONIC (audio/wall in the placing
        row) and the bound is that of the whole stretch."""
        return frame * 1e9 / RATE + self.offset_at(frame, self.BOUND_NS)

    def frames(self):
        return len(self.data) // FRAME


class Placing:
    """How well the tones of one server's recordings could be placed in time: the spread of
    the placing at each tone found, each recording's audio against its wall time, and the
    sink latency that was added. A spread above STEP_MS marks a step of the monitor's audio
    against the wall time near the tone."""

    STEP_MS = 1.0

    def __init__(self):
        self.spreads_ms = []
        self.strays_ms = []  # the half second's envelope - the bound over BOUND_NS
        self.frames_per_wall_second = []
        self.latencies_ms = set()

    def add(self, recording, found):
        self.spreads_ms += [recording.spread_at(start) / 1e6 for start, *_ in found]
        self.strays_ms += [(recording.offset_at(start) -
                            recording.offset_at(start, Recording.BOUND_NS)) / 1e6
                           for start, *_ in found]
        ratio_ = recording.frames_per_wall_second()
        if ratio_ is not None and recording.read_times[-1] - recording.read_times[0] > 5e9:
            self.frames_per_wall_second.append(ratio_)
        self.latencies_ms.update(v / 1e6 for v in recording.latencies_ns)

    def figures(self):
        ratios = self.frames_per_wall_second
        steps = [v for v in self.spreads_ms if v > self.STEP_MS]
        return {"spread_ms": summary([v for v in self.spreads_ms if v <= self.STEP_MS]),
                "tones_near_a_step": len(steps), "largest_step_ms": max(steps, default=0.0),
                "half_second_envelope_over_bound_ms": summary(self.strays_ms),
                "frames_per_wall_second": {"min": min(ratios), "max": max(ratios),
                                           "recordings": len(ratios)} if ratios else None,
                "sink_latency_added_ms": sorted(self.latencies_ms)}


PLACING = Placing()  # of the server in use


def find_tones(recording, tones):
    """[(first frame, side, sample-exact, gap frames)] of every tone in the recording
    (tests/harness/tones.py finds them): its side 1 left, 2 right; sample-exact when the
    recording from its file's first frame on is the file. One that is not may bear the mark
    of playback underruns (the file with stretches of it silenced or skipped, or its rest
    lost): the frames lost to them; None when the tone differs in any other way."""
    left, right = detector.channels(recording.data)
    found = detector.find_tones(left, right, {"L": tones[1], "R": tones[2]},
                                rest_may_be_lost=True)
    PLACING.add(recording, [(t["start"],) for t in found])
    return [(t["start"], 1 if t["side"] == "L" else 2, t["exact"],
             0 if t["exact"] else t["lost"] if t.get("gaps") else None) for t in found]


def near_a_step(recording, start, length):
    """Whether the monitor's audio stepped against the wall time in the half second before a
    tone or while it sounded (`length` frames): the monitor handed out less audio than the
    time that passed, and a tone sounding then is recorded with a gap."""
    return max(recording.spread_at(start),
               recording.spread_at(start + length)) > Placing.STEP_MS * 1e6


def match_tones(plays, recording, found):
    """For each (play ns, side): the sink time of its tone, or None; and the tones at the
    sink that no play accounts for."""
    sink = [(recording.time_of(start), side, exact, gap) for start, side, exact, gap in found]
    used = [False] * len(sink)
    matched = []
    j = 0
    for t_play, side in plays:
        while j < len(sink) and sink[j][0] < t_play - 2e6:
            j += 1
        hit = None
        for k in range(j, len(sink)):
            if sink[k][0] > t_play + 200e6:
                break
            if not used[k] and sink[k][1] == side:
                used[k] = True
                hit = sink[k]
                break
        matched.append(hit)
    return matched, sink, used


# ------------------------------------------------------------------------------------------
# Measurements


def read_events(path):
    window = None
    events = []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                window = [int(v) for v in line.split()[-2:]]
                continue
            kind, t, v = line.split()
            events.append((kind, int(t), int(v)))
    return window, events


def motion_errors(events):
    """|real interval - assigned interval| in ms for each tick whose interval had not just
    been changed (a change restarts the timer from the moment of the change)."""
    ticks = [(t, v) for kind, t, v in events if kind == "motion"]
    errors = []
    skipped = 0
    for (t0, v0), (t1, v1) in zip(ticks, ticks[1:]):
        if v0 != v1:
            skipped += 1
            continue
        errors.append(abs((t1 - t0) / 1e6 - v1))
    return errors, skipped


def run_motion_floor(args, interval, seconds, tag):
    out = os.path.join(args.work, f"floor-{interval}.txt")
    load = Load()
    subprocess.run([os.path.join(args.build, "bench_motion"), "floor", str(interval),
                    str(seconds), out], check=True, cwd=args.build, timeout=seconds + 60)
    _, events = read_events(out)
    errors, _ = motion_errors(events)
    result = summary(errors)
    result["load"] = load.done()
    print(f"  {tag}: floor {interval} ms: p99 {result['p99']:.3f} ms", flush=True)
    return result


def run_motion_program(args, speed, seconds, tones, tag="motion"):
    out = os.path.join(args.work, f"{tag}-{speed}.txt")
    load = Load()
    recorder = Recorder(args.build, args.work, f"{tag}-{speed}")
    status = subprocess.Popen([os.path.join(args.build, "bench_motion"), "program", str(speed),
                               str(seconds), out], cwd=args.build)
    time.sleep(min(4, seconds))  # the stimulation and its tones have begun
    graph = graph_settings()
    status.wait(seconds + 60)
    recording = recorder.finish()
    if status.returncode != 0:
        raise RuntimeError(f"bench_motion program {speed} failed ({status.returncode})")
    window, everything = read_events(out)
    events = [e for e in everything if window[0] <= e[1] <= window[1]]
    errors, skipped = motion_errors(events)
    intervals = sorted({v for kind, _, v in events if kind == "motion"})
    motion = summary(errors)
    motion.update({"intervals_ms": intervals, "ticks_skipped_after_interval_change": skipped})

    # Tones: each play belongs to the motion tick that set the tone request.
    ticks = [t for kind, t, _ in events if kind == "motion"]
    pendings = [t for kind, t, _ in events if kind == "pending"]
    plays = [(t, v) for kind, t, v in events if kind == "play"]
    found = find_tones(recording, tones)
    matched, sink, used = match_tones(plays, recording, found)
    latencies, to_play, to_pending, play_to_sink, onsets = [], [], [], [], []
    missing = 0
    previous = None
    overtaken = 0
    for (t_play, side), hit in zip(plays, matched):
        # The first tone tick that began with this tone waiting came after the turn: the
        # turn is the motion tick that began last before it. On a busy machine the next
        # motion tick may begin before the "Play".
        p = bisect.bisect_right(pendings, previous) if previous is not None else 0
        served = pendings[p] if p < len(pendings) and pendings[p] <= t_play else t_play
        previous = t_play
        k = bisect.bisect_right(ticks, served) - 1
        if k < 0:
            continue
        t_set = ticks[k]
        overtaken += bisect.bisect_right(ticks, t_play) - 1 != k
        if served != t_play:
            to_pending.append((served - t_set) / 1e6)
        to_play.append((t_play - t_set) / 1e6)
        if hit is None:
            missing += 1
            continue
        latencies.append((hit[0] - t_set) / 1e6)
        play_to_sink.append((hit[0] - t_play) / 1e6)
        onsets.append(((hit[0] - t_set) / 1e6, side))
    in_window = [s for s, u in zip(sink, used) if window[0] <= s[0] <= window[1]]
    # Every tone played is checked, the first ones too, but not the last one or two: the
    # bench ends the program right after its window, which silences a tone still sounding.
    whole = [hit for (t_play, _), hit in zip(plays, matched)
             if hit and t_play <= window[1] - TONE_TAIL_NS]
    exact = [hit[2] for hit in whole]
    stepped = {recording.time_of(start) for start, side, ok, _ in found
               if not ok and near_a_step(recording, start, tones[side].frames)}
    gaps = [hit[3] for hit in whole if not hit[2]]

    # How long the window took over each motion tick, turns (with their tone) apart.
    handled = [(t, v) for kind, t, v in events if kind == "handled"]
    turn_ms, plain_ms = [], []
    j = 0
    for t, ns in handled:
        while j < len(plays) and plays[j][0] < t:
            j += 1
        turned = j < len(plays) and plays[j][0] <= t + ns
        (turn_ms if turned else plain_ms).append(ns / 1e6)
    motion["handler_ms"] = {"turn": summary(turn_ms), "plain": summary(plain_ms)}
    tone = {
        "tick_to_sink_ms": beat(onsets),
        "onset_ms": summary(latencies),
        "tick_to_tone_tick_ms": summary(to_pending),
        "tick_to_play_ms": summary(to_play),
        "play_to_sink_ms": summary(play_to_sink),
        "plays": len(plays), "missing_at_sink": missing,
        "plays_after_the_next_motion_tick": overtaken,
        "unexpected_at_sink": sum(1 for s, u in zip(sink, used)
                                  if not u and window[0] <= s[0] <= window[1]),
        "tones_in_window": len(in_window),
        "not_sample_exact": sum(1 for e in exact if not e),
        "not_exact_by_underrun": sum(1 for g in gaps if g is not None),
        "not_exact_near_a_monitor_step": sum(1 for hit in whole
                                             if not hit[2] and hit[0] in stepped),
        "frames_lost_to_underruns": [g for g in gaps if g is not None],
    }
    # The first tones of the run, sounded while the output had just been opened.
    first = [(t, v) for kind, t, v in everything if kind == "play" and t < window[0]]
    first_hits, _, _ = match_tones(first, recording, found)
    tone["first_tones_play_to_sink_ms"] = [round((h[0] - t) / 1e6, 2) if h else None
                                           for (t, _), h in zip(first, first_hits)]
    tone["_latencies"] = latencies
    tone["_not_exact"] = tone["not_sample_exact"]
    tone["_gaps"] = tone["not_exact_by_underrun"]
    tone["_stepped"] = tone["not_exact_near_a_monitor_step"]
    tone["_exact_checked"] = len(exact)
    result = {"speed": speed, "motion": motion, "tones": tone, "graph": graph,
              "load": load.done()}
    print(f"  {tag} speed {speed}: motion p99 {motion['p99']:.3f} ms over {motion['n']} ticks; "
          f"{len(latencies)} tones, onset median "
          f"{statistics.median(latencies) if latencies else float('nan'):.2f} ms", flush=True)
    return result


def run_pace(args, tones, pace):
    """The tones at one pace of the graph, on the server started for it: the bare client
    (its tones placed after its schedule's moments), then the program at speed 65 (its tones
    placed after the turns' ticks); each from the tick to the tone's first frame at the
    sink."""
    print(f"Tones, {PACE_NAMES[pace]}", flush=True)
    loops = BusyLoops(os.cpu_count() or 2) if PACES[pace][1] else None
    try:
        client = run_tone_floor(args, tones, args.pace_tones, 200, True, f"{pace}-client")
        run = run_motion_program(args, 65, args.motion_s, tones, tag=pace)
    finally:
        if loops:
            loops.stop()
    tone = run["tones"]
    tone.pop("_latencies")
    program = {"tick_to_sink_ms": tone["tick_to_sink_ms"],
               "not_sample_exact": tone.pop("_not_exact"),
               "not_exact_by_underrun": tone.pop("_gaps"),
               "not_exact_near_a_monitor_step": tone.pop("_stepped"),
               "checked": tone.pop("_exact_checked"), "missing": tone["missing_at_sink"],
               "graph": run["graph"], "run": run}
    t = program["tick_to_sink_ms"]
    print(f"  {pace}: program tick -> sink median {fmt(t['median'])} ms, spread "
          f"{fmt(t['spread'])} ms; {graph_text(run['graph'])}", flush=True)
    return {"busy_loops": len(loops.loops) if loops else 0, "program": program,
            "client": client}


def run_tone_floor(args, tones, count, interval, server, tag):
    """A bare client sounding the two tones alternately: with server, the program's own
    client of the sound server (the floor of the design the program uses); without, the
    SDL2_mixer device through the sound server (the old design's line)."""
    load = Load()
    recorder = Recorder(args.build, args.work, tag)
    # Its CPU and wake-ups too: a bare client of the same audio device, sounding tones at a
    # steady pace, is the floor for what the audio output costs.
    probe = subprocess.Popen([os.path.join(args.build, "bench_tone_floor"), tones[1].path,
                              str(count), str(interval), "--right", tones[2].path] +
                             (["--server"] if server else []),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(SETTLE_NS / 1e9)
    a = CpuSample(probe.pid)
    graph = graph_settings()
    time.sleep(max(1.0, count * interval / 1000 - SETTLE_NS / 1e9 - 0.5))
    b = CpuSample(probe.pid)
    stdout, stderr = probe.communicate(timeout=60)
    recording = recorder.finish()
    if probe.returncode != 0:
        raise RuntimeError(f"bench_tone_floor failed: {stderr.strip()}")
    plays, ticks = [], []
    for line in stdout.splitlines():
        if line.startswith("#"):
            continue
        index, _, tick_ns, play_ns, _ = line.split()
        plays.append((int(play_ns), 1 if int(index) % 2 == 0 else 2))
        ticks.append(int(tick_ns))
    found = find_tones(recording, tones)
    matched, _, _ = match_tones(plays, recording, found)
    # The probe plays its first tone 0.1 s after opening the output, while the sound server
    # is still starting the stream (those tones come late or not at all); the program's
    # tones are kept from 2 s after it opened its output, so these are kept from 1.5 s on.
    stepped = {recording.time_of(start) for start, side, ok, _ in found
               if not ok and near_a_step(recording, start, tones[side].frames)}
    settled = plays[0][0] + SETTLE_NS if plays else 0
    kept = [(t, hit) for (t, _), hit in zip(plays, matched) if t >= settled]
    latencies = [(hit[0] - t) / 1e6 for t, hit in kept if hit]
    result = summary(latencies)
    # The schedule's moments, the ticks the device placed the tones after.
    result["tick_to_sink_ms"] = beat([((hit[0] - tick) / 1e6, side)
                                      for tick, (t, side), hit in zip(ticks, plays, matched)
                                      if hit and t >= settled])
    result["graph"] = graph
    result.update({"plays": len(kept), "missing_at_sink": sum(1 for _, h in kept if h is None),
                   "not_sample_exact": sum(1 for _, h in kept if h and not h[2]),
                   "not_exact_by_underrun": sum(1 for _, h in kept
                                                    if h and not h[2] and h[3] is not None),
                   "not_exact_near_a_monitor_step": sum(
                       1 for _, h in kept if h and not h[2] and h[0] in stepped),
                   "first_tones_left_out_ms": [round((h[0] - t) / 1e6, 2) if h else None
                                               for (t, _), h in zip(plays, matched)
                                               if t < settled],
                   "cpu": cpu_between(a, b), "load": load.done()})
    print(f"  {tag}: {len(latencies)} tones, play-to-sink median {result['median']:.2f} ms, "
          f"p99 {result['p99']:.2f} ms, {result['not_sample_exact']} not sample-exact",
          flush=True)
    return result


# Busy loops, fresh starts, the server restarted ----------------------------------------


class BusyLoops:
    """Shell loops that keep every core busy, started and ended by their process ids."""

    def __init__(self, count):
        self.loops = [subprocess.Popen(["sh", "-c", "while :; do :; done"])
                      for _ in range(count)]
        time.sleep(0.5)

    def stop(self):
        for loop in self.loops:
            loop.kill()
            loop.wait()


def first_hit(play, side, next_same_side, recording, found):
    """The sink time of the tone of one play, or None when none came before the next play of
    the same side (a later tone would be that play's)."""
    matched, _, _ = match_tones([(play, side)], recording, found)
    hit = matched[0]
    if hit is None or (next_same_side is not None and hit[0] >= next_same_side):
        return None
    return hit


def run_first_tones(args, tones, starts, speed):
    """The first tone of each of `starts` fresh starts of the program: from the motion tick
    that turned to the tone at the sink, as for every other tone."""
    load = Load()
    recorder = Recorder(args.build, args.work, "first-tones")
    runs = []
    for i in range(starts):
        out = os.path.join(args.work, f"first-{i}.txt")
        status = subprocess.run([os.path.join(args.build, "bench_motion"), "first", str(speed),
                                 "1", out], cwd=args.build, timeout=60)
        if status.returncode != 0:
            raise RuntimeError(f"bench_motion first {speed} failed ({status.returncode})")
        runs.append(read_events(out)[1])
    recording = recorder.finish()
    found = find_tones(recording, tones)
    onsets, play_to_sink, exact = [], [], []
    for events in runs:
        plays = [(t, v) for kind, t, v in events if kind == "play"]
        ticks = [t for kind, t, _ in events if kind == "motion"]
        if not plays:
            onsets.append(None)
            continue
        t_play, side = plays[0]
        later = [t for t, v in plays[1:] if v == side]
        hit = first_hit(t_play, side, later[0] if later else None, recording, found)
        k = bisect.bisect_right(ticks, t_play) - 1
        t_set = ticks[k] if k >= 0 else t_play
        onsets.append(round((hit[0] - t_set) / 1e6, 2) if hit else None)
        play_to_sink.append(round((hit[0] - t_play) / 1e6, 2) if hit else None)
        if hit:
            exact.append(hit[2])
    result = {"speed": speed, "onset_ms": onsets, "play_to_sink_ms": play_to_sink,
              "not_sample_exact": sum(1 for e in exact if not e), "load": load.done()}
    print(f"  first tones: {onsets}", flush=True)
    return result


def run_previews(args, tones, starts):
    """The preview tone of Change Tone on the settings window, on each of `starts` fresh
    starts: from the "Sound" given to the preview control to the tone at the sink."""
    load = Load()
    recorder = Recorder(args.build, args.work, "previews")
    plays = []
    handler_ms = []  # how long each Change Tone click took, the preview's start included
    for i in range(starts):
        out = os.path.join(args.work, f"preview-{i}.txt")
        status = subprocess.run([os.path.join(args.build, "bench_motion"), "preview",
                                 tones[1].path, "1", out], cwd=args.build, timeout=60)
        if status.returncode != 0:
            raise RuntimeError(f"bench_motion preview failed ({status.returncode})")
        events = read_events(out)[1]
        sounds = [t for kind, t, v in events if kind == "play" and v == 3]
        plays.append(sounds[0] if sounds else None)
        handler_ms += [round(v / 1e6, 2) for kind, _, v in events if kind == "handled"]
    recording = recorder.finish()
    found = find_tones(recording, tones)
    latencies, exact = [], []
    for t in plays:
        hit = first_hit(t, 1, None, recording, found) if t is not None else None
        latencies.append(round((hit[0] - t) / 1e6, 2) if hit else None)
        if hit:
            exact.append(hit[2])
    result = {"sound_to_sink_ms": latencies, "not_sample_exact": sum(1 for e in exact if not e),
              "change_tone_click_ms": handler_ms, "load": load.done()}
    print(f"  previews: {latencies}", flush=True)
    return result


def pactl_answers():
    return subprocess.run(["pactl", "info"], capture_output=True, timeout=5).returncode == 0


def run_restart(args, server, part, tones, speed=65, seconds=14, kill_after=5.0, down=2.0):
    """A part of the sound server (see tests/harness/sound_session.sh: `server`, or under
    PipeWire `service`, its PulseAudio service alone) killed outright during a stimulation, as
    a crash does, and the server started again through the harness after `down` seconds; from
    the moment `pactl info` answers again to the first tone at the sink. The recorder is a
    client of the server too: it is started again once the server is ready (its null sink the
    default output), and how soon its first samples arrive is the floor."""
    out = os.path.join(args.work, f"restart-{part}.txt")
    load = Load()
    before = Recorder(args.build, args.work, f"restart-{part}-before")
    program = subprocess.Popen([os.path.join(args.build, "bench_motion"), "program", str(speed),
                                str(seconds), out], cwd=args.build, stderr=subprocess.PIPE,
                               text=True)
    time.sleep(kill_after)
    killed = time.monotonic_ns()
    server.kill(part)
    before.finish_after_server_loss()
    time.sleep(down)
    if server.kind == "pipewire" and part == "server":
        # A PulseAudio service whose PipeWire went refuses clients until it is started again,
        # as a desktop's service manager does along with the daemon: it goes before the watch
        # for the answer begins.
        server.kill("service")
    starting = server.command("start", wait=False)
    deadline = time.monotonic() + 10
    while not pactl_answers():
        if time.monotonic() > deadline:
            stop(starting)
            raise RuntimeError("the restarted sound server does not answer")
        time.sleep(0.005)
    answered = time.monotonic_ns()
    if starting.wait(30) != 0:
        raise RuntimeError(f"the {server.name} sound server is not ready after its restart")
    ready = time.monotonic_ns()
    after = Recorder(args.build, args.work, f"restart-{part}-after", settle=0)
    try:
        _, stderr = program.communicate(timeout=seconds + 60)
    finally:
        stop(program)
    recording = after.finish()
    # The program tells that tones cannot be heard (exit status 2: it told of a problem).
    if program.returncode not in (0, 2):
        raise RuntimeError(f"bench_motion program {speed} failed ({program.returncode})")
    window, events = read_events(out)
    plays = [(t, v) for kind, t, v in events if kind == "play" and t >= answered]
    found = find_tones(recording, tones)
    sink = sorted((recording.time_of(start), side, exact) for start, side, exact, _ in found)
    heard = [s for s in sink if s[0] >= answered]
    first = heard[0] if heard else None
    recorder_first = recording.reads[0][0] if recording.reads else None
    matched, _, used = match_tones(plays, recording, found)
    after_first = [(p, h) for p, h in zip(plays, matched) if first and p[0] >= first[0] - 200e6]
    sides = [s[1] for s in heard]
    result = {
        "killed": part, "server_killed_ns": killed, "server_answered_ns": answered,
        "down_s": round((answered - killed) / 1e9, 2),
        "ready_after_answer_s": round((ready - answered) / 1e9, 3),
        "back_s": round((first[0] - answered) / 1e9, 3) if first else None,
        "recorder_first_read_s": round((recorder_first - answered) / 1e9, 3)
        if recorder_first else None,
        "plays_after_answer": len(plays),
        "tones_after_answer": len(heard),
        "left_right": [sides.count(1), sides.count(2)],
        "alternating": all(a != b for a, b in zip(sides, sides[1:])),
        "plays_after_first_tone_missing": sum(1 for _, h in after_first if h is None),
        "not_sample_exact_after": sum(1 for s in heard if not s[2]),
        "told": [line for line in stderr.splitlines() if "said" in line or line.strip()][:5],
        "load": load.done(),
    }
    print(f"  restart ({part}): answered {result['down_s']} s after the kill; first tone "
          f"{result['back_s']} s after it answered (recorder's first samples "
          f"{result['recorder_first_read_s']} s); {len(heard)} tones after, "
          f"left/right {result['left_right']}", flush=True)
    return result


# X windows of a process -------------------------------------------------------------------


DESKTOP = Desktop(wait=15)


def window_of(pid, caption):
    wid = DESKTOP.poll(lambda: DESKTOP.window_named(pid, caption))
    if wid is None:
        raise RuntimeError(f"no window '{caption}' of the program")
    return wid


def wait_active(wid):
    if not DESKTOP.wait_active(wid):
        raise RuntimeError(f"window {wid} did not get the focus")


def run_cpu(args, tones, seconds, title_seconds):
    """The real program, steered as a practitioner would: title, settings (Sound Tones
    ticked by a click), Enter; speed 65 is the slider's start position."""
    program = subprocess.Popen([os.path.join(args.build, "tarrowin")], cwd=args.build,
                               stderr=subprocess.PIPE, text=True)
    try:
        title = window_of(program.pid, TITLE_CAPTION)
        wait_active(title)
        time.sleep(2)
        load_title = Load()
        a = CpuSample(program.pid)
        time.sleep(title_seconds)
        b = CpuSample(program.pid)
        floor = cpu_between(a, b)
        floor["load"] = load_title.done()
        floor["peak_rss_kb"] = peak_rss_kb(program.pid)

        DESKTOP.key("Return")
        settings = window_of(program.pid, SETTINGS_CAPTION)
        wait_active(settings)
        x, y, _, _ = DESKTOP.client_geometry(settings)
        DESKTOP.click(x + SOUNDTONES_AT[0], y + SOUNDTONES_AT[1])
        time.sleep(0.3)
        recorder = Recorder(args.build, args.work, "cpu")
        DESKTOP.key("Return")
        window_of(program.pid, STIMULATION_CAPTION)
        time.sleep(2)
        load_run = Load()
        c = CpuSample(program.pid)
        started = time.monotonic_ns()
        time.sleep(seconds)
        d = CpuSample(program.pid)
        ended = time.monotonic_ns()
        run = cpu_between(c, d)
        run["load"] = load_run.done()
        run["peak_rss_kb"] = peak_rss_kb(program.pid)
        recording = recorder.finish()
    finally:
        stop(program)
    found = find_tones(recording, tones)
    in_window = [t for t in found if started <= recording.time_of(t[0]) <= ended]
    run["tones_in_window"] = len(in_window)
    run["tones_per_s"] = len(in_window) / ((ended - started) / 1e9)
    run["not_sample_exact"] = sum(1 for t in in_window if not t[2])
    run["not_exact_by_underrun"] = sum(1 for t in in_window if not t[2] and t[3] is not None)
    run["not_exact_near_a_monitor_step"] = sum(
        1 for t in in_window if not t[2] and near_a_step(recording, t[0], tones[t[1]].frames))
    print(f"  cpu: stimulation {run['cpu_pct_of_one_core']:.2f} % of a core, "
          f"{run['context_switches_per_s']:.0f} switches/s; title "
          f"{floor['cpu_pct_of_one_core']:.2f} %, {floor['context_switches_per_s']:.0f}/s; "
          f"{len(in_window)} tones", flush=True)
    return run, floor


def run_cpu_floors(args, tones, seconds, speed=65):
    """The floors of the program's CPU at a speed, side by side for the same time: a bare Qt
    window, maximised, moving one 32 x 32 picture on the motion's interval
    (bench_moving_window), and a bare client of the program's sound-server device sounding
    the two tones at the pace of the turns (a tone every `steps` ticks), with the recorder
    running as in the program's run (it sets how often the server wakes its clients)."""
    interval = interval_of(speed)
    pace = interval * steps_of(speed)
    load = Load()
    recorder = Recorder(args.build, args.work, "cpu-floor")
    count = int((seconds + 3.5) * 1000 / pace) + 1
    probe = subprocess.Popen([os.path.join(args.build, "bench_tone_floor"), tones[1].path,
                              str(count), str(pace), "--right", tones[2].path, "--server"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    window = subprocess.Popen([os.path.join(args.build, "bench_moving_window"), str(interval),
                               str(steps_of(speed)),
                               os.path.join(args.build, "Pictures", "Face.ico")],
                              cwd=args.build, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True)
    try:
        time.sleep(2)
        a = (CpuSample(window.pid), CpuSample(probe.pid))
        time.sleep(seconds)
        b = (CpuSample(window.pid), CpuSample(probe.pid))
    finally:
        stop(window)
    shown, window_err = window.communicate()
    stdout, stderr = probe.communicate(timeout=60)
    recording = recorder.finish()
    if probe.returncode != 0:
        raise RuntimeError(f"bench_tone_floor failed: {stderr.strip()}")
    m = re.search(r"shown (\d+) (\d+)", shown)
    if not m:
        raise RuntimeError(f"the moving window was not maximised: {window_err.strip()}")
    plays = [(int(line.split()[3]), 1 if int(line.split()[0]) % 2 == 0 else 2)
             for line in stdout.splitlines() if not line.startswith("#")]
    found = find_tones(recording, tones)
    matched, _, _ = match_tones(plays, recording, found)
    stepped = {recording.time_of(start) for start, side, ok, _ in found
               if not ok and near_a_step(recording, start, tones[side].frames)}
    moving = cpu_between(a[0], b[0])
    moving.update({"interval_ms": interval, "steps": steps_of(speed),
                   "window": [int(m.group(1)), int(m.group(2))]})
    client = cpu_between(a[1], b[1])
    client.update({"pace_ms": pace, "plays": len(plays),
                   "missing_at_sink": sum(1 for h in matched if h is None),
                   "not_sample_exact": sum(1 for h in matched if h and not h[2]),
                   "not_exact_near_a_monitor_step": sum(1 for h in matched
                                                        if h and not h[2] and h[0] in stepped)})
    result = {"moving_window": moving, "sound_client": client, "load": load.done()}
    print(f"  cpu floors: moving window {moving['cpu_pct_of_one_core']:.2f} % of a core "
          f"({moving['window'][0]}x{moving['window'][1]}), sound client "
          f"{client['cpu_pct_of_one_core']:.2f} % (a tone every {pace} ms)", flush=True)
    return result


def run_startup(args, runs):
    results = {}
    watch = os.path.join(args.build, "bench_startup_watch")
    # The empty window once more, linked with the audio libraries as the program is: what
    # loading them costs, apart from anything the program does.
    targets = {"program": os.path.join(args.build, "tarrowin"),
               "empty": os.path.join(args.build, "bench_empty_window"),
               "empty_with_audio_libraries": os.path.join(args.build, "bench_empty_window_sdl")}
    load = Load()
    # One start of each first, not counted: the libraries are in the page cache afterwards.
    for i in range(runs + 1):
        for name, path in targets.items():
            out = subprocess.run([watch, "300", path], capture_output=True, text=True,
                                 cwd=args.build, timeout=60)
            m = re.search(r"startup_ns (\d+) vmhwm_kb (-?\d+)", out.stdout)
            if not m:
                raise RuntimeError(f"start-up of {name} not seen: {out.stderr.strip()}")
            if i > 0:
                results.setdefault(name, []).append((int(m.group(1)) / 1e6, int(m.group(2))))
    summary_ = {}
    for name, values in results.items():
        ms = [v for v, _ in values]
        summary_[name] = {"median_ms": statistics.median(ms), "min_ms": min(ms),
                          "max_ms": max(ms), "runs_ms": [round(v, 1) for v in ms],
                          "peak_rss_kb_median": statistics.median(kb for _, kb in values)}
    summary_["load"] = load.done()
    print(f"  start-up: program {summary_['program']['median_ms']:.0f} ms, empty window "
          f"{summary_['empty']['median_ms']:.0f} ms, with the audio libraries "
          f"{summary_['empty_with_audio_libraries']['median_ms']:.0f} ms", flush=True)
    return summary_


# ------------------------------------------------------------------------------------------
# Table


def fmt(value, digits=2, unit=""):
    if value is None:
        return "-"
    return f"{value:.{digits}f}{unit}"


def table(report):
    rows = [("Measurement", "Ours", "Floor", "Ratio / diff", "Target", "Holds")]

    if report.get("motion"):
        for speed in MOTION_SPEEDS:
            m = report["motion"].get(str(speed))
            f = report["motion_floor"].get(str(interval_of(speed)))
            if not m or not f:
                continue
            rows.append((f"Motion {interval_of(speed)} ms (speed {speed}) |err| med/p99/max ms",
                         f"{fmt(m['median'])}/{fmt(m['p99'])}/{fmt(m['max'])}",
                         f"{fmt(f['median'])}/{fmt(f['p99'])}/{fmt(f['max'])}",
                         f"p99 x{fmt(ratio(m['p99'], f['p99']))}",
                         "p99 <= floor p99 + 0.5", yes(m["p99"] <= f["p99"] + 0.5)))
    for kind, result in report["servers"].items():
        rows += server_rows(SERVERS[kind], result)
    if report.get("startup"):
        s = report["startup"]
        rows.append((f"Start-up to title exposed ms (median of {len(s['program']['runs_ms'])})",
                     fmt(s["program"]["median_ms"], 0),
                     f"empty window {fmt(s['empty']['median_ms'], 0)} "
                     f"(+audio libs {fmt(s['empty_with_audio_libraries']['median_ms'], 0)})",
                     f"x{fmt(ratio(s['program']['median_ms'], s['empty']['median_ms']))}",
                     "<= 250 and <= 1.5x", yes(s["program"]["median_ms"] <= 250 and
                                               s["program"]["median_ms"] <=
                                               1.5 * s["empty"]["median_ms"])))
        first = next(iter(report["servers"].values()), {})
        if first.get("cpu"):
            rss = first["cpu"]["peak_rss_kb"] / 1024
            rss_floor = s["empty"]["peak_rss_kb_median"] / 1024
            rows.append((f"Peak RSS MB (VmHWM, 60 s stimulation, {first['server']})",
                         fmt(rss, 1), f"empty window {fmt(rss_floor, 1)}",
                         f"x{fmt(ratio(rss, rss_floor))}", "<= 60", yes(rss <= 60)))

    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    lines = []
    for n, r in enumerate(rows):
        lines.append("| " + " | ".join(v.ljust(w) for v, w in zip(r, widths)) + " |")
        if n == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def graph_text(graph):
    """What the streams asked of the server and how the graph was set, in a few words."""
    clock = graph.get("clock") or {}
    if not clock:
        return f"sink {graph['sink_latency_ms']:.0f} ms"
    asked = sorted(graph["node_latency"], key=lambda v: int(v.split("/")[0]))
    return (f"asked {asked[0] if asked else '-'}, min {clock.get('min-quantum', '-')}, "
            f"forced {clock.get('force-quantum', '-')}")


def pace_rows(name, paces):
    """A row a pace of the graph: the program's tones, placed after the turn's tick, from
    the tick to the sink, beside the bare client's placed after its schedule's moments."""
    rows = []
    for pace, p in paces.items():
        t, c = p["program"]["tick_to_sink_ms"], p["client"]["tick_to_sink_ms"]
        ours, client = p["program"], p["client"]
        text = (f"{fmt(t['median'])} / {fmt(t['spread'])} ({t['n']}); "
                f"{ours['not_sample_exact']}/{ours['checked']}, {ours['missing']} missing")
        floor = (f"client {fmt(c['median'])} / {fmt(c['spread'])} ({c['n']}); "
                 f"{client['not_sample_exact']}/{client['n']}, "
                 f"{client['missing_at_sink']} missing")
        if not t["n"] or not c["n"]:
            rows.append((f"{name}, {PACE_NAMES[pace]}: tick -> sink", text, floor, "", "", "NO"))
            continue
        sides = t["left_median"] - t["right_median"]
        dmed = t["median"] - c["median"]
        ok = (t["spread"] <= 2 and abs(sides) <= 1 and dmed <= 0.5 and
              ours["not_sample_exact"] == 0 and ours["missing"] == 0)
        rows.append((f"{name}, {PACE_NAMES[pace]}: tick -> sink ms med / spread p99-p1 "
                     "(tones); not exact [placed on the server's clock]", text, floor,
                     f"med {dmed:+.2f}, L-R {sides:+.2f}; {graph_text(ours['graph'])}",
                     "spread <= 2, |L-R| <= 1, med <= +0.5, 0 not exact", yes(ok)))
    return rows


def server_rows(name, report):
    """The rows of the sound measurements on one server, each against the bare client on the
    same server in the same run."""
    rows = []
    onset_p99 = report.get("tones", {}).get("p99")

    def stepped(figures):
        n = figures.get("not_exact_near_a_monitor_step", 0)
        return f" ({n} at a monitor step)" if n else ""

    own_client = report.get("paces", {}).get("own", {}).get("client")
    rows += pace_rows(name, report.get("paces", {}))
    if report.get("tones") and own_client:
        t = report["tones"]
        f = own_client
        rows.append((f"{name}: tones not sample-exact / checked [by underruns], motion runs",
                     f"{t['not_sample_exact']}/{t['checked']} [{t['not_exact_by_underrun']}], "
                     f"{t['missing']} missing" + stepped(t),
                     f"client {f['not_sample_exact']}/{f['n']} "
                     f"[{f['not_exact_by_underrun']}], {f['missing_at_sink']} missing" +
                     stepped(f), "",
                     "0, 0 missing", yes(t["not_sample_exact"] == 0 and t["missing"] == 0)))
    placing = report.get("placing")
    if placing and placing["spread_ms"]["n"] is not None:
        sp = placing["spread_ms"]
        fw = placing["frames_per_wall_second"]
        first = (own_client or {}).get("min")
        stray = placing["half_second_envelope_over_bound_ms"]
        rows.append((f"{name}: placing at the sink, error bar ms (tones)",
                     f"spread med/p99/max {fmt(sp['median'])}/{fmt(sp['p99'])}/"
                     f"{fmt(sp['max'])} ({sp['n']}); near a step "
                     f"{placing['tones_near_a_step']} (up to {placing['largest_step_ms']:.1f}); "
                     f"half second's envelope over the {Recording.BOUND_NS // 10**9} s bound "
                     f"med/p99 {fmt(stray['median'])}/{fmt(stray['p99'])}",
                     f"audio/wall {fw['min']:.5f}..{fw['max']:.5f} ({fw['recordings']})"
                     if fw else "-",
                     "latency added " + ", ".join(f"{v:.1f}" for v in
                                                   placing["sink_latency_added_ms"]) +
                     (f"; client earliest {first:+.2f}" if first is not None else ""), "", ""))
    if report.get("tone_floor_sdl"):
        o = report["tone_floor_sdl"]
        rows.append((f"{name}: old design (SDL2_mixer, played at the call): play -> sink "
                     "med/p99/max; not exact",
                     "-", f"{fmt(o['median'])}/{fmt(o['p99'])}/{fmt(o['max'])} ({o['n']}); "
                     f"{o['not_sample_exact']}/{o['n']} [{o['not_exact_by_underrun']}], "
                     f"{o['missing_at_sink']} missing", "", "", ""))
    def early(values):
        lost = sum(1 for v in values if v is None)
        late = sum(1 for v in values if v is not None and onset_p99 is not None and
                   v > onset_p99)
        heard = [v for v in values if v is not None]
        worst = f", max {max(heard):.1f} ms" if heard else ""
        return f"{lost} lost, {late} late of {len(values)}{worst}", lost == 0 and late == 0

    floor_first = [v for pace in report.get("paces", {}).values()
                   for v in pace["client"]["first_tones_left_out_ms"][:1]]
    floor_text = "client's first: " + ", ".join(
        "lost" if v is None else f"{v:.1f}" for v in floor_first) + " ms" if floor_first else ""
    if report.get("first_tones") and onset_p99 is not None:
        text, ok = early(report["first_tones"]["onset_ms"])
        rows.append((f"{name}: first tone after Continue (fresh starts, speed "
                     f"{report['first_tones']['speed']})", text, floor_text,
                     f"late: > onset p99 {onset_p99:.1f}", "0 lost, 0 late", yes(ok)))
    if report.get("previews") and onset_p99 is not None:
        text, ok = early(report["previews"]["sound_to_sink_ms"])
        rows.append((f"{name}: first preview tone (fresh starts, Change Tone)", text,
                     floor_text, f"late: > onset p99 {onset_p99:.1f}", "0 lost, 0 late",
                     yes(ok)))
    if report.get("cpu") and report.get("cpu_floors"):
        c = report["cpu"]
        moving = report["cpu_floors"]["moving_window"]
        client = report["cpu_floors"]["sound_client"]
        title = report["cpu_title"]
        floors = moving["cpu_pct_of_one_core"] + client["cpu_pct_of_one_core"]
        over = c["cpu_pct_of_one_core"] - floors
        rows.append((f"{name}: CPU % of one core ({c['seconds']:.0f} s, speed 65, tones)",
                     fmt(c["cpu_pct_of_one_core"]),
                     f"moving window {fmt(moving['cpu_pct_of_one_core'])} + client "
                     f"{fmt(client['cpu_pct_of_one_core'])} = {fmt(floors)} "
                     f"(title {fmt(title['cpu_pct_of_one_core'])})",
                     f"{over:+.2f} points", "<= floors + 0.2", yes(over <= 0.2)))
        extra = (c["context_switches_per_s"] - moving["context_switches_per_s"] -
                 client["context_switches_per_s"])
        rows.append((f"{name}: wake-ups / s (context switches, all threads)",
                     fmt(c["context_switches_per_s"], 0),
                     f"moving window {fmt(moving['context_switches_per_s'], 0)}, client "
                     f"{fmt(client['context_switches_per_s'], 0)}, title "
                     f"{fmt(title['context_switches_per_s'], 0)}",
                     f"{extra:+.0f}", "", ""))

        def switches(threads):
            entry = threads.get(SOUND_THREAD)
            return entry["wakeups_per_s"] + entry["involuntary_per_s"] if entry else None
        sound = switches(c["threads"])
        idle = switches(title["threads"])
        client_sound = switches(client["threads"])
        rows.append((f"{name}: wake-ups / s by thread while tones sound",
                     ", ".join(f"{thread} {v['wakeups_per_s'] + v['involuntary_per_s']:.0f}"
                               for thread, v in list(c["threads"].items())[:4]),
                     f"client's sound thread {fmt(client_sound, 0)}; title: sound thread "
                     f"{fmt(idle, 1)}",
                     f"sound {sound - client_sound:+.0f}" if sound is not None and
                     client_sound is not None else "",
                     "sound: <= client's + 10 %, 0 idle",
                     yes(sound is not None and client_sound is not None and
                         sound <= 1.1 * client_sound and idle is not None and idle < 0.5)))
    for part, r in report.get("restart", {}).items():
        back = r["back_s"]
        what = {"server": "the server", "service": "its PulseAudio service"}[part]
        if name == "PipeWire" and part == "server":
            what = "PipeWire (and all with it)"
        rows.append((f"{name}: sound back after {what} restarts s (from `pactl info`)",
                     f"{fmt(back, 2)}; after: L {r['left_right'][0]} R {r['left_right'][1]}"
                     f"{', alternating' if r['alternating'] else ', NOT alternating'}, "
                     f"{r['plays_after_first_tone_missing']} missing",
                     f"recorder's first samples {fmt(r['recorder_first_read_s'], 2)}",
                     "", "<= 2", yes(back is not None and back <= 2 and r["alternating"] and
                                     r["plays_after_first_tone_missing"] == 0)))
    return rows


def yes(ok):
    return "yes" if ok else "NO"


# ------------------------------------------------------------------------------------------


def run_server(args, server, tones, motion, old_line, report):
    """Every sound measurement on one server. With `motion` the motion floors and the speed
    5 run are measured too (the motion rows come from them); with `old_line` the old design's
    SDL2_mixer line."""
    global PLACING
    PLACING = Placing()
    parts = args.parts
    result = {"server": server.name, "runs": {}}
    result["paces"] = {}
    if "tones" in parts:
        for pace in ("own", "load"):
            result["paces"][pace] = run_pace(args, tones, pace)
        if old_line:
            result["tone_floor_sdl"] = run_tone_floor(args, tones, 88, 200, False,
                                                      "tone-floor-sdl")

    all_latencies = []
    not_exact = checked = missing = gaps = stepped = 0
    if "motion" in parts:
        print("Motion and tones", flush=True)
        for speed in MOTION_SPEEDS if motion else MOTION_SPEEDS[1:]:
            if motion:
                # The floor right before the program, so both see much the same load.
                interval = interval_of(speed)
                report["motion_floor"][str(interval)] = run_motion_floor(
                    args, interval, args.motion_s, f"speed {speed}")
            run = run_motion_program(args, speed, args.motion_s, tones)
            tone = run["tones"]
            all_latencies += tone.pop("_latencies")
            not_exact += tone.pop("_not_exact")
            gaps += tone.pop("_gaps")
            stepped += tone.pop("_stepped")
            checked += tone.pop("_exact_checked")
            missing += tone["missing_at_sink"]
            result["runs"][str(speed)] = run
            if motion:
                report["motion"][str(speed)] = run["motion"]

    if "cpu" in parts:
        print("CPU and memory", flush=True)
        result["cpu_floors"] = run_cpu_floors(args, tones, args.cpu_s)
        result["cpu"], result["cpu_title"] = run_cpu(args, tones, args.cpu_s, args.title_s)
        not_exact += result["cpu"]["not_sample_exact"]
        gaps += result["cpu"]["not_exact_by_underrun"]
        stepped += result["cpu"]["not_exact_near_a_monitor_step"]
        checked += result["cpu"]["tones_in_window"]

    if "first" in parts:
        print("First tones after Continue, fresh starts", flush=True)
        result["first_tones"] = run_first_tones(args, tones, args.starts, 85)

    if "preview" in parts:
        print("First preview tones, fresh starts", flush=True)
        result["previews"] = run_previews(args, tones, args.starts)

    if "restart" in parts:
        result["restart"] = {}
        for part in ("service", "server") if server.kind == "pipewire" else ("server",):
            print(f"Sound server restarted during a run ({part} killed)", flush=True)
            result["restart"][part] = run_restart(args, server, part, tones)

    if "tones" in parts and server.kind == "pipewire":
        # Last: the server is started again for each.
        for pace in ("min1024", "forced2048"):
            server.restart_with(PACES[pace][0])
            result["paces"][pace] = run_pace(args, tones, pace)

    if "motion" in parts:
        tones_summary = summary(all_latencies)
        tones_summary.update({"not_sample_exact": not_exact, "checked": checked,
                              "not_exact_by_underrun": gaps, "missing": missing,
                              "not_exact_near_a_monitor_step": stepped})
        result["tones"] = tones_summary
    result["placing"] = PLACING.figures()
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--quick", action="store_true", help="short runs, rough figures")
    parser.add_argument("--only", default="startup,tones,motion,cpu,first,preview,restart",
                        help="comma-separated parts to run (default: all)")
    parser.add_argument("--servers", default="pulseaudio,pipewire",
                        help="comma-separated sound servers to measure on, in this order")
    args = parser.parse_args()
    args.parts = set(args.only.split(","))
    args.motion_s = 6 if args.quick else 30
    args.cpu_s = 10 if args.quick else 60
    args.title_s = 5 if args.quick else 10
    args.starts = 4 if args.quick else 16
    # The bare client's tones at each pace, every 200 ms: 80 kept, more than the program's
    # 30 s at speed 65 gives.
    args.pace_tones = 22 if args.quick else 88
    startup_runs = 3 if args.quick else 10
    tones = {1: detector.ToneFile(os.path.join(args.build, "Tones", "beep_l.wav"), "L"),
             2: detector.ToneFile(os.path.join(args.build, "Tones", "beep_r.wav"), "R")}

    report = {"date": datetime.datetime.now().isoformat(timespec="seconds"),
              "machine": {"cores": os.cpu_count(), "kernel": os.uname().release,
                          "loadavg_at_start": open("/proc/loadavg").read().split()[:3]},
              "quick": args.quick, "motion": {}, "motion_floor": {}, "servers": {}}
    began = time.monotonic()

    for n, kind in enumerate(args.servers.split(",")):
        server = SoundServer(kind, args.work)
        server.start()
        try:
            print(f"== {server.name}: {server.version()}", flush=True)
            # The program connects to the sound server at start: start-up is measured once,
            # with the first server running.
            if n == 0 and "startup" in args.parts:
                print("Start-up", flush=True)
                report["startup"] = run_startup(args, startup_runs)
            report["servers"][kind] = {"version": server.version()}
            report["servers"][kind].update(run_server(args, server, tones, motion=n == 0,
                                                 old_line=n == 0, report=report))
        finally:
            server.stop()

    report["bench_seconds"] = round(time.monotonic() - began)
    report["machine"]["loadavg_at_end"] = open("/proc/loadavg").read().split()[:3]

    text = table(report)
    report["table"] = text
    stamp = datetime.datetime.now().strftime("%Y-%m-%d-%H%M%S")
    path = os.path.join(args.results, f"bench-{stamp}.json")
    with open(path, "w") as f:
        json.dump(report, f, indent=2)
    print()
    print(f"Tarrowin benchmarks, {report['date']}, {os.cpu_count()} cores, load average "
          f"{' '.join(report['machine']['loadavg_at_start'])} at start, "
          f"{report['bench_seconds']} s" + (" (quick: rough figures)" if args.quick else ""))
    print(text)
    print(f"\nFigures and details: {path}")


if __name__ == "__main__":
    sys.exit(main())
