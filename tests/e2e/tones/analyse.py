#!/usr/bin/env python3
"""Checks a recording of the sound server's output against the turns of a stimulation.

    analyse.py REC.raw REC.stamps TURNS.log LEFT.wav RIGHT.wav
    analyse.py --turns TURNS.log MIN_TURNS     (the turns alone, for a run without sound)

REC.raw and REC.stamps come from recorder.py, TURNS.log from tone_run. What must hold:
  - every tone heard is on one side only, the other channel silent or at least 60 dB below;
  - the tones alternate between the sides, as the turns do;
  - one tone per turn, on the turn's side, starting within 100 ms after the turn's play
    command, and no tone without a turn;
  - every tone is its file sample for sample, both channels, so none is cut short, broken up
    or mixed with another; the tone in the middle of the run is shown as proof. The one
    exception is the sound server running dry for a moment on a busy machine: then it plays
    digital silence and goes on, often a little further on in the file. A tone whose
    recording is its file in order with such gaps is told apart from any other damage, and
    up to one tone in twenty may come out so;
    Only at the end: the last turn's tone may go unheard, or be cut off after its beginning,
    when the run ended before it could sound to its end;
  - the left turns are as many as the passes counted, the turns come without a stall.

Options, for runs in which the sound goes away or moves to another output (the checks above
then hold for the turns judged, and every tone heard must still be a turn's own, once):
  --judge-from NS, --judge-until NS   only the turns asked for in this stretch of the run must
                                      be heard here; the others may be, once each, or not
  --answered NS, --back-within MS     the sound server answered at NS (after being away, or
                                      at a start without one): the program must say that
                                      tones are heard again within MS, and the turns from MS
                                      after NS on are judged; how soon the first tone came is
                                      shown
  --silent-from NS                    no tone may start in this recording from NS on (the
                                      output it records was left for another)
  --sound heard,silent,...            the program's sound states (tone_run's '# sound'
                                      lines), exactly these in this order; alternatives
                                      are separated by '|'
  --min-tones N                       tones heard with judged turns (default 20)
Times NS are CLOCK_MONOTONIC nanoseconds, as in TURNS.log.
Prints a summary and exits 1 when anything fails, 2 when the input cannot be used."""
import argparse
import array
import bisect
import statistics
import sys
import wave

RATE = 44100
# A frame is sound when a channel's sample goes beyond this; far below the tones' peak
# (16383) and far above anything but a signal.
SOUND = 64
# Silence this long (both channels) separates two tones: the tones are 80 ms long and at
# the fastest speed a leg takes about 125 ms, so about 45 ms of silence lie between them.
SEPARATION = RATE // 100
# Silence on a tone's side this long, with sound on the other side, starts the next tone (a
# tone has far shorter stretches below SOUND, at its zero crossings).
SIDE_CHANGE = RATE // 500
# The tone must start within this time after its turn's play command.
MAX_DELAY_MS = 100.0
# A tone cannot start before its play command; the recording's clock is known only to about
# the length of the sound server's blocks, hence the little room on this side.
MIN_DELAY_MS = -10.0
# The other channel of a tone: at least 60 dB below the tone.
MAX_CROSSTALK_RATIO = 1e-3
# The runs are at the fastest speed, where a leg takes about 125 ms: a second between two
# turns is a stall. (Pauses of the whole machine approaching half a second were seen here.)
MAX_TURN_GAP_MS = 1000.0
MIN_TONES = 20
# Of the tones judged, at most this share may have gaps from the sound server running dry.
MAX_UNDERRUN_SHARE = 1 / 20
# At most this many gaps in one tone before it is taken for damage of another kind.
MAX_GAPS = 5
# Frames compared to find where in its file a tone goes on after a gap.
PROBE = 16


def fail_input(text):
    print('analyse.py: ' + text)
    sys.exit(2)


def read_wav(path):
    with wave.open(path) as w:
        if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (RATE, 2, 2):
            fail_input('%s is not 44.1 kHz 16-bit stereo' % path)
        frames = array.array('h')
        frames.frombytes(w.readframes(w.getnframes()))
    if sys.byteorder != 'little':
        frames.byteswap()
    return frames[0::2], frames[1::2]


def read_recording(raw_path, stamp_path):
    samples = array.array('h')
    with open(raw_path, 'rb') as f:
        data = f.read()
    samples.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder != 'little':
        samples.byteswap()
    stamps = []
    with open(stamp_path) as f:
        for line in f:
            end, ns = line.split()
            stamps.append((int(end), int(ns)))
    if not stamps:
        fail_input('the recording is empty')
    return samples[0::2], samples[1::2], stamps


