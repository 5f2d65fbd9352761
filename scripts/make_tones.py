#!/usr/bin/env python3
"""Writes the tone pairs: 44.1 kHz, 16-bit stereo, 80 ms, each file in one channel only."""
import math, os, struct, wave

RATE = 44100
LENGTH = 0.080      # short enough for the fastest leg, about 126 ms
FADE = 0.005        # raised-cosine fade in and out, so a tone never clicks
PEAK = 0.5          # about -6 dBFS

def envelope(i, n):
    f = int(FADE * RATE)
    if i < f:
        return 0.5 - 0.5 * math.cos(math.pi * i / f)
    if i >= n - f:
        return 0.5 - 0.5 * math.cos(math.pi * (n - 1 - i) / f)
    return 1.0

def beep(freq):
    return lambda t: math.sin(2 * math.pi * freq * t)

def chime(t):
    partials = ((1.0, 1.0), (2.76, 0.5), (5.4, 0.25))
    s = sum(a * math.sin(2 * math.pi * 1046.5 * m * t) for m, a in partials) / 1.75
    return s * math.exp(-t / 0.035)

def write(path, voice, side):
    n = int(LENGTH * RATE)
    frames = bytearray()
    for i in range(n):
        v = int(round(32767 * PEAK * voice(i / RATE) * envelope(i, n)))
        frames += struct.pack('<hh', v if side == 'l' else 0, v if side == 'r' else 0)
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))

def main():
    folder = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'Tones')
    os.makedirs(folder, exist_ok=True)
    pairs = {'beep_%s.wav': beep(880), 'chime_%s.wav': chime}
    for pattern, voice in pairs.items():
        for side in 'lr':
            write(os.path.join(folder, pattern % side), voice, side)
    write(os.path.join(folder, 'left1.wav'), beep(660), 'l')
    write(os.path.join(folder, 'right1.wav'), beep(660), 'r')
    for name in sorted(os.listdir(folder)):
        with wave.open(os.path.join(folder, name)) as w:
            print('%-12s %d Hz, %d-bit, %d channels, %.0f ms' % (name, w.getframerate(), 8 * w.getsampwidth(), w.getnchannels(), 1000 * w.getnframes() / w.getframerate()))

if __name__ == '__main__':
    main()
