#!/usr/bin/env python3
"""Checks a recording of the sound server's output against the turns of a stimulation.

    analyse.py REC.raw REC.stamps TURNS.log LEFT.wav RIGHT.wav
    analyse.py --turns TURNS.log MIN_TURNS     (the turns alone, for a run without sound)
    analyse.py --bare REC.raw REC.stamps TURNS.log MAIN.stamps
                                  (a bare client's click train, recorded beside the program
                                  on a second output of the same server: whether the server
                                  kept every click in its place, and both recordings, this
                                  one and the program's (MAIN), in time; exit 1 when not)
    analyse.py --held-up STAMPS...  (whether the server held up any of these recordings for
                                  good, by more than MAX_RECORDING_FALL_MS; exit 1 if so)

REC.raw and REC.stamps come from recorder.py, TURNS.log from tone_run. What must hold:
  - every tone heard is on one side only, the other channel silent or at least 60 dB below;
  - the tones alternate between the sides, as the turns do;
  - one tone per turn, on the turn's side, starting within 100 ms after the turn's motion
    tick, and no tone without a turn;
  - the tones keep the turns' beat: the time from a turn's tick to its tone is the same for
    every tone, within --max-spread-ms from its 1st to its 99th percentile, and the same on
    both sides, within 1 ms at the median; the time between two tones is the time between
    their turns' ticks, within 1.5 ms;
  - every tone is its file sample for sample, both channels, so none is cut short, broken up
    or mixed with another; the tone in the middle of the run is shown as proof. A tone whose
    recording is its file in order with gaps of silence (the sound server ran dry) is named
    as such, and fails like any other damage;
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
  --max-spread-ms MS                  the spread allowed of tick-to-tone times (default 2)
  --max-onset-ms MS                   the median tick-to-tone time allowed (default: none)
  --max-turn-gap-ms MS                the time between two turns that counts as a stall
                                      (default 1000, for the fastest speeds)
  --resampled                         the sound server ran at another rate than the files and
                                      resampled them, so no tone can be its file sample for
                                      sample: each must instead sound in one piece exactly as
                                      long as its file sounds (within RESAMPLED_SLACK frames),
                                      with nothing of it held back or broken off
  --sink-pace                         the sink keeps its own pace, not the monotonic clock's
                                      (the PulseAudio daemon's null sink): measured over the
                                      program's tones, and the onsets taken by it
Times NS are CLOCK_MONOTONIC nanoseconds, as in TURNS.log.
Prints a summary and exits 1 when anything fails, 2 when the input cannot be used."""
import argparse
import bisect
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "harness"))
from tones import CLICK_EVERY, RATE, ToneFile, channels, click_breaks, find_tones  # noqa: E402

# The tone must start within this time after its turn's motion tick.
MAX_DELAY_MS = 100.0
# A tone cannot start before its turn, but the recording's clock can put it there: a
# frame's time is taken back from the read that brought it at the sample rate, and a null
# sink that was held up (a loaded machine, a sanitized build) gives out what it owes in one
# burst, so the frames of that burst seem earlier than they left. Such a tone was seen 12 ms
# before its turn under AddressSanitizer; turns are 125 ms apart or more, so this room cannot
# take the tone of another turn.
MIN_DELAY_MS = -30.0
# The run ends this long before the last tone's end and still cuts it: a sink's monitor hands
# out each block as it is rendered, up to a block (25 ms) before the sink plays it.
END_SLACK_MS = 50.0
# The other channel of a tone: at least 60 dB below the tone.
MAX_CROSSTALK_RATIO = 1e-3
# The runs are at the fastest speed, where a leg takes about 125 ms: a second between two
# turns is a stall. (Pauses of the whole machine approaching half a second were seen here.)
MAX_TURN_GAP_MS = 1000.0
MIN_TONES = 20
# A recording that fell this far behind the clock for good was held up by the server: the
# tightest reads of a recording that keeps pace wander by 3 ms here, and a graph cycle lost is
# 23 ms at the least.
MAX_RECORDING_FALL_MS = 12.0
# The tones' beat: the spread of tick-to-tone times (1st to 99th percentile), the difference
# of the two sides' medians, and how far the time between two tones may be from the time
# between their ticks.
MAX_SPREAD_MS = 2.0
MAX_SIDE_DIFFERENCE_MS = 1.0
MAX_GAP_ERROR_MS = 1.5
# A resampled tone sounds this many frames longer or shorter than its file at the most: the
# resampler's filter smears the fades at either end by a frame or two.
RESAMPLED_SLACK = 4