def read_turns(path):
    turns, info = [], {'sound': []}
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == '#' and words[1] == 'sound':
                info['sound'].append((int(words[2]), words[3]))
            elif words[0] == '#':
                info[words[1]] = int(words[2])
            else:
                turns.append((int(words[0]), words[1]))
    for key in ('started', 'passes', 'ended'):
        if key not in info:
            fail_input('%s has no "# %s" line' % (path, key))
    return turns, info


class RecordingClock:
    """The monotonic time at which a recorded frame left the sound server's sink.

    A read stamped t that brought the recording up to frame e says frame e was out by t;
    the sink gives out frames at the sample rate, so frame f was out by t - (e - f) / RATE.
    The tightest of these over the reads that follow f closely is taken. Only close ones:
    the sink stops while no program plays into it, and a bound across such a pause is loose.
    """
    WINDOW = RATE // 20
    MAX_READS = 200

    def __init__(self, stamps):
        self.ends = [end for end, _ in stamps]
        self.stamps = stamps

    def ns(self, frame):
        i = bisect.bisect_left(self.ends, frame)
        if i == len(self.ends):
            return None
        best = None
        for end, stamp in self.stamps[i:i + self.MAX_READS]:
            if end > frame + self.WINDOW and best is not None:
                break
            bound = stamp - (end - frame) * 1e9 / RATE
            best = bound if best is None else min(best, bound)
        return best


def find_tones(left, right, refs):
    """The tones in the recording: (start frame, side, exact, whole, crosstalk peak, peak).

    The start is the frame at which the tone's file begins, found by lining the first sound
    of the recording up with the first sound of the file of its side."""
    first_sound = {}
    for side, (ref_l, ref_r) in refs.items():
        ref = ref_l if side == 'L' else ref_r
        first_sound[side] = next(i for i, v in enumerate(ref) if abs(v) > SOUND)
    n = len(left)
    tones = []
    i = 0
    while i < n:
        if abs(left[i]) <= SOUND and abs(right[i]) <= SOUND:
            i += 1
            continue
        onset, last = i, i
        # A tone sounds on one side. Sound on the other side after its own side has fallen
        # silent is the next tone, however little silence lies between the two (a tone held
        # up on a busy machine can run into the next).
        own, other = (left, right) if abs(left[i]) > SOUND else (right, left)
        last_own = i
        j = i
        while j < n and j - last < SEPARATION:
            if abs(own[j]) > SOUND:
                last = last_own = j
            elif abs(other[j]) > SOUND:
                if j - last_own >= SIDE_CHANGE:
                    break
                last = j
            j += 1
        peak_l = max(abs(v) for v in left[onset:last + 1])
        peak_r = max(abs(v) for v in right[onset:last + 1])
        side = 'L' if peak_l >= peak_r else 'R'
        peak, crosstalk = (peak_l, peak_r) if side == 'L' else (peak_r, peak_l)
        ref_l, ref_r = refs[side]
        start = onset - first_sound[side]
        length = len(ref_l)
        whole = start >= 0 and start + length <= n
        exact = whole and left[start:start + length] == ref_l and \
            right[start:start + length] == ref_r
        # A tone that was cut off is the file up to some frame and digital silence from there
        # to the file's end; prefix is that frame, 0 for anything else.
        prefix = 0
        if whole and not exact:
            cut = next(k for k in range(length)
                       if left[start + k] != ref_l[k] or right[start + k] != ref_r[k])
            if cut > 0 and not any(left[start + cut:start + length]) \
                    and not any(right[start + cut:start + length]):
                prefix = cut
        tones.append({'start': start, 'side': side, 'exact': exact, 'whole': whole,
                      'prefix': prefix,
                      'sound_frames': last - onset + 1, 'peak': peak, 'crosstalk': crosstalk})
        i = last + 1
    return tones


