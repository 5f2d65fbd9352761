#!/usr/bin/env python3
"""The checks that tell the sound server's faults from the program's in the tone runs: a bare
client's click train (tones.click_breaks) and a recording falling behind the clock
(analyse.fell_behind). Were either to see a fault where there is none, a failing run of the
program would be made again instead of failing; were either blind, a run the server broke
would fail the program. And what a failing run's sound trace tells (sound_trace.py): the moments
that can move a tone, each named as what it is."""
import array
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "..", "harness"))
import analyse  # noqa: E402
import tones  # noqa: E402
import sound_trace  # noqa: E402

RATE = tones.RATE
EVERY = tones.CLICK_EVERY


def click_track(moves, clicks=40, smear=0):
    """The left channel of a recorded click train: click k lies moves.get(k, 0) frames after its
    place (every later one with it), each onset `smear` frames off by turns."""
    left = array.array("h", [0] * (EVERY * (clicks + 2) + sum(moves.values())))
    shift = 0
    for k in range(clicks):
        shift += moves.get(k, 0)
        at = k * EVERY + shift + (smear if k % 2 else 0)
        for i in range(tones.CLICK_FRAMES):
            left[at + i] = 12000 if (i // 10) % 2 == 0 else -12000
    return left


def stamps(seconds, falls=(), late_reads=(), read_frames=1024):
    """The recorder's stamps of a sink at RATE read every read_frames: the sink's frames leave
    `ms` later from second `at` on for each (at, ms) in falls; the reads at the seconds in
    late_reads come 40 ms late."""
    out = []
    for end in range(read_frames, int(seconds * RATE), read_frames):
        t = end / RATE
        ns = t * 1e9 + sum(ms * 1e6 for at, ms in falls if t >= at) + 2e6
        if any(abs(t - late) < 0.2 for late in late_reads):
            ns += 40e6
        out.append((end, int(ns)))
    return out


class ClickTrain(unittest.TestCase):
    CASES = [
        # name, moves, smear, breaks expected (as frames moved)
        ("every click in its place", {}, 0, []),
        ("a graph at another rate smears each onset by two frames", {}, 2, []),
        ("a cycle of 1024 frames of silence put in", {12: 1024}, 0, [1024]),
        ("a click lost", {20: EVERY}, 0, [EVERY]),
        ("two cycles of 2048 at two moments", {5: 2048, 30: 2048}, 0, [2048, 2048]),
    ]

    def test_cases(self):
        for name, moves, smear, expected in self.CASES:
            with self.subTest(name):
                breaks, count = tones.click_breaks(click_track(moves, smear=smear))
                self.assertEqual([gap - EVERY for _, gap in breaks], expected)
                self.assertEqual(count, 40)


class RecordingFall(unittest.TestCase):
    CASES = [
        # name, stamps, least and most fall in ms
        ("a recording that keeps pace", stamps(10), 0, 1),
        ("a graph cycle of 1024 frames lost at 4 s", stamps(10, falls=[(4, 23.2)]), 22, 24),
        ("a fall of 330 ms at 5 s", stamps(12, falls=[(5, 330)]), 329, 331),
        ("reads late for a moment in the middle", stamps(10, late_reads=[5]), 0, 1),
        ("reads late as the recording ends", stamps(10, late_reads=[9.9]), 0, 1),
    ]

    def test_cases(self):
        for name, recorded, least, most in self.CASES:
            with self.subTest(name):
                fall, since = analyse.fell_behind(recorded)
                self.assertGreaterEqual(fall, least)
                self.assertLessEqual(fall, most)
                self.assertEqual(fall > analyse.MAX_RECORDING_FALL_MS, least > 12)



def made_trace(path, seconds=4, missed=None, ahead=None, at_once=None, late_tone=None):
    """A trace of two streams read by a server in cycles of 1024 frames, a report every 7 ms or
    so, a tone every 125 ms placed 15 ms after its tick. The right stream's server misses a
    cycle at second `missed`, reads a cycle ahead for 300 ms from `ahead`, is held up for 50
    ms at `at_once` and then reads the cycles due at once; the tone at `late_tone` is placed
    5 ms late."""
    cycle_ns = 1024 * 1e9 / RATE
    lines = ["# lead 15 soonest 8"]
    for name in ("Left tone", "Right tone"):
        right = name.startswith("Right")
        for k in range(int(seconds * 1e9 / 7e6)):
            t = k * 7e6 + (k * 2654435761 % 1000) * 1e3  # reports somewhat irregular
            cycles = int(t // cycle_ns) + 1
            if right and missed is not None and t >= missed * 1e9:
                cycles = max(cycles - 1, int(missed * 1e9 // cycle_ns) + 1)
            if right and ahead is not None and 0 <= t - ahead * 1e9 < 3e8:
                cycles += 1
            if right and at_once is not None and 0 <= t - at_once * 1e9 < 5e7:
                cycles = int(at_once * 1e9 // cycle_ns) + 1
            read = cycles * 1024
            lines.append("report %d %d %d 0 0 %d %s" % (t, read, read + 8820, RATE, name))
        for k in range(int(seconds * 8)):
            asked = k * 125e6
            late = 5e6 if late_tone is not None and abs(asked - late_tone * 1e9) < 1e6 else 0
            lines.append("tone %d %d %d %s" % (asked, asked + 15e6 + late, k * 5512, name))
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


class SoundTrace(unittest.TestCase):
    CASES = [
        # name, what the server and the program did, the events expected (stream, words), in
        # the order of their texts
        ("a server that keeps its pace", {}, []),
        ("a cycle missed", {"missed": 2}, [("Right tone", "fell behind")]),
        ("a cycle read ahead", {"ahead": 2},
         [("Right tone", "read ahead"), ("Right tone", "frames at once")]),
        ("held up, two cycles at once", {"at_once": 2}, [("Right tone", "frames at once")]),
        ("a tone the program came to late", {"late_tone": 1.5},
         [("Left tone", "came to it late"), ("Right tone", "came to it late")]),
    ]

    def test_cases(self):
        path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "tarrowin-trace-%d" % os.getpid())
        for name, server, expected in self.CASES:
            with self.subTest(name):
                made_trace(path, **server)
                reports, placed = sound_trace.read_trace(path)
                events = [(stream, text) for stream in sorted(reports)
                          for _, text in sound_trace.stream_events(reports[stream])
                          if "learns afresh" not in text]
                events += [(stream, text) for stream in sorted(placed)
                           for _, text in sound_trace.tone_events(placed[stream])]
                self.assertEqual(len(events), len(expected), events)
                for (stream, text), (want_stream, words) in zip(sorted(events), expected):
                    self.assertEqual(stream, want_stream)
                    self.assertIn(words, text)
        os.remove(path)


if __name__ == "__main__":
    unittest.main()
