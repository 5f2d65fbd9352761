#!/usr/bin/env python3
"""Records the null sink's monitor as raw 16-bit stereo at 44.1 kHz, stamping every read with
CLOCK_MONOTONIC so that the time of each recorded frame is known on the program's clock.

    recorder.py OUT.raw OUT.stamps [SOURCE]    (runs until SIGTERM or SIGINT, or until the
                                               sound server goes away)

SOURCE is the sink monitor to record, null.monitor unless named; "default" records the sound
server's default source (the session makes it null.monitor) without naming it.

OUT.stamps has one line a read: <frames recorded so far, this read included> <ns of the read>.
The reads are stamped here rather than by parecord, whose own file held less audio than the
wall time it ran for, so that its frames could not be put on the clock."""
import os
import select
import signal
import subprocess
import sys
import time

FRAME_BYTES = 4
# How long a recorder started before its sound server keeps trying to reach it.
CONNECT_SECONDS = 10


# What the recorder asks of the server. A recording is a client of the graph like any other:
# under PipeWire a short latency here would set the cycle of the whole graph, and the program
# would be heard at the recorder's pace instead of at a desktop's (1024 frames, 23 ms at
# 44.1 kHz). Longer than that cycle, it leaves the pace to the others; the reads then come a
# cycle at a time, which the recording's clock (analyse.py) takes in its stride.
LATENCY_MS = 30


def start_parec(source, quiet):
    device = [] if source == 'default' else ['--device=' + source]
    return subprocess.Popen(['parec'] + device + ['--format=s16le', '--rate=44100',
                             '--channels=2', '--raw', '--latency-msec=%d' % LATENCY_MS],
                            stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL if quiet else None)


def main():
    raw_path, stamp_path = sys.argv[1], sys.argv[2]
    source = sys.argv[3] if len(sys.argv) > 3 else 'null.monitor'
    running = True

    def stop(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    # The recorder may be started together with the sound server, so that it records from
    # the server's first moments: until the server answers, parec is tried again every 20 ms
    # (quietly, up to a deadline; the last try says why it failed).
    deadline = time.monotonic() + CONNECT_SECONDS
    parec = start_parec(source, quiet=True)
    fd = parec.stdout.fileno()
    total = 0
    # The stamps go out line by line: their first lines tell the caller that sound flows.
    with open(raw_path, 'wb') as raw, open(stamp_path, 'w', buffering=1) as stamps:
        while running:
            # The sink sends nothing while no program plays into it, so the reads wait with a
            # timeout to see the stop request in time.
            if not select.select([fd], [], [], 0.05)[0]:
                continue
            chunk = os.read(fd, 4096)
            now = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
            if not chunk:
                # Once sound has flowed, the end of it is the server going away.
                if total > 0 or time.monotonic() >= deadline:
                    break
                parec.wait()
                parec.stdout.close()
                time.sleep(0.02)
                parec = start_parec(source, quiet=time.monotonic() + 0.5 < deadline)
                fd = parec.stdout.fileno()
                continue
            raw.write(chunk)
            total += len(chunk)
            stamps.write('%d %d\n' % (total // FRAME_BYTES, now))
    parec.terminate()
    parec.wait()
    return 0


if __name__ == '__main__':
    sys.exit(main())
