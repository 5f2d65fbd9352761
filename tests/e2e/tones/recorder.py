#!/usr/bin/env python3
"""Records the null sink's monitor as raw 16-bit stereo samples, stamping every read with
the monotonic clock so that each sample's time is known on the program's clock.
Usage: recorder.py OUT.raw OUT.stamps  (stop with SIGTERM)"""
import os, signal, subprocess, sys, time

raw_path, stamp_path = sys.argv[1], sys.argv[2]
proc = subprocess.Popen(['parec', '--device=null.monitor', '--format=s16le', '--rate=44100',
                         '--channels=2', '--raw', '--latency-msec=5'], stdout=subprocess.PIPE)
running = True
def stop(*_):
    global running
    running = False
signal.signal(signal.SIGTERM, stop)
total = 0
with open(raw_path, 'wb') as raw, open(stamp_path, 'w') as stamps:
    fd = proc.stdout.fileno()
    while running:
        try:
            chunk = os.read(fd, 4096)
        except InterruptedError:
            continue
        if not chunk:
            break
        now = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        raw.write(chunk)
        total += len(chunk)
        stamps.write('%d %d\n' % (total // 4, now))
proc.terminate()
proc.wait()