def fail_input(text):
    print('analyse.py: ' + text)
    sys.exit(2)


def read_recording(raw_path, stamp_path):
    with open(raw_path, 'rb') as f:
        left, right = channels(f.read())
    return left, right, read_stamps(stamp_path)


def read_stamps(path):
    stamps = []
    with open(path) as f:
        for line in f:
            end, ns = line.split()
            stamps.append((int(end), int(ns)))
    if not stamps:
        fail_input('the recording is empty')
    return stamps


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
    WINDOW = RATE
    MAX_READS = 1000

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


def check_turns(turns, info, failures, max_gap_ms=MAX_TURN_GAP_MS):
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
    if gaps and max(gaps) > max_gap_ms:
        failures.append('a stall: %.0f ms between two turns' % max(gaps))
    if (info['ended'] - turns[-1][0]) / 1e6 > max_gap_ms:
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


def fell_behind(stamps):
    """How far a recording fell behind the clock for good, in ms, and from when: the sink or
    its monitor held up by the server. Each read bounds from above the moment its frames left
    the sink; the tightest bound of each half second is taken, and the largest rise of the
    bounds from before a moment to after it, all of them, is the fall."""
    tightest = {}
    first = stamps[0][1]
    for end, ns in stamps:
        piece = (ns - first) // 500_000_000
        tightest[piece] = min(tightest.get(piece, ns), ns - end * 1e9 / RATE)
    # The last half second is left out, as the players stop and the sink winds down, and a
    # fall must hold for a second at least.
    pieces = sorted(tightest)[:-1]
    rises = [min(tightest[p] for p in pieces[k:]) - min(tightest[p] for p in pieces[:k])
             for k in range(1, len(pieces) - 1)]
    if not rises or max(rises) <= 0:
        return 0.0, None
    # From the first piece after which it had fallen most of the way.
    k = next(k for k, rise in enumerate(rises) if rise >= max(rises) / 2)
    return max(rises) / 1e6, first + pieces[k + 1] * 500_000_000


def held_up(paths):
    """Whether the server held up a recording: it fell behind the clock for good."""
    held = False
    for path in paths:
        fall, _ = fell_behind(read_stamps(path))
        if fall > MAX_RECORDING_FALL_MS:
            held = True
            print('the server held up the recording %s: it fell %.1f ms behind the clock'
                  % (os.path.basename(path), fall))
    return 1 if held else 0


def bare_client(raw_path, stamp_path, turns_path, main_stamp_path):
    """The click train of a bare client beside the program: a click every CLICK_EVERY frames
    as it was written, unless the server put silence into its stream or lost a part of it; and
    both recordings keeping pace with the clock, unless the server held them up."""
    left, _, stamps = read_recording(raw_path, stamp_path)
    _, info = read_turns(turns_path)
    at = lambda ns: '%.3f s into the run' % ((ns - info['started']) / 1e9) if ns else 'at the end'
    clock = RecordingClock(stamps)
    breaks, count = click_breaks(left)
    # What the server did before the program started did not touch the program's run.
    breaks = [(frame, gap) for frame, gap in breaks
              if (clock.ns(frame) or info['started']) >= info['started']]
    print('bare client beside the program, on a second output: %d clicks' % count)
    for frame, gap in breaks:
        print('  the server moved its click %s by %+d frames (%+.1f ms)'
              % (at(clock.ns(frame)), gap - CLICK_EVERY, (gap - CLICK_EVERY) * 1000 / RATE))
    if count < 10:
        print('  too few clicks to tell')
        return 2
    behind = False
    for what, path in (('bare client\'s', stamp_path), ('program\'s', main_stamp_path)):
        fall, since = fell_behind(read_stamps(path))
        print('  the recording of the %s output fell %.1f ms behind the clock at the most'
              % (what, fall))
        if fall > MAX_RECORDING_FALL_MS:
            behind = True
            print('  that is the server holding it up, from %s' % at(since))
    broken = breaks or behind
    print('bare client: %s' % ('every click in its place, both recordings in time'
                               if not broken else 'BROKEN by the server'))
    return 1 if broken else 0


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
    parser.add_argument('--resampled', action='store_true')
    parser.add_argument('--sink-pace', action='store_true')
    parser.add_argument('--max-spread-ms', type=float, default=MAX_SPREAD_MS)
    parser.add_argument('--max-onset-ms', type=float)
    parser.add_argument('--max-turn-gap-ms', type=float, default=MAX_TURN_GAP_MS)
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


