// Where the sound server reads a playback stream, learnt from the server's timing reports.
//
// Each report says how far the server has read and how much its output still holds ahead of
// its reading. The moment reading began, by one report, is the report's own moment less the
// time the frames read so far take; a report that came late (the server reads whole cycles
// ahead, a reply waits its turn) only puts it later, so the earliest moment consistent with
// the reports of the last kWindowMs is taken. A server that falls a whole cycle behind shows
// it in every report of kRecentMs, and is followed from then on.
//
// That holds only for reports made while the server reads: a stream just started, moved or
// flushed can be asked before its first read, and such a report would put the start of
// reading at the moment it was made, earlier than it was. Reports count from the first one
// whose read position has moved on from where it stood when the learning began.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace platform {

class ReadClock
{
public:
    using Clock = std::chrono::steady_clock;

    // The reports taken together to find where reading began.
    static constexpr int kWindowMs = 4000;
    // The reports that tell whether the server has fallen behind.
    static constexpr int kRecentMs = 500;

    // What was known no longer holds (the stream started, moved, stalled or was flushed): it
    // is learnt afresh from now.
    void Restart(Clock::time_point now);
    // A report made at `now`: the server had read `readFrame` frames of the stream (in the
    // writer's count) at `rate` frames a second, and its output held `sinkUs` ahead of that.
    void Take(Clock::time_point now, long long readFrame, long long sinkUs, int rate);

    // The stream's frame that the server reads at `when`; none while the reports are too few
    // to tell.
    std::optional<long long> FrameAt(Clock::time_point when, int rate) const;
    // What the server's output holds ahead of its reading, by the last second's reports, in
    // whole steps of 10 ms: the PulseAudio daemon's sink changes its block as streams come and
    // go, and the tones must not move with the moment each report happened to catch it.
    long long AheadUs(Clock::time_point now) const;
    // When the learning last began, or began again after the server fell behind.
    Clock::time_point Since() const { return since_; }

private:
    struct Report
    {
        Clock::time_point at;
        long long originNs; // where reading began, by this report
        long long sinkUs;   // what the server's output held ahead of its reading
    };
    long long EarliestOrigin(Clock::time_point since) const;
    void DropBefore(Clock::time_point before);

    std::vector<Report> reports_;
    Clock::time_point since_{};
    std::optional<long long> startRead_; // where reading stood when the learning began
    bool reading_ = false;               // it has moved on since
};

} // namespace platform
