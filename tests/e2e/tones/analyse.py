#!/usr/bin/env python3
"""Checks a recording of the null sink against the program's tone log: every tone on its own
side only, alternating, one per turn, each starting soon after its turn, sample-exact.
Usage: analyse.py REC.raw REC.stamps TONES.log LEFT.wav RIGHT.wav"""
import array, statistics, sys, wave

raw_path, stamp_path, log_path, left_wav, right_wav = sys.argv[1:6]
RATE = 44100

samples = array.array('h')
with open(raw_path, 'rb') as f:
    data = f.read()
samples.frombytes(data[:len(data) // 4 * 4])
left, right = samples[0::2], samples[1::2]
stamps = [tuple(map(int, line.split())) for line in open(stamp_path) if line.strip()]
plays = [(int(t), side) for t, side in (line.split() for line in open(log_path) if line.strip())]

def frame_time(frame):
    # The sample that ends a read arrived at that read's stamp; earlier ones one frame apart.
    for end, stamp in stamps:
        if end > frame:
            return stamp - (end - frame) * 1e9 / RATE
    return stamps[-1][1]

def onsets(channel, threshold=200, gap=RATE // 50):
    found, quiet = [], gap
    for i, v in enumerate(channel):
        if abs(v) > threshold:
            if quiet >= gap:
                found.append(i)
            quiet = 0
        else:
            quiet += 1
    return found

def wav_samples(path):
    with wave.open(path) as w:
        frames = array.array('h')
        frames.frombytes(w.readframes(w.getnframes()))
    return frames[0::2], frames[1::2]

failures = []
tones = sorted([(f, 'L') for f in onsets(left)] + [(f, 'R') for f in onsets(right)])
# The first read can hold old audio that the sink kept while nobody recorded: drop tones
# that start before the first play call.
first_play = plays[0][0] if plays else 0
tones = [(f, s) for f, s in tones if frame_time(f) >= first_play - 5e6]
print('play calls: %d (%s)' % (len(plays), ''.join(s for _, s in plays)))
print('tones heard: %d (%s)' % (len(tones), ''.join(s for _, s in tones)))

# Each side's tone only on its side.
for frame, side in tones:
    other = right if side == 'L' else left
    if max(abs(v) for v in other[frame:frame + 3000]) > 0 and \
       not any(s != side and abs(f - frame) < 4000 for f, s in tones):
        failures.append('tone at frame %d on %s also sounds on the other side' % (frame, side))
if any(a[1] == b[1] for a, b in zip(tones, tones[1:])):
    failures.append('tones do not alternate: ' + ''.join(s for _, s in tones))
if len(tones) < 6:
    failures.append('too few tones heard: %d' % len(tones))
# One tone per turn (the last play may be cut by the end of the run).
if not (len(plays) - 1 <= len(tones) <= len(plays)):
    failures.append('%d play calls but %d tones heard' % (len(plays), len(tones)))
delays = []
for (play_ns, play_side), (frame, side) in zip(plays, tones):
    delay_ms = (frame_time(frame) - play_ns) / 1e6
    delays.append(delay_ms)
    if side != play_side:
        failures.append('turn on %s heard on %s' % (play_side, side))
    if not (-5 <= delay_ms <= 100):
        failures.append('tone of the %s turn started %.1f ms after it' % (play_side, delay_ms))
if delays:
    print('onset after the turn: median %.1f ms, max %.1f ms' % (statistics.median(delays), max(delays)))

# A tone in the middle is the file's own samples.
if len(tones) > 4:
    frame, side = tones[len(tones) // 2]
    ref_l, ref_r = wav_samples(left_wav if side == 'L' else right_wav)
    ref = ref_l if side == 'L' else ref_r
    start = next(i for i, v in enumerate(ref) if abs(v) > 200)
    begin = frame - start
    got = (left if side == 'L' else right)[begin:begin + len(ref)]
    if list(got) != list(ref):
        failures.append('the middle tone is not the file sample for sample')
    else:
        print('middle tone (%s): sample-exact' % side)

for failure in failures:
    print('FAIL:', failure)
print('PASS' if not failures else 'FAILED')
sys.exit(1 if failures else 0)