def join_underrun_pieces(tones, left, right, refs):
    """Tones the sound server broke up by running dry are made whole again: from the tone's
    start, the recording must follow its file sample for sample, with up to MAX_GAPS
    stretches of digital silence on both channels after which the file goes on at the same
    place or further on (the server skipping ahead to catch up). Such a tone is kept with
    'gaps' and 'lost' (frames of the file never heard), and the later pieces of it, found as
    tones of their own, are dropped. Any other difference leaves the tone as it was."""
    joined = []
    i = 0
    while i < len(tones):
        tone = tones[i]
        i += 1
        joined.append(tone)
        if tone['exact'] or tone['start'] < 0:
            continue
        side = tone['side']
        ref_l, ref_r = refs[side]
        rec, ref, other = (left, ref_l, right) if side == 'L' else (right, ref_r, left)
        length, n = len(ref), len(rec)
        at, done, gaps, lost = tone['start'], 0, 0, 0
        while True:
            while done < length and at < n and rec[at] == ref[done] and other[at] == 0:
                at += 1
                done += 1
            if done == length or at >= n or gaps == MAX_GAPS or rec[at] != 0 or other[at]:
                break
            resumed = at
            while resumed < n and rec[resumed] == 0 and other[resumed] == 0:
                resumed += 1
            if resumed >= n or other[resumed]:
                break
            probe = list(rec[resumed:resumed + PROBE])
            k = next((k for k in range(done, length - len(probe) + 1)
                      if list(ref[k:k + len(probe)]) == probe), None)
            if k is None:
                break
            gaps += 1
            lost += k - done
            at, done = resumed, k
        if done != length or gaps == 0:
            continue
        tone.update({'whole': True, 'gaps': gaps, 'lost': lost})
        # The pieces after a gap that were taken for tones of their own.
        while i < len(tones) and tones[i]['side'] == side and \
                tones[i]['start'] + first_sound_of(refs, side) < at:
            i += 1
    return joined


def first_sound_of(refs, side):
    ref_l, ref_r = refs[side]
    ref = ref_l if side == 'L' else ref_r
    return next(i for i, v in enumerate(ref) if abs(v) > SOUND)


def check_turns(turns, info, failures):
    """The turns themselves: alternating, the first one at the far end, as many left ones as
    passes counted, and no stall. Gives the times between turns, in ms."""
    sides = ''.join(s for _, s in turns)
    if any(a == b for a, b in zip(sides, sides[1:])):
        failures.append('the turns do not alternate: ' + sides)
    if sides and sides[0] != 'R':
        failures.append('the first turn is not at the far end')
    if sides.count('L') != info['passes']:
        failures.append('%d left tones asked for but %d passes counted'
                        % (sides.count('L'), info['passes']))
    if not turns:
        failures.append('no turn at all')
        return []
    gaps = [(b - a) / 1e6 for (a, _), (b, _) in zip(turns, turns[1:])]
    if (turns[0][0] - info['started']) / 1e6 > 3000:
        failures.append('the first turn came %.0f ms after the start'
                        % ((turns[0][0] - info['started']) / 1e6))
    if gaps and max(gaps) > MAX_TURN_GAP_MS:
        failures.append('a stall: %.0f ms between two turns' % max(gaps))
    if (info['ended'] - turns[-1][0]) / 1e6 > MAX_TURN_GAP_MS:
        failures.append('a stall: no turn in the last %.0f ms of the run'
                        % ((info['ended'] - turns[-1][0]) / 1e6))
    return gaps


def report(failures, what):
    for failure in failures:
        print('FAIL: ' + failure)
    print('%s: PASS' % what if not failures else '%s: FAILED (%d problems)' % (what, len(failures)))
    return 1 if failures else 0


def turns_only(turns_path, min_turns):
    """For a run without sound: the turns go on as usual."""
    turns, info = read_turns(turns_path)
    failures = []
    gaps = check_turns(turns, info, failures)
    print('turns: %d (%s), passes counted: %d' % (len(turns), ''.join(s for _, s in turns),
                                                   info['passes']))
    if gaps:
        print('time between turns: median %.1f ms, max %.1f ms'
              % (statistics.median(gaps), max(gaps)))
    if len(turns) < min_turns:
        failures.append('only %d turns, at least %d were due' % (len(turns), min_turns))
    return report(failures, 'turns')


def parse_arguments():
    parser = argparse.ArgumentParser(
        description='Checks a recording of the sound server\'s output against the turns.')
    for name in ('raw', 'stamps', 'turns', 'left_wav', 'right_wav'):
        parser.add_argument(name)
    parser.add_argument('--judge-from', type=int)
    parser.add_argument('--judge-until', type=int)
    parser.add_argument('--answered', type=int)
    parser.add_argument('--back-within', type=float, default=2000.0)
    parser.add_argument('--silent-from', type=int)
    parser.add_argument('--sound')
    parser.add_argument('--min-tones', type=int, default=MIN_TONES)
    args = parser.parse_args()
    if args.answered is not None:
        back = args.answered + int(args.back_within * 1e6)
        args.judge_from = back if args.judge_from is None else max(args.judge_from, back)
    return args


