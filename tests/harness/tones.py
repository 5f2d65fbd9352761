"""Finds the program's tones in a recording of the sound server's null sink and compares each
with its file, sample for sample.

The recording and the tone files are 16-bit stereo at 44.1 kHz, the program's own output
format; each tone file sounds on its own side only. Used by the tone checks of the end-to-end
test (tests/e2e/tones/analyse.py) and by the bench (bench/measure.py).
"""

import array
import re
import sys
import wave

RATE = 44100
FRAME = 4  # bytes: 16-bit stereo
# A frame is sound when a channel's sample goes beyond this; far below the tones' peak
# (16383) and far above anything but a signal.
SOUND = 64
# Silence this long (both channels) separates two tones: the tones are 80 ms long and at
# the fastest speed a leg takes about 125 ms, so about 45 ms of silence lie between them.
SEPARATION = RATE // 100
# Silence on a tone's side this long, with sound on the other side, starts the next tone (a
# tone has far shorter stretches below SOUND, at its zero crossings).
SIDE_CHANGE = RATE // 500
# At most this many gaps in one tone before it is taken for damage of another kind.
MAX_GAPS = 5
# Frames compared to find where in its file a tone goes on after a gap.
PROBE = 16
# How far on the file may go on with no silence between, once a tone has begun: a few cycles
# of a PipeWire graph (128 frames each while the program's streams play).
MAX_JUMP = 1024

_NONZERO = re.compile(rb"[^\x00]")


