#!/usr/bin/env python3
"""Writes the tone pairs of Tones/: 44.1 kHz, 16-bit stereo, 80 ms, each file in one channel.

A pair is name_l.wav, sounding only on the left, and name_r.wav, sounding only on the right;
the program plays the left one at the left turn and the right one at the right turn. The
silent channel holds exact zeros, so nothing of a tone leaks to the other ear.

Each file is read back after it is written and checked; the script stops with an error if a
file is not as described, and otherwise prints one line per file.

Run from anywhere: python3 scripts/make_tones.py
"""
import math
import os
import struct
import sys
import wave

RATE = 44100
LENGTH = 0.080      # short enough to end well before the next turn at the fastest speed
FADE = 0.005        # raised-cosine fade in and out, so a tone never clicks
PEAK = 0.5          # -6 dBFS: loud enough to hear, with room left for the mixer
FULL = 32767


def envelope(i, n):
    """Gain of sample i of n: a raised-cosine rise, a flat middle, a raised-cosine fall."""
    f = int(FADE * RATE)
    if i < f:
        return 0.5 - 0.5 * math.cos(math.pi * i / f)
    if i > n - 1 - f:
        return 0.5 - 0.5 * math.cos(math.pi * (n - 1 - i) / f)
    return 1.0


def beep(freq):
    """A pure tone."""
    return lambda t: math.sin(2 * math.pi * freq * t)


def chime(t):
    """A small bell: a fundamental with the inharmonic partials of a struck bar, dying away."""
    base = 1046.5  # C6
    partials = ((1.0, 1.0), (2.76, 0.5), (5.40, 0.25), (8.93, 0.12))
    s = sum(a * math.sin(2 * math.pi * base * m * t) for m, a in partials)
    return s * math.exp(-t / 0.035)


def samples(voice):
    """The tone's samples, scaled so that its loudest one stands at PEAK."""
    n = int(round(LENGTH * RATE))
    raw = [voice(i / RATE) * envelope(i, n) for i in range(n)]
    scale = PEAK * FULL / max(abs(v) for v in raw)
    return [int(round(v * scale)) for v in raw]


def write(path, values, side):
    frames = bytearray()
    for v in values:
        frames += struct.pack('<hh', v if side == 'l' else 0, v if side == 'r' else 0)
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def check(path, values, side):
    """Reads a file back; returns its summary line or exits with what is wrong."""
    with wave.open(path, 'rb') as w:
        fmt = (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getcomptype())
        data = w.readframes(w.getnframes())
        frames = w.getnframes()
    name = os.path.basename(path)
    if fmt != (2, 2, RATE, 'NONE'):
        sys.exit('%s: format is %r, not 16-bit stereo PCM at %d Hz' % (name, fmt, RATE))
    ms = 1000.0 * frames / RATE
    if not 60.0 <= ms <= 100.0:
        sys.exit('%s: %.1f ms long' % (name, ms))
    pairs = list(struct.iter_unpack('<hh', data))
    left = [p[0] for p in pairs]
    right = [p[1] for p in pairs]
    sound, silent = (left, right) if side == 'l' else (right, left)
    if sound != values:
        sys.exit('%s: the sounding channel is not what was written' % name)
    if any(silent):
        sys.exit('%s: the silent channel is not silent' % name)
    peak = max(abs(v) for v in sound)
    db = 20 * math.log10(peak / FULL)
    if not -6.5 <= db <= -5.5:
        sys.exit('%s: peak at %.2f dBFS' % (name, db))
    edge = int(0.0005 * RATE)  # the first and last half millisecond stay near silence
    quiet = max(abs(v) for v in sound[:edge] + sound[-edge:])
    if sound[0] != 0 or sound[-1] != 0 or quiet > 0.05 * peak:
        sys.exit('%s: starts or ends at %d, so it would click' % (name, quiet))
    return '%-12s %d Hz %d-bit %d ch %5.1f ms  %s only, peak %.1f dBFS, %s %s' % (
        name, RATE, 16, 2, ms, 'left' if side == 'l' else 'right', db,
        'right' if side == 'l' else 'left', 'all zero')


def main():
    folder = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'Tones')
    os.makedirs(folder, exist_ok=True)
    files = (
        ('beep_l.wav', beep(880), 'l'), ('beep_r.wav', beep(880), 'r'),    # the usual pair
        ('left1.wav', beep(660), 'l'), ('right1.wav', beep(660), 'r'),     # the fallback pair
        ('chime_l.wav', chime, 'l'), ('chime_r.wav', chime, 'r'),
    )
    for name, voice, side in files:
        path = os.path.join(folder, name)
        values = samples(voice)
        write(path, values, side)
        print(check(path, values, side))


if __name__ == '__main__':
    main()