def percentile(values, share):
    """The value below which `share` of the values lie, between neighbours."""
    ordered = sorted(values)
    at = share * (len(ordered) - 1)
    low = int(at)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (at - low)


def sink_clock(stamps, first, last, paced):
    """The monotonic moment at which a recorded frame left the sink, as a function.

    Each read bounds the moment its frames left from above. PipeWire's null sink keeps the
    monotonic clock's pace: the tightest bound over the whole recording places every frame.
    The PulseAudio daemon's (`paced`) counts its blocks in whole microseconds and so runs
    fast, by up to a tenth of a millisecond a second on a busy machine, as a sound card's
    crystal may: there the tightest bound of each second, from frame `first` to `last` (the
    program's tones; the daemon's sink changes its block as streams come and go, which
    moves the bounds by milliseconds), gives a line whose slope is the sink's pace, moved
    down to the tightest bound there."""
    span = [(end, ns) for end, ns in stamps if first <= end <= last] if paced else []
    pieces = {}
    for end, ns in span:
        bound = ns - end * 1e9 / RATE
        if end // RATE not in pieces or bound < pieces[end // RATE][1]:
            pieces[end // RATE] = (end, bound)
    if len(pieces) < 4:
        span = stamps
        slope = 0.0
    else:
        xs = [end for end, _ in pieces.values()]
        ys = [bound for _, bound in pieces.values()]
        mean_x = statistics.fmean(xs)
        mean_y = statistics.fmean(ys)
        slope = sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys)) / \
            sum((x - mean_x) ** 2 for x in xs)
    place = min(ns - end * 1e9 / RATE - slope * end for end, ns in span)
    return lambda frame: place + frame * (1e9 / RATE + slope)


