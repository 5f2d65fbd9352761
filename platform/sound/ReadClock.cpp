#include "ReadClock.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace {

constexpr long long kNsPerSecond = 1'000'000'000;
// Reports enough to place a tone by: a few cycles' worth.
constexpr std::size_t kLeastReports = 4;
// Early reports passed over in finding where the stream's first sample was.
constexpr std::size_t kOutliers = 2;
// Recent reports that all put the start of reading this much later than the older ones tell
// of a server that fell behind (by a cycle of its graph: 20 ms and more), where they follow a
// history at least as long.
constexpr long long kStepNs = 15'000'000;
// Of the recent reports that tell of a server that fell behind, those of the last this many ms:
// the earlier ones may have caught it waking, as it read the cycle then due at once, before it
// kept to its new pace.
constexpr int kSettledMs = 250;
// The server's output's hold ahead of its reading is counted in steps of this much.
constexpr long long kAheadStepUs = 10'000;

long long NsOf(ReadClock::Clock::time_point when)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
}

} // namespace

void ReadClock::Restart(Clock::time_point now)
{
    reports_.clear();
    since_ = now;
    startRead_.reset();
    reading_ = false;
}

void ReadClock::Take(Clock::time_point now, long long readFrame, long long sinkUs, int rate)
{
    if (rate <= 0)
        return;
    // Until the server reads, a report only says that reading has not begun yet.
    if (!startRead_) {
        startRead_ = readFrame;
        return;
    }
    if (readFrame == *startRead_ && !reading_)
        return;
    reading_ = true;
    // Where the server's output is: what it read, less what its output still holds (the
    // PulseAudio daemon's sink renders a block ahead and says how much is left of it).
    const long long origin = NsOf(now) + sinkUs * 1000 - readFrame * kNsPerSecond / rate;
    reports_.push_back({now, origin, sinkUs});
    DropBefore(now - std::chrono::milliseconds(kWindowMs));
    // A server that fell behind for a cycle (a busy machine can make it miss one) reads
    // everything a cycle later from then on: its recent reports all say so. The older ones no
    // longer hold, nor do those it made as it woke, which lie between its old pace and its new
    // one: they go, and the server is asked as often as for a stream just started, so that
    // where it reads now is soon known as closely as before.
    const auto recent = now - std::chrono::milliseconds(kRecentMs);
    if (reports_.front().at < recent - std::chrono::milliseconds(kRecentMs) &&
        EarliestOrigin(recent) - EarliestOrigin({}) > kStepNs) {
        DropBefore(now - std::chrono::milliseconds(kSettledMs));
        since_ = now;
    }
}

// The earliest moment at which the stream's first sample was by the reports since `since`:
// the third earliest, so that a report or two that came out early (a server that read ahead
// while it started or moved a stream) cannot set the tones early or late for a whole window.
long long ReadClock::EarliestOrigin(Clock::time_point since) const
{
    std::vector<long long> origins;
    origins.reserve(reports_.size());
    for (const Report &report : reports_) {
        if (report.at >= since)
            origins.push_back(report.originNs);
    }
    if (origins.empty())
        return std::numeric_limits<long long>::max();
    const auto at = origins.begin() + static_cast<std::ptrdiff_t>(
                                          std::min<std::size_t>(kOutliers, origins.size() - 1));
    std::nth_element(origins.begin(), at, origins.end());
    return *at;
}

void ReadClock::DropBefore(Clock::time_point before)
{
    reports_.erase(std::remove_if(reports_.begin(), reports_.end(),
                                  [&](const Report &r) { return r.at < before; }),
                   reports_.end());
}

std::optional<long long> ReadClock::FrameAt(Clock::time_point when, int rate) const
{
    if (reports_.size() < kLeastReports)
        return std::nullopt;
    return (NsOf(when) - EarliestOrigin({})) * rate / kNsPerSecond;
}

long long ReadClock::AheadUs(Clock::time_point now) const
{
    long long ahead = 0;
    const auto recent = now - std::chrono::seconds(1);
    for (const Report &report : reports_) {
        if (report.at >= recent)
            ahead = std::max(ahead, report.sinkUs);
    }
    return (ahead + kAheadStepUs - 1) / kAheadStepUs * kAheadStepUs;
}

} // namespace platform
