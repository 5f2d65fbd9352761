// A record of what the sound server told of each stream and of where each tone was placed,
// for finding out afterwards why a tone sounded where it did: a server that read a stream
// ahead, a clock that learnt afresh, a tone placed late because the program's thread was
// held up. Kept only when TARROWIN_SOUND_TRACE names a file; without it nothing is recorded.
//
// One line per event, times in the steady clock's nanoseconds (the clock the ticks are
// timed by), the stream's name last:
//   # lead <ms> soonest <ms>
//   report <at> <frame read> <frame written> <output's hold ahead, µs> <learning since>
//          <frames a second> <stream>
//   tone <asked, or -> <placed to sound at> <frame> <stream>
// The lines gather in a large buffer and reach the file a megabyte at a time, so that the
// sound thread, which writes them with the library's lock held, does not wait on the disk.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

namespace platform {

class SoundTrace
{
public:
    using Clock = std::chrono::steady_clock;

    // The trace the environment asks for, or none.
    static std::unique_ptr<SoundTrace> FromEnvironment(int leadMs, int soonestMs);
    SoundTrace(std::FILE *file, int leadMs, int soonestMs);
    ~SoundTrace();
    SoundTrace(const SoundTrace &) = delete;
    SoundTrace &operator=(const SoundTrace &) = delete;

    void Report(const char *stream, Clock::time_point at, long long readFrame,
                long long writtenFrame, long long sinkUs, Clock::time_point learntSince, int rate);
    void Tone(const char *stream, std::optional<Clock::time_point> asked, Clock::time_point at,
              long long frame);

private:
    std::FILE *file_;
};

} // namespace platform