def channels(data):
    """The left and right samples of interleaved 16-bit little-endian stereo bytes."""
    samples = array.array("h")
    samples.frombytes(data[:len(data) // FRAME * FRAME])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples[0::2], samples[1::2]


class ToneFile:
    """A tone file of one side ('L' or 'R'): its samples, and the frame of its first sound.
    Raises ValueError when it is not 44.1 kHz 16-bit stereo sounding on its own side only."""

    def __init__(self, path, side):
        with wave.open(path) as w:
            if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (RATE, 2, 2):
                raise ValueError(f"{path} is not 44.1 kHz 16-bit stereo")
            self.data = w.readframes(w.getnframes())
        self.path = path
        self.side = side
        self.left, self.right = channels(self.data)
        own, other = (self.left, self.right) if side == "L" else (self.right, self.left)
        if any(other) or not any(abs(v) > SOUND for v in own):
            raise ValueError(f"the {side} tone file is not a tone on its own side only")
        self.own = own
        self.first_sound = next(i for i, v in enumerate(own) if abs(v) > SOUND)
        last_sound = max(i for i, v in enumerate(own) if abs(v) > SOUND)
        # From the first sound to the last: how long the tone sounds, whatever its rate.
        self.sound_span = last_sound - self.first_sound + 1
        self.frames = len(own)


def find_tones(left, right, refs, rest_may_be_lost=False):
    """The tones in a recording (left and right samples), refs the tone files by side: one
    dict a tone, in time order, with
      start         the frame at which the tone's file begins, found by lining the first
                    sound of the tone up with the first sound of its side's file
      side          'L' or 'R', the side that sounds loudest
      whole         the file's length from start lies inside the recording
      exact         the recording from start is the file sample for sample, both channels
      prefix        for a tone cut off: the frames up to which it is its file, digital
                    silence after them; 0 for anything else
      gaps, lost    for a tone broken up by the sound server running dry (see
                    join_underrun_pieces): how many gaps, and the file's frames never heard
      sound_frames, peak, crosstalk
                    how long it sounds, its peak, and the peak on the other channel."""
    return join_underrun_pieces(_split(left, right, refs), left, right, refs, rest_may_be_lost)


def _next_sound(left, right, i, data):
    """The first frame from i on with sound on either channel, len(left) if none. Digital
    silence, by far most of a recording, is passed over in the bytes."""
    n = len(left)
    while i < n:
        m = _NONZERO.search(data, i * FRAME)
        if not m:
            return n
        i = m.start() // FRAME
        if abs(left[i]) > SOUND or abs(right[i]) > SOUND:
            return i
        i += 1
    return n


def _split(left, right, refs):
    data = _interleaved(left, right)
    n = len(left)
    tones = []
    i = _next_sound(left, right, 0, data)
    while i < n:
        onset, last = i, _tone_end(left, right, i)
        tones.append(_judge(left, right, refs, onset, last))
        i = _next_sound(left, right, last + 1, data)
    return tones


def _interleaved(left, right):
    samples = array.array("h", bytes(len(left) * FRAME))
    samples[0::2] = left
    samples[1::2] = right
    if sys.byteorder != "little":
        samples.byteswap()
    return samples.tobytes()


def _tone_end(left, right, i):
    """The last frame of the tone sounding at frame i. A tone sounds on one side. Sound on
    the other side after its own side has fallen silent is the next tone, however little
    silence lies between the two (a tone held up on a busy machine can run into the next)."""
    n = len(left)
    own, other = (left, right) if abs(left[i]) > SOUND else (right, left)
    last = last_own = i
    j = i
    while j < n and j - last < SEPARATION:
        if abs(own[j]) > SOUND:
            last = last_own = j
        elif abs(other[j]) > SOUND:
            if j - last_own >= SIDE_CHANGE:
                break
            last = j
        j += 1
    return last


def _judge(left, right, refs, onset, last):
    """The tone that sounds from onset to last, compared with its file."""
    n = len(left)
    peak_l = max(abs(v) for v in left[onset:last + 1])
    peak_r = max(abs(v) for v in right[onset:last + 1])
    side = "L" if peak_l >= peak_r else "R"
    peak, crosstalk = (peak_l, peak_r) if side == "L" else (peak_r, peak_l)
    ref = refs[side]
    start = onset - ref.first_sound
    length = ref.frames
    whole = start >= 0 and start + length <= n
    exact = whole and left[start:start + length] == ref.left and \
        right[start:start + length] == ref.right
    # A tone that was cut off is the file up to some frame and digital silence from there
    # to the file's end; prefix is that frame, 0 for anything else.
    prefix = 0
    if whole and not exact:
        cut = next(k for k in range(length)
                   if left[start + k] != ref.left[k] or right[start + k] != ref.right[k])
        if cut > 0 and not any(left[start + cut:start + length]) \
                and not any(right[start + cut:start + length]):
            prefix = cut
    return {"start": start, "side": side, "exact": exact, "whole": whole, "prefix": prefix,
            "sound_frames": last - onset + 1, "peak": peak, "crosstalk": crosstalk}


def join_underrun_pieces(tones, left, right, refs, rest_may_be_lost=False):
    """Tones the sound server broke up by running dry are made whole again: from the tone's
    start, the recording must follow its file sample for sample, with up to MAX_GAPS
    stretches of digital silence on both channels after which the file goes on at the same
    place or further on (the server skipping ahead to catch up), or places where the file
    goes on further on at once (a cycle of a PipeWire graph that left the stream out). Such a tone is kept with
    'gaps' and 'lost' (frames of the file never heard), and the later pieces of it, found as
    tones of their own, are dropped. With rest_may_be_lost, a tone whose rest never came (the
    recording falls silent for longer than the rest of the file, or the other side sounds,
    or the recording ends) counts so too, its rest lost. Any other difference leaves the
    tone as it was."""
    joined = []
    i = 0
    while i < len(tones):
        tone = tones[i]
        i += 1
        joined.append(tone)
        if tone["exact"] or tone["start"] < 0:
            continue
        at = _follow_file(tone, left, right, refs[tone["side"]], rest_may_be_lost)
        if at is None:
            continue
        # The pieces after a gap that were taken for tones of their own.
        while i < len(tones) and tones[i]["side"] == tone["side"] and \
                tones[i]["start"] + refs[tone["side"]].first_sound < at:
            i += 1
    return joined


def _follow_file(tone, left, right, ref, rest_may_be_lost):
    """Follows the tone's file through the recording across gaps of silence; when that
    accounts for the whole file, marks the tone whole with its gaps and lost frames and
    gives the frame where it ended, else None."""
    rec, other = (left, right) if tone["side"] == "L" else (right, left)
    own = ref.own
    length, n = ref.frames, len(rec)
    at, done, gaps, lost = tone["start"], 0, 0, 0
    while True:
        while done < length and at < n and rec[at] == own[done] and other[at] == 0:
            at += 1
            done += 1
        if done == length or at >= n or gaps == MAX_GAPS or other[at]:
            break
        # Digital silence, then the file again; or the file going on further on at once (a
        # cycle of the server's graph left out of the stream).
        resumed = at
        while resumed < n and rec[resumed] == 0 and other[resumed] == 0:
            resumed += 1
        if rest_may_be_lost and (resumed >= n or other[resumed]
                                 or resumed - at > length - done):
            gaps += 1
            lost += length - done
            done = length
            break
        if resumed >= n or other[resumed]:
            break
        jump = resumed == at
        if jump and done < PROBE:
            break
        probe = list(rec[resumed:resumed + PROBE])
        last = length - len(probe) if not jump else min(length - len(probe), done + MAX_JUMP)
        k = next((k for k in range(done + jump, last + 1)
                  if list(own[k:k + len(probe)]) == probe), None)
        if k is None:
            break
        gaps += 1
        lost += k - done
        at, done = resumed, k
    if done != length or gaps == 0:
        return None
    tone.update({"whole": True, "gaps": gaps, "lost": lost})
    return at


# A bare client's click train, played beside the program to tell the sound server's own
# faults from the program's: a 2 ms burst every CLICK_EVERY frames, on both channels.
CLICK_EVERY = 5000
CLICK_FRAMES = 88
# A click heard this many frames off its place was moved by the server (a graph cycle is 1024
# frames or more); less is the resampler's smear of a graph at another rate.
CLICK_SLACK = 16


def write_click_train(path, seconds):
    """Raw 16-bit stereo at RATE: a click every CLICK_EVERY frames for `seconds`."""
    period = array.array("h", [0] * (2 * CLICK_EVERY))
    for i in range(CLICK_FRAMES):
        period[2 * i] = period[2 * i + 1] = 12000 if (i // 10) % 2 == 0 else -12000
    if sys.byteorder != "little":
        period.byteswap()
    with open(path, "wb") as f:
        for _ in range(int(seconds * RATE) // CLICK_EVERY + 1):
            f.write(period.tobytes())


def click_breaks(left):
    """Where a recorded click train was broken: (frame of the click, frames to the next one)
    for every gap that is not CLICK_EVERY, and the number of clicks heard."""
    onsets = []
    quiet = CLICK_EVERY
    for i, v in enumerate(left):
        if abs(v) > 4 * SOUND:
            if quiet >= CLICK_EVERY // 2:
                onsets.append(i)
            quiet = 0
        else:
            quiet += 1
    breaks = [(a, b - a) for a, b in zip(onsets, onsets[1:])
              if abs(b - a - CLICK_EVERY) > CLICK_SLACK]
    return breaks, len(onsets)