def check_beat(delays, stamps, args, failures):
    """The tones against their turns' ticks: a constant time after the tick, the same on
    both sides, so that the time between two tones is the time between their turns.

    Measured on the sink's own clock, its frames: the recording's frame count is exact, while
    the moments its reads arrive move by up to a block of the sink as the server hands out its
    monitor's blocks. The frames are put on the monotonic clock by sink_clock."""
    if not delays:
        return
    out_at = sink_clock(stamps, min(start for start, _, _ in delays),
                        max(start for start, _, _ in delays), args.sink_pace)
    onsets = [(out_at(start) - tick) / 1e6 for start, _, tick in delays]
    median = statistics.median(onsets)
    spread = percentile(onsets, 0.99) - percentile(onsets, 0.01)
    print('onset after the turn\'s tick: median %.2f ms, min %.2f, max %.2f, spread (p99 - p1) '
          '%.2f ms' % (median, min(onsets), max(onsets), spread))
    if len(onsets) >= 10 and spread > args.max_spread_ms:
        worst = max(onsets, key=lambda d: abs(d - median))
        failures.append('the tones do not keep the beat: their onsets after the ticks spread '
                        'over %.2f ms, more than %.2f (the farthest: %.2f ms)'
                        % (spread, args.max_spread_ms, worst))
    if args.max_onset_ms is not None and median > args.max_onset_ms:
        failures.append('the tones sound %.2f ms after their ticks at the median, more than '
                        '%.2f' % (median, args.max_onset_ms))
    sides = {side: statistics.median([o for o, (_, s, _) in zip(onsets, delays) if s == side])
             for side in 'LR' if any(s == side for _, s, _ in delays)}
    if len(sides) == 2:
        print('onset by side: left %.2f ms, right %.2f ms' % (sides['L'], sides['R']))
        if abs(sides['L'] - sides['R']) > MAX_SIDE_DIFFERENCE_MS:
            failures.append('the left tones sound %.2f ms after their ticks, the right ones '
                            '%.2f ms' % (sides['L'], sides['R']))
    errors = [b - a for a, b in zip(onsets, onsets[1:])]
    if errors:
        worst = max(errors, key=abs)
        print('time between tones against the time between their ticks: at most %.2f ms off'
              % abs(worst))
        if abs(worst) > MAX_GAP_ERROR_MS:
            failures.append('two tones are %.2f ms further apart than their ticks' % worst)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == '--turns':
        return turns_only(sys.argv[2], int(sys.argv[3]))
    if len(sys.argv) > 2 and sys.argv[1] == '--held-up':
        return held_up(sys.argv[2:])
    if len(sys.argv) == 6 and sys.argv[1] == '--bare':
        return bare_client(*sys.argv[2:])
    args = parse_arguments()
    try:
        refs = {'L': ToneFile(args.left_wav, 'L'), 'R': ToneFile(args.right_wav, 'R')}
    except ValueError as e:
        fail_input(str(e))
    tone_frames = refs['L'].frames
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
    tones = find_tones(left, right, refs)
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

    gaps = check_turns(turns, info, failures, args.max_turn_gap_ms)
    check_sound_states(info, args, failures)

    # Each turn with its tone: the first tone from slightly before to 100 ms after its play
    # command. Tones and turns are both in time order and at least 100 ms apart.
    delays = []
    matched = set()
    judged_count = 0
    k = 0
    # The rest of a tone that was sounding when the sound moved to this output, heard here
    # from its middle: a piece of the turn before's tone, on that turn's side, not judged.
    pieces = set()
    for index, (play_ns, side) in enumerate(turns):
        while k < len(tones) and (tones[k]['ns'] - play_ns) / 1e6 < MIN_DELAY_MS:
            k += 1
        if k < len(tones) and args.judge_from is not None and \
                tones[k]['ns'] < args.judge_from and tones[k]['side'] != side and \
                not tones[k]['exact'] and index > 0 and turns[index - 1][1] == tones[k]['side']:
            pieces.add(k)
            k += 1
        judged_count += judged_turn(play_ns)
        if k < len(tones) and (tones[k]['ns'] - play_ns) / 1e6 <= MAX_DELAY_MS:
            tone = tones[k]
            matched.add(k)
            tone['turn'] = index
            tone['judged'] = judged_turn(play_ns)
            k += 1
            if tone['judged']:
                delays.append((tone['start'], side, play_ns))
            # Outside the stretch judged (around a server's start, where its sink may give
            # out its first frames in a burst and the recording's clock puts the next turn's
            # tone early), a tone is only counted.
            if tone['side'] != side and tone['judged']:
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
        if index not in matched and index not in pieces:
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
        if args.resampled:
            span = refs[tone['side']].sound_span
            if abs(tone['sound_frames'] - span) <= RESAMPLED_SLACK:
                exact += 1
            elif tone is not tones[-1] or tone['ns'] + tone_frames * 1e9 / RATE <= info['ended']:
                failures.append('the %s tone %.3f s into the run sounds for %d frames, its file '
                                'for %d: not one whole piece' % (tone['side'], at(tone['ns']),
                                                                 tone['sound_frames'], span))
        elif tone['exact']:
            exact += 1
        elif tone.get('gaps'):
            broken.append(tone)
            print('the %s tone %.3f s into the run is its file with %d gap(s) of silence from '
                  'the sound server running dry (%d frames of the file not heard)'
                  % (tone['side'], at(tone['ns']), tone['gaps'], tone['lost']))
        elif tone is tones[-1] and tone['ns'] + tone_frames * 1e9 / RATE > \
                info['ended'] - END_SLACK_MS * 1e6 and \
                tone['prefix']:
            # Ending the program silences the tone that is sounding; what was heard of it
            # must still be its file's beginning.
            print('the last tone (%s) was cut off by the end of the run after %d frames, '
                  'sample-exact up to there' % (tone['side'], tone['prefix']))
        else:
            failures.append('the %s tone %.3f s into the run is not its file sample for sample '
                            '(%d frames of sound, the file has %d)'
                            % (tone['side'], at(tone['ns']), tone['sound_frames'], tone_frames))
    print('tones whole in the recording: %d, %s: %d, broken by the sound server '
          'running dry: %d' % (len(judged), 'in one piece of their file\'s length'
                               if args.resampled else 'sample-exact', exact, len(broken)))
    if broken:
        failures.append('%d of %d tones broken by the sound server running dry'
                        % (len(broken), len(judged)))
    print('other channel: %s' % ('digital silence in every tone' if worst_crosstalk == 0
                                 else 'peak %d' % worst_crosstalk))
    if judged and not args.resampled:
        middle = judged[len(judged) // 2]
        print('middle tone (%s, %.3f s into the run): %s' % (
            middle['side'], at(middle['ns']),
            'the file sample for sample, both channels' if middle['exact'] else 'NOT the file'))
    check_beat(delays, stamps, args, failures)
    if gaps:
        print('time between turns: median %.1f ms, max %.1f ms'
              % (statistics.median(gaps), max(gaps)))

    return report(failures, 'tones')


if __name__ == '__main__':
    sys.exit(main())
