#!/usr/bin/env python3
"""Runs every benchmark of the program and prints one table (bench/run.sh starts the X
server, window manager and sound server first and passes the build folder).

Each figure is set against a floor measured in the same run on the same machine:
  motion   Timer1's tick-to-tick error in bench_motion (the real windows) at speeds 5, 65
           and 85, against a bare precise timer at the same intervals;
  tones    from the motion tick that turned to the tone's first sample at the null sink
           (recorded from its monitor and placed on CLOCK_MONOTONIC), against a bare client
           of the same audio device playing the same files; every tone compared with its
           file sample for sample;
  cpu      CPU time and context switches of the real program during a 60 s stimulation at
           speed 65 with tones on, against the same process sitting on its title window;
  start-up from exec to the title window exposed on the X server, against an empty window;
  memory   the program's peak resident memory (VmHWM) over that stimulation, against the
           empty window's.
Figures and details go to bench/results/bench-<date>.json.
"""

import argparse
import datetime
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import time
import wave

RATE = 44100
FRAME = 4  # bytes: 16-bit stereo
TITLE_CAPTION = "Tarrowin (Alternating bilateral visuals and tones for EMDR)"
SETTINGS_CAPTION = "Setttings"
STIMULATION_CAPTION = "Alternating Bilateral Stimulation"
# Sound Tones on the settings window, in pixels of its client area (stored in twips / 15).
SOUNDTONES_AT = (4080 // 15 + 8, 3840 // 15 + 16)
MOTION_SPEEDS = (5, 65, 85)
SETTLE_NS = 1_500_000_000  # the tone floor's start, left out


def interval_of(speed):
    """The motion tick's interval at a speed, rounded half to even as the program does."""
    return round((100 - speed) * 1.5)


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
        return {"n": 0, "median": None, "p99": None, "max": None}
    return {"n": len(values), "median": statistics.median(values),
            "p99": percentile(values, 99), "max": max(values)}


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
# The sink: recording from the null sink's monitor


class Recorder:
    """parec reading the null sink's monitor into bench_sink_recorder, which stamps each
    read on CLOCK_MONOTONIC."""

    def __init__(self, build, work, name):
        self.raw = os.path.join(work, name + ".raw")
        self.stamps = os.path.join(work, name + ".stamps")
        self.parec = subprocess.Popen(
            ["parec", "--raw", "--device=null.monitor", "--format=s16le", f"--rate={RATE}",
             "--channels=2", "--latency-msec=5"], stdout=subprocess.PIPE)
        self.keeper = subprocess.Popen(
            [os.path.join(build, "bench_sink_recorder"), self.raw, self.stamps],
            stdin=self.parec.stdout)
        self.parec.stdout.close()
        time.sleep(0.5)  # the stream is running before anything sounds

    def finish(self):
        time.sleep(0.3)  # the last tone has reached the monitor
        stop(self.parec)
        if self.keeper.wait(10) != 0:
            raise RuntimeError("the sink recorder failed")
        return Recording(self.raw, self.stamps)


class Recording:
    """The recorded samples and a mapping of each frame to CLOCK_MONOTONIC.

    A read returns the frames that reached the monitor up to that moment, late by however
    long the recorder waited to be scheduled. For each read, read time minus frames so far
    divided by the rate is the sink's clock offset plus that wait; the smallest value within
    half a second either side is taken as the offset there, which drops the waits and follows
    the slow drift of the null sink's clock against CLOCK_MONOTONIC."""

    WINDOW_NS = 500_000_000

    def __init__(self, raw, stamps):
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
        offsets = [t - frames * 1e9 / RATE for t, frames in self.reads]
        # Sliding minimum over the time window, both sides (two passes of a monotonic queue).
        n = len(self.reads)
        self.offset = [0.0] * n
        lo = 0
        hi = 0
        from collections import deque
        window = deque()
        for i in range(n):
            t = self.reads[i][0]
            while hi < n and self.reads[hi][0] <= t + self.WINDOW_NS:
                while window and offsets[window[-1]] >= offsets[hi]:
                    window.pop()
                window.append(hi)
                hi += 1
            while self.reads[lo][0] < t - self.WINDOW_NS:
                lo += 1
            while window[0] < lo:
                window.popleft()
            self.offset[i] = offsets[window[0]]
        self.read_frames = [frames for _, frames in self.reads]

    def time_of(self, frame):
        """CLOCK_MONOTONIC ns at which the frame reached the sink."""
        import bisect
        i = min(bisect.bisect_left(self.read_frames, frame + 1), len(self.reads) - 1)
        return frame * 1e9 / RATE + self.offset[i]

    def frames(self):
        return len(self.data) // FRAME


class ToneFile:
    def __init__(self, path):
        with wave.open(path) as w:
            if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (2, 2, RATE):
                raise RuntimeError(f"{path}: not 16-bit stereo at {RATE} Hz")
            self.data = w.readframes(w.getnframes())
        self.path = path
        first = re.compile(rb"[^\x00]").search(self.data)
        self.lead = first.start() // FRAME  # silent frames before the first sound
        # The channel that sounds: 0 left, 1 right (each file sounds in one channel only).
        self.channel = (first.start() % FRAME) // 2


def find_tones(recording, tones):
    """[(first frame, side, sample-exact, gap frames)] of every tone in the recording. A tone
    begins at the first non-silent frame after silence; its side is the channel that sounds.
    It is sample-exact when the recording from its file's first frame on equals the file.
    One that is not is looked at for the mark of playback underruns (see underrun_gap): the
    frames lost to them, or None when the tone differs in any other way."""
    found = []
    data = recording.data
    nonzero = re.compile(rb"[^\x00]")
    quiet = b"\x00" * (FRAME * 200)  # 4.5 ms of silence ends a tone
    pos = 0
    while True:
        m = nonzero.search(data, pos)
        if not m:
            break
        frame = m.start() // FRAME
        channel = (m.start() % FRAME) // 2
        side = 1 if channel == 0 else 2
        tone = tones[side]
        start = frame - tone.lead
        begin = start * FRAME
        exact = begin >= 0 and data[begin:begin + len(tone.data)] == tone.data
        dropout = None if exact else underrun_gap(data, begin, tone.data)
        gap = 0 if exact else dropout[0] if dropout else None
        if exact:
            pos = begin + len(tone.data)
        elif dropout:
            pos = dropout[1]
        else:
            end = data.find(quiet, m.start())
            pos = end if end >= 0 else len(data)
        pos += (-pos) % FRAME  # frame-aligned again
        found.append((start, side, exact, gap))
    return found


def underrun_gap(data, begin, tone, most=5):
    """(frames lost, end in the recording) of a tone hit by playback underruns, when that is
    all that differs from its file: the recording is the file with stretches of it silenced
    or skipped (the sound server ran out of samples, played silence, then skipped ahead to
    catch up; a tone whose rest was lost may be followed at once by the next one, on the
    other channel), up to `most` times. None for any other difference."""
    if begin < 0:
        return None
    nonzero = re.compile(rb"[^\x00]")
    channel = re.compile(rb"[^\x00]").search(tone).start() % FRAME // 2
    at, done, lost = begin, 0, 0
    for _ in range(most + 1):
        rest = tone[done:]
        got = data[at:at + len(rest)]
        if got == rest:
            return lost, at + len(rest)
        same = 0
        while same < len(got) and got[same] == rest[same]:
            same += 1
        same -= same % FRAME
        at += same
        done += same
        m = nonzero.search(data, at, at + len(tone) - done)
        if not m or m.start() % FRAME // 2 != channel:
            # The rest of the tone never came.
            end = m.start() - m.start() % FRAME if m else at + len(tone) - done
            return lost + (len(tone) - done) // FRAME, end
        resumed = m.start() - m.start() % FRAME
        probe = data[resumed:resumed + 16 * FRAME]
        k = tone.find(probe, done)
        while k >= 0 and k % FRAME:
            k = tone.find(probe, k + 1)
        if k < 0 or (k == done and resumed == at):
            return None  # the samples differ
        lost += (k - done) // FRAME
        at, done = resumed, k
    return None


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


def run_motion_program(args, speed, seconds, tones):
    out = os.path.join(args.work, f"motion-{speed}.txt")
    load = Load()
    recorder = Recorder(args.build, args.work, f"motion-{speed}")
    status = subprocess.run([os.path.join(args.build, "bench_motion"), "program", str(speed),
                             str(seconds), out], cwd=args.build, timeout=seconds + 60)
    recording = recorder.finish()
    if status.returncode != 0:
        raise RuntimeError(f"bench_motion program {speed} failed ({status.returncode})")
    window, everything = read_events(out)
    events = [e for e in everything if window[0] <= e[1] <= window[1]]
    errors, skipped = motion_errors(events)
    intervals = sorted({v for kind, _, v in events if kind == "motion"})
    motion = summary(errors)
    motion.update({"intervals_ms": intervals, "ticks_skipped_after_interval_change": skipped})

    # Tones: each play belongs to the last motion tick that began before it, the tick that
    # set the tone request.
    ticks = [t for kind, t, _ in events if kind == "motion"]
    pendings = [t for kind, t, _ in events if kind == "pending"]
    plays = [(t, v) for kind, t, v in events if kind == "play"]
    found = find_tones(recording, tones)
    matched, sink, used = match_tones(plays, recording, found)
    latencies, to_play, to_pending, play_to_sink = [], [], [], []
    missing = 0
    import bisect
    for (t_play, side), hit in zip(plays, matched):
        k = bisect.bisect_right(ticks, t_play) - 1
        if k < 0:
            continue
        t_set = ticks[k]
        p = bisect.bisect_left(pendings, t_set)
        if p < len(pendings) and pendings[p] <= t_play:
            to_pending.append((pendings[p] - t_set) / 1e6)
        to_play.append((t_play - t_set) / 1e6)
        if hit is None:
            missing += 1
            continue
        latencies.append((hit[0] - t_set) / 1e6)
        play_to_sink.append((hit[0] - t_play) / 1e6)
    in_window = [s for s, u in zip(sink, used) if window[0] <= s[0] <= window[1]]
    exact = [s[2] for s, u in zip(sink, used) if u]
    gaps = [s[3] for s, u in zip(sink, used) if u and not s[2]]

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
        "onset_ms": summary(latencies),
        "tick_to_tone_tick_ms": summary(to_pending),
        "tick_to_play_ms": summary(to_play),
        "play_to_sink_ms": summary(play_to_sink),
        "plays": len(plays), "missing_at_sink": missing,
        "unexpected_at_sink": sum(1 for s, u in zip(sink, used)
                                  if not u and window[0] <= s[0] <= window[1]),
        "tones_in_window": len(in_window),
        "not_sample_exact": sum(1 for e in exact if not e),
        "not_exact_by_underrun": sum(1 for g in gaps if g is not None),
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
    tone["_exact_checked"] = len(exact)
    result = {"speed": speed, "motion": motion, "tones": tone, "load": load.done()}
    print(f"  speed {speed}: motion p99 {motion['p99']:.3f} ms over {motion['n']} ticks; "
          f"{len(latencies)} tones, onset median "
          f"{statistics.median(latencies) if latencies else float('nan'):.2f} ms", flush=True)
    return result


def run_tone_floor(args, tones, count, interval):
    load = Load()
    recorder = Recorder(args.build, args.work, "tone-floor")
    # Its CPU and wake-ups too: a bare client of the same audio device, sounding tones at a
    # steady pace, is the floor for what the audio output costs.
    probe = subprocess.Popen([os.path.join(args.build, "bench_tone_floor"), tones[1].path,
                              str(count), str(interval), "--right", tones[2].path],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(SETTLE_NS / 1e9)
    a = CpuSample(probe.pid)
    time.sleep(max(1.0, count * interval / 1000 - SETTLE_NS / 1e9 - 0.5))
    b = CpuSample(probe.pid)
    stdout, stderr = probe.communicate(timeout=60)
    recording = recorder.finish()
    if probe.returncode != 0:
        raise RuntimeError(f"bench_tone_floor failed: {stderr.strip()}")
    plays = []
    for line in stdout.splitlines():
        if line.startswith("#"):
            continue
        index, voice, play_ns, _ = line.split()
        plays.append((int(play_ns), 1 if int(index) % 2 == 0 else 2))
    found = find_tones(recording, tones)
    matched, _, _ = match_tones(plays, recording, found)
    # The probe plays its first tone 0.1 s after opening the output, while the sound server
    # is still starting the stream (those tones come late or not at all); the program's
    # tones are kept from 2 s after it opened its output, so these are kept from 1.5 s on.
    settled = plays[0][0] + SETTLE_NS if plays else 0
    kept = [(t, hit) for (t, _), hit in zip(plays, matched) if t >= settled]
    latencies = [(hit[0] - t) / 1e6 for t, hit in kept if hit]
    result = summary(latencies)
    result.update({"plays": len(kept), "missing_at_sink": sum(1 for _, h in kept if h is None),
                   "not_sample_exact": sum(1 for _, h in kept if h and not h[2]),
                   "not_exact_by_underrun": sum(1 for _, h in kept
                                                    if h and not h[2] and h[3] is not None),
                   "first_tones_left_out_ms": [round((h[0] - t) / 1e6, 2) if h else None
                                               for (t, _), h in zip(plays, matched)
                                               if t < settled],
                   "cpu": cpu_between(a, b), "load": load.done()})
    print(f"  tone floor: {len(latencies)} tones, play-to-sink median "
          f"{result['median']:.2f} ms", flush=True)
    return result


# X windows of a process -------------------------------------------------------------------


def xdo(*words, timeout=20):
    return subprocess.run(["xdotool", *words], capture_output=True, text=True, timeout=timeout)


def window_of(pid, caption, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = xdo("search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                  "^" + re.escape(caption) + "$")
        ids = out.stdout.split()
        if ids:
            return int(ids[0])
        time.sleep(0.05)
    raise RuntimeError(f"no window '{caption}' of the program")


def wait_active(wid, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = xdo("getactivewindow")
        if out.stdout.strip() == str(wid):
            return
        time.sleep(0.05)
    raise RuntimeError(f"window {wid} did not get the focus")


def client_origin(wid):
    out = subprocess.run(["xwininfo", "-id", str(wid)], capture_output=True, text=True).stdout
    x = int(re.search(r"Absolute upper-left X:\s*(-?\d+)", out).group(1))
    y = int(re.search(r"Absolute upper-left Y:\s*(-?\d+)", out).group(1))
    return x, y


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

        xdo("key", "Return")
        settings = window_of(program.pid, SETTINGS_CAPTION)
        wait_active(settings)
        x, y = client_origin(settings)
        xdo("mousemove", "--sync", str(x + SOUNDTONES_AT[0]), str(y + SOUNDTONES_AT[1]),
            "click", "1")
        time.sleep(0.3)
        recorder = Recorder(args.build, args.work, "cpu")
        xdo("key", "Return")
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
    run["not_sample_exact"] = sum(1 for t in in_window if not t[2])
    run["not_exact_by_underrun"] = sum(1 for t in in_window if not t[2] and t[3] is not None)
    print(f"  cpu: stimulation {run['cpu_pct_of_one_core']:.2f} % of a core, "
          f"{run['context_switches_per_s']:.0f} switches/s; title "
          f"{floor['cpu_pct_of_one_core']:.2f} %, {floor['context_switches_per_s']:.0f}/s; "
          f"{len(in_window)} tones", flush=True)
    return run, floor


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
            m = report["motion"][str(speed)]
            f = report["motion_floor"][str(interval_of(speed))]
            rows.append((f"Motion {interval_of(speed)} ms (speed {speed}) |err| med/p99/max ms",
                         f"{fmt(m['median'])}/{fmt(m['p99'])}/{fmt(m['max'])}",
                         f"{fmt(f['median'])}/{fmt(f['p99'])}/{fmt(f['max'])}",
                         f"p99 x{fmt(ratio(m['p99'], f['p99']))}",
                         "p99 <= floor p99 + 0.5", yes(m["p99"] <= f["p99"] + 0.5)))
    if report.get("tones") and report.get("tone_floor"):
        t = report["tones"]
        f = report["tone_floor"]
        rows.append(("Tone onset ms med/p99/max (tones)",
                     f"{fmt(t['median'])}/{fmt(t['p99'])}/{fmt(t['max'])} ({t['n']})",
                     f"{fmt(f['median'])}/{fmt(f['p99'])}/{fmt(f['max'])} ({f['n']})",
                     f"med {t['median'] - f['median']:+.2f}, p99 x{fmt(ratio(t['p99'], f['p99']))}",
                     "med <= 10, p99 <= 20", yes(t["median"] <= 10 and t["p99"] <= 20)))
        rows.append(("Tones not sample-exact / checked [by underruns]",
                     f"{t['not_sample_exact']}/{t['checked']} [{t['not_exact_by_underrun']}]",
                     f"{f['not_sample_exact']}/{f['n']} [{f['not_exact_by_underrun']}]",
                     f"{t['missing']} missing", "0",
                     yes(t["not_sample_exact"] == 0 and t["missing"] == 0)))
    if report.get("runs") and report.get("tone_floor"):
        first = [v for run in report["runs"].values()
                 for v in run["tones"]["first_tones_play_to_sink_ms"]]
        ffirst = report["tone_floor"]["first_tones_left_out_ms"]

        def early(values):
            lost = sum(1 for v in values if v is None)
            late = sum(1 for v in values if v is not None and v > 25)
            return f"{lost} lost, {late} late of {len(values)}"
        rows.append(("First tones, < 2 s after Continue (not above)", early(first),
                     f"first 1.5 s: {early(ffirst)}", "late: > 25 ms", "", ""))
    if report.get("cpu"):
        c = report["cpu"]
        cf = report["cpu_floor"]
        audio = report.get("tone_floor", {}).get("cpu")
        audio_text = f", bare audio client {fmt(audio['cpu_pct_of_one_core'])}" if audio else ""
        rows.append(("CPU % of one core (60 s, speed 65, tones)",
                     fmt(c["cpu_pct_of_one_core"]),
                     f"title {fmt(cf['cpu_pct_of_one_core'])}{audio_text}",
                     f"{c['cpu_pct_of_one_core'] - cf['cpu_pct_of_one_core']:+.2f} points",
                     "<= 1", yes(c["cpu_pct_of_one_core"] <= 1.0)))
        audio_text = f", bare audio client {fmt(audio['context_switches_per_s'], 0)}" if audio else ""
        rows.append(("Wake-ups / s (context switches, all threads)",
                     fmt(c["context_switches_per_s"], 0),
                     f"title {fmt(cf['context_switches_per_s'], 0)}{audio_text}",
                     f"{c['context_switches_per_s'] - cf['context_switches_per_s']:+.0f}", "", ""))
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
    if report.get("cpu") and report.get("startup"):
        rss = report["cpu"]["peak_rss_kb"] / 1024
        rss_floor = report["startup"]["empty"]["peak_rss_kb_median"] / 1024
        rows.append(("Peak RSS MB (VmHWM, 60 s stimulation)", fmt(rss, 1),
                     f"empty window {fmt(rss_floor, 1)}", f"x{fmt(ratio(rss, rss_floor))}",
                     "<= 60", yes(rss <= 60)))

    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    lines = []
    for n, r in enumerate(rows):
        lines.append("| " + " | ".join(v.ljust(w) for v, w in zip(r, widths)) + " |")
        if n == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def yes(ok):
    return "yes" if ok else "NO"


# ------------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--pulse-pid", type=int)
    parser.add_argument("--quick", action="store_true", help="short runs, rough figures")
    parser.add_argument("--only", default="startup,tones,motion,cpu",
                        help="comma-separated parts to run (default: all)")
    args = parser.parse_args()
    parts = set(args.only.split(","))

    motion_s = 6 if args.quick else 30
    cpu_s = 10 if args.quick else 60
    title_s = 5 if args.quick else 30
    startup_runs = 3 if args.quick else 10
    tones = {1: ToneFile(os.path.join(args.build, "Tones", "beep_l.wav")),
             2: ToneFile(os.path.join(args.build, "Tones", "beep_r.wav"))}

    report = {"date": datetime.datetime.now().isoformat(timespec="seconds"),
              "machine": {"cores": os.cpu_count(), "kernel": os.uname().release,
                          "loadavg_at_start": open("/proc/loadavg").read().split()[:3]},
              "quick": args.quick, "motion": {}, "motion_floor": {}, "runs": {}}
    began = time.monotonic()

    if "startup" in parts:
        print("Start-up", flush=True)
        report["startup"] = run_startup(args, startup_runs)

    if "tones" in parts:
        print("Tone floor", flush=True)
        report["tone_floor"] = run_tone_floor(args, tones, 28 if args.quick else 88, 200)

    all_latencies = []
    not_exact = checked = missing = gaps = 0
    if "motion" in parts:
        print("Motion and tones", flush=True)
        for speed in MOTION_SPEEDS:
            # The floor right before the program, so both see much the same load.
            interval = interval_of(speed)
            report["motion_floor"][str(interval)] = run_motion_floor(args, interval, motion_s,
                                                                     f"speed {speed}")
            run = run_motion_program(args, speed, motion_s, tones)
            tone = run["tones"]
            all_latencies += tone.pop("_latencies")
            not_exact += tone.pop("_not_exact")
            gaps += tone.pop("_gaps")
            checked += tone.pop("_exact_checked")
            missing += tone["missing_at_sink"]
            report["runs"][str(speed)] = run
            report["motion"][str(speed)] = run["motion"]

    if "cpu" in parts:
        print("CPU and memory", flush=True)
        report["cpu"], report["cpu_floor"] = run_cpu(args, tones, cpu_s, title_s)
        not_exact += report["cpu"]["not_sample_exact"]
        gaps += report["cpu"]["not_exact_by_underrun"]
        checked += report["cpu"]["tones_in_window"]

    if "motion" in parts:
        tones_summary = summary(all_latencies)
        tones_summary.update({"not_sample_exact": not_exact, "checked": checked,
                              "not_exact_by_underrun": gaps,
                              "missing": missing})
        report["tones"] = tones_summary
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
