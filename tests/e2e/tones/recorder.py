#!/usr/bin/env python3
"""Records the null sink's monitor as raw 16-bit stereo at 44.1 kHz, stamping every read with
CLOCK_MONOTONIC so that the time of each recorded frame is known on the program's clock.

    recorder.py OUT.raw OUT.stamps     (runs until SIGTERM or SIGINT)

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


def main():
    raw_path, stamp_path = sys.argv[1], sys.argv[2]
    parec = subprocess.Popen(['parec', '--device=null.monitor', '--format=s16le', '--rate=44100',
                              '--channels=2', '--raw', '--latency-msec=5'],
                             stdout=subprocess.PIPE)
    running = True

    def stop(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
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
                break
            raw.write(chunk)
            total += len(chunk)
            stamps.write('%d %d\n' % (total // FRAME_BYTES, now))
    parec.terminate()
    parec.wait()
    return 0


if __name__ == '__main__':
    sys.exit(main())