def check_sound_states(info, args, failures):
    """What the program said about its sound, against what the run did to the server."""
    states = info['sound']
    at = lambda ns: (ns - info['started']) / 1e9
    print('sound states told: %s' % (', '.join('%s at %.3f s' % (what, at(ns))
                                                for ns, what in states) or 'none'))
    if args.sound is not None and ','.join(what for _, what in states) not in \
            args.sound.split('|'):
        failures.append('the program told its sound as %s, not %s'
                        % (','.join(what for _, what in states) or 'nothing', args.sound))
    if args.answered is None:
        return
    back = next((ns for ns, what in states if what == 'heard' and ns >= args.answered), None)
    if back is None:
        failures.append('the program never said that tones are heard again after the sound '
                        'server answered at %.3f s' % at(args.answered))
        return
    print('the program said tones are heard again %.0f ms after the sound server answered'
          % ((back - args.answered) / 1e6))
    if (back - args.answered) / 1e6 > args.back_within:
        failures.append('tones were heard again only %.0f ms after the sound server answered, '
                        'more than %.0f ms' % ((back - args.answered) / 1e6, args.back_within))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == '--turns':
        return turns_only(sys.argv[2], int(sys.argv[3]))
    args = parse_arguments()
    refs = {'L': read_wav(args.left_wav), 'R': read_wav(args.right_wav)}
    for side, (ref_l, ref_r) in refs.items():
        own, other = (ref_l, ref_r) if side == 'L' else (ref_r, ref_l)
        if any(other) or not any(abs(v) > SOUND for v in own):
            fail_input('the %s tone file is not a tone on its own side only' % side)
    tone_frames = len(refs['L'][0])
    left, right, stamps = read_recording(args.raw, args.stamps)
    turns, info = read_turns(args.turns)
    clock = RecordingClock(stamps)
    failures = []
    at = lambda ns: (ns - info['started']) / 1e9
    windowed = args.judge_from is not None or args.judge_until is not None

    def judged_turn(play_ns):
        return (args.judge_from is None or play_ns >= args.judge_from) and \
            (args.judge_until is None or play_ns <= args.judge_until)

    rec_begin = clock.ns(0)
    rec_end = stamps[-1][1]
    tones = join_underrun_pieces(find_tones(left, right, refs), left, right, refs)
    for tone in tones:
        tone['ns'] = clock.ns(max(tone['start'], 0))
    # Sound from before the program started is not the program's (a fresh server holds
    # none, but nothing here depends on that).
    tones = [t for t in tones if t['ns'] is not None and t['ns'] >= info['started']]

    print('recording: %.2f s, %d frames, from %.3f s into the run'
          % ((rec_end - rec_begin) / 1e9, len(left), at(rec_begin)))
    print('turns: %d (%s), passes counted: %d' % (len(turns), ''.join(s for _, s in turns),
                                                   info['passes']))
    print('tones heard: %d (%s)' % (len(tones), ''.join(t['side'] for t in tones)))
    if windowed:
        print('turns judged: from %s to %s' % (
            '%.3f s' % at(args.judge_from) if args.judge_from is not None else 'the start',
            '%.3f s' % at(args.judge_until) if args.judge_until is not None else 'the end'))

    gaps = check_turns(turns, info, failures)
    check_sound_states(info, args, failures)

    # Each turn with its tone: the first tone from slightly before to 100 ms after its play
    # command. Tones and turns are both in time order and at least 100 ms apart.
    delays = []
    matched = set()
    judged_count = 0
    k = 0
    for index, (play_ns, side) in enumerate(turns):
        while k < len(tones) and (tones[k]['ns'] - play_ns) / 1e6 < MIN_DELAY_MS:
            k += 1
        judged_count += judged_turn(play_ns)
        if k < len(tones) and (tones[k]['ns'] - play_ns) / 1e6 <= MAX_DELAY_MS:
            tone = tones[k]
            matched.add(k)
            tone['turn'] = index
            tone['judged'] = judged_turn(play_ns)
            k += 1
            if tone['judged']:
                delays.append((tone['ns'] - play_ns) / 1e6)
            if tone['side'] != side:
                failures.append('turn %d (%s): its tone is heard on the %s' % (index, side,
                                                                              tone['side']))
        elif not judged_turn(play_ns):
            continue
        elif index == len(turns) - 1 and (play_ns + MAX_DELAY_MS * 1e6 >= info['ended'] or
                                          play_ns + MAX_DELAY_MS * 1e6 >= rec_end):
            print('the last turn (%s): its tone may have been cut off by the end of the run, '
                  'not counted' % side)
        else:
            failures.append('turn %d (%s, %.3f s into the run): no tone within %.0f ms'
                            % (index, side, at(play_ns), MAX_DELAY_MS))
    for index, tone in enumerate(tones):
        if index not in matched:
            failures.append('a %s tone %.3f s into the run that no turn asked for'
                            % (tone['side'], at(tone['ns'])))
        if args.silent_from is not None and tone['ns'] >= args.silent_from:
            failures.append('a %s tone %.3f s into the run on this output, which was left '
                            'at %.3f s' % (tone['side'], at(tone['ns']), at(args.silent_from)))

    # Tones of turns outside the stretch judged may be heard in part (a tone moved to another
    # output as it sounds, or cut by the server going away): they are counted, not judged.
    own = [t for t in tones if not windowed or t.get('judged')]
    heard = ''.join(t['side'] for t in own)
    if any(a == b for a, b in zip(heard, heard[1:])):
        failures.append('the tones heard do not alternate: ' + heard)
    if len(own) < args.min_tones or len(matched) < args.min_tones:
        failures.append('only %d tones heard with their turns' % min(len(own), len(matched)))
    if windowed:
        print('turns judged: %d, heard with their tones: %d; tones of other turns heard: %d'
              % (judged_count, len([t for t in own if t.get('turn') is not None]),
                 len(tones) - len(own)))

    if args.answered is not None:
        first = next((t for t in tones if t['ns'] >= args.answered and 'turn' in t), None)
        if first is None:
            failures.append('no tone heard after the sound server answered')
        else:
            missed = sum(1 for ns, _ in turns if args.answered <= ns < turns[first['turn']][0])
            print('first tone after the sound server answered: %.0f ms after it (turn %d, %.3f '
                  's into the run); %d turn(s) after the answer and before it went unheard'
                  % ((first['ns'] - args.answered) / 1e6, first['turn'], at(first['ns']),
                     missed))

    # Sides, and each tone intact. A tone cut by the end of the recording is not judged.
    worst_crosstalk = 0
    exact = 0
    broken = []
    judged = [t for t in own if t['whole']]
    for tone in judged:
        worst_crosstalk = max(worst_crosstalk, tone['crosstalk'])
        if tone['crosstalk'] > MAX_CROSSTALK_RATIO * tone['peak']:
            failures.append('the %s tone %.3f s into the run is also on the other side '
                            '(peak %d against %d)' % (tone['side'], at(tone['ns']),
                                                      tone['crosstalk'], tone['peak']))
        if tone['exact']:
            exact += 1
        elif tone.get('gaps'):
            broken.append(tone)
            print('the %s tone %.3f s into the run is its file with %d gap(s) of silence from '
                  'the sound server running dry (%d frames of the file not heard)'
                  % (tone['side'], at(tone['ns']), tone['gaps'], tone['lost']))
        elif tone is tones[-1] and tone['ns'] + tone_frames * 1e9 / RATE > info['ended'] and \
                tone['prefix']:
            # Ending the program silences the tone that is sounding; what was heard of it
            # must still be its file's beginning.
            print('the last tone (%s) was cut off by the end of the run after %d frames, '
                  'sample-exact up to there' % (tone['side'], tone['prefix']))
        else:
            failures.append('the %s tone %.3f s into the run is not its file sample for sample '
                            '(%d frames of sound, the file has %d)'
                            % (tone['side'], at(tone['ns']), tone['sound_frames'], tone_frames))
    print('tones whole in the recording: %d, sample-exact: %d, broken by the sound server '
          'running dry: %d' % (len(judged), exact, len(broken)))
    if len(broken) > MAX_UNDERRUN_SHARE * len(judged):
        failures.append('%d of %d tones broken by the sound server running dry, more than one '
                        'in %d' % (len(broken), len(judged), round(1 / MAX_UNDERRUN_SHARE)))
    print('other channel: %s' % ('digital silence in every tone' if worst_crosstalk == 0
                                 else 'peak %d' % worst_crosstalk))
    if judged:
        middle = judged[len(judged) // 2]
        print('middle tone (%s, %.3f s into the run): %s' % (
            middle['side'], at(middle['ns']),
            'the file sample for sample, both channels' if middle['exact'] else 'NOT the file'))
    if delays:
        print('onset after the play command: median %.1f ms, min %.1f ms, max %.1f ms'
              % (statistics.median(delays), min(delays), max(delays)))
    if gaps:
        print('time between turns: median %.1f ms, max %.1f ms'
              % (statistics.median(gaps), max(gaps)))

    return report(failures, 'tones')


if __name__ == '__main__':
    sys.exit(main())
