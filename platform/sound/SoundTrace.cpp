#include "SoundTrace.h"

#include <cstdlib>

namespace platform {

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;

long long NsOf(SoundTrace::Clock::time_point when)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
}

const char *NameOf(const char *stream)
{
    return stream ? stream : "?";
}

} // namespace

std::unique_ptr<SoundTrace> SoundTrace::FromEnvironment(int leadMs, int soonestMs)
{
    const char *path = std::getenv("TARROWIN_SOUND_TRACE");
    if (!path || !*path)
        return nullptr;
    std::FILE *file = std::fopen(path, "w");
    if (!file)
        return nullptr;
    return std::make_unique<SoundTrace>(file, leadMs, soonestMs);
}

SoundTrace::SoundTrace(std::FILE *file, int leadMs, int soonestMs) : file_(file)
{
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
    std::fprintf(file_, "# lead %d soonest %d\n", leadMs, soonestMs);
}

SoundTrace::~SoundTrace()
{
    std::fclose(file_);
}

void SoundTrace::Report(const char *stream, Clock::time_point at, long long readFrame,
                        long long writtenFrame, long long sinkUs, Clock::time_point learntSince,
                        int rate)
{
    std::fprintf(file_, "report %lld %lld %lld %lld %lld %d %s\n", NsOf(at), readFrame,
                 writtenFrame, sinkUs, NsOf(learntSince), rate, NameOf(stream));
}

void SoundTrace::Tone(const char *stream, std::optional<Clock::time_point> asked,
                      Clock::time_point at, long long frame)
{
    if (asked)
        std::fprintf(file_, "tone %lld %lld %lld %s\n", NsOf(*asked), NsOf(at), frame,
                     NameOf(stream));
    else
        std::fprintf(file_, "tone - %lld %lld %s\n", NsOf(at), frame, NameOf(stream));
}

} // namespace platform
