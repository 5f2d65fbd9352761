#!/usr/bin/env python3
"""What a sound trace (TARROWIN_SOUND_TRACE) tells of a run, for a run whose tones failed.

    trace.py TRACE [--started NS]   the events that can move a tone, in seconds from NS
    trace.py --check TRACE          exit 1 unless both sides have reports and placed tones

The events: the clock of a stream learning afresh; a stream holding less than a cycle ahead
of the server's reading; the server reading more than one of its cycles at once (it was held
up); the earliest start of reading that the reports give moving more than ENVELOPE_MS away
from where the two seconds before put it (earlier: the server read the stream ahead; later:
it fell behind); a tone placed later after its tick than the run's others (the program's
thread came to it late).
"""
import argparse
import statistics
import sys
from collections import defaultdict

SIDES = ('Left tone', 'Right tone')
ENVELOPE_MS = 12.0
BIN_NS = 250_000_000
HISTORY_BINS = 8
LATE_MS = 1.0


def read_trace(path):
    reports, tones = defaultdict(list), defaultdict(list)
    with open(path, encoding='utf-8') as trace:
        for line in trace:
            words = line.split()
            if not words or words[0] == '#':
                continue
            if words[0] == 'report' and len(words) >= 8:
                at, read, written, sink_us, since, rate = (int(w) for w in words[1:7])
                reports[' '.join(words[7:])].append((at, read, written, sink_us, since, rate))
            elif words[0] == 'tone' and len(words) >= 5:
                asked = None if words[1] == '-' else int(words[1])
                tones[' '.join(words[4:])].append((asked, int(words[2]), int(words[3])))
    return reports, tones


def origin_ns(at, read, sink_us, rate):
    """Where reading began, by one report."""
    return at + sink_us * 1000 - read * 1_000_000_000 // rate


def third_lowest(values):
    ordered = sorted(values)
    return ordered[min(2, len(ordered) - 1)]


def stream_events(reports):
    """(moment, text) of what moved where the server read, for one stream's reports."""
    steps = [b[1] - a[1] for a, b in zip(reports, reports[1:]) if b[1] > a[1] and a[4] == b[4]]
    cycle = statistics.mode(steps) if steps else 0
    events = []
    previous = None
    short = None
    for at, read, written, sink_us, since, rate in reports:
        if cycle and written - read < cycle and (short is None or at - short > BIN_NS):
            short = at
            events.append((at, 'the stream held only %d frames ahead of the server\'s reading'
                           % (written - read)))
        if previous is None or since != previous[4]:
            events.append((at, 'its clock learns afresh'))
        elif cycle and read - previous[1] > cycle:
            events.append((at, 'the server read %d frames at once (its cycle: %d)'
                           % (read - previous[1], cycle)))
        elif read < previous[1]:
            events.append((at, 'the server\'s read position went back %d frames'
                           % (previous[1] - read)))
        previous = (at, read, written, sink_us, since, rate)
    return events + envelope_events(reports)


def envelope_events(reports):
    """Where the earliest start of reading, bin by bin, left the usual of the bins before it:
    earlier, the server read ahead; later, in two bins in a row, it fell behind."""
    bins = []  # (start of the bin, the learning it belongs to, its third lowest origin)
    for at, read, _, sink_us, since, rate in reports:
        if read == 0:
            continue
        if not bins or at - bins[-1][0] >= BIN_NS or since != bins[-1][1]:
            bins.append((at, since, []))
        bins[-1][2].append(origin_ns(at, read, sink_us, rate))
    lows = [(start, since, third_lowest(origins)) for start, since, origins in bins]
    events = []
    behind = False
    for k, (start, since, low) in enumerate(lows):
        before = [b[2] for b in lows[max(0, k - HISTORY_BINS):k] if b[1] == since]
        if len(before) < HISTORY_BINS // 2:
            continue
        moved = (low - statistics.median(before)) / 1e6
        following = lows[k + 1][2] if k + 1 < len(lows) and lows[k + 1][1] == since else None
        if moved < -ENVELOPE_MS:
            events.append((start, 'the reports put the start of reading %.2f ms earlier: the'
                           ' server read ahead' % -moved))
        elif (moved > ENVELOPE_MS and following is not None and not behind and
              (following - statistics.median(before)) / 1e6 > ENVELOPE_MS):
            events.append((start, 'the reports put the start of reading %.2f ms later: the'
                           ' server fell behind' % moved))
        behind = moved > ENVELOPE_MS
    return events


def tone_events(tones):
    """Tones placed later after their tick than the run's others."""
    waits = [at - asked for asked, at, _ in tones if asked is not None]
    if not waits:
        return []
    usual = statistics.median(waits)
    return [(asked, 'tone of the tick at this moment placed %.2f ms later than the others: the'
             ' program came to it late' % ((at - asked - usual) / 1e6))
            for asked, at, _ in tones
            if asked is not None and (at - asked - usual) / 1e6 > LATE_MS]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('trace')
    parser.add_argument('--started', type=int, help='the program\'s start, steady clock ns')
    parser.add_argument('--check', action='store_true')
    args = parser.parse_args()
    try:
        reports, tones = read_trace(args.trace)
    except OSError as error:
        print('FAIL: the sound trace cannot be read: %s' % error)
        return 1
    if args.check:
        missing = [side for side in SIDES if not reports[side] or not tones[side]]
        for side in missing:
            print('FAIL: the sound trace has no %s of the %s stream'
                  % ('reports' if not reports[side] else 'placed tones', side.split()[0]))
        return 1 if missing else 0
    started = args.started
    if started is None:
        started = min((r[0][0] for r in reports.values() if r), default=0)
    events = []
    for name in sorted(set(reports) | set(tones)):
        events += [(at, name, text) for at, text in stream_events(reports[name])]
        events += [(at, name, text) for at, text in tone_events(tones[name])]
    for at, name, text in sorted(events):
        print('trace: %8.3f s  %s: %s' % ((at - started) / 1e9, name, text))
    if not events:
        print('trace: nothing moved where the server read, and every tone was placed in time')
    return 0


if __name__ == '__main__':
    sys.exit(main())
