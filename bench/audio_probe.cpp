// Plays a tone file a number of times at a steady interval on two alternating voices, the
// way the stimulation window sounds its left and right tones, and prints each tone's moment
// on the schedule and when its play call was made, so that a recording of the output can be
// lined up against them.
//
//   audio_probe FILE COUNT INTERVAL_MS [--right FILE] [--tail MS] [--server]
//
// The device is SDL2_mixer (whatever output SDL finds, the sound server included), or with
// --server the program's own client of the sound server, which is waited for (up to 5 s)
// before the first tone. Each tone, at its moment on the schedule and inside a tick of that
// moment (the sound-server device places a tone a fixed time after its tick, as it does for
// the program's turns): stop the other voice, close this one, open the file (served from the
// cache after the first time), play. Output, one line a tone after a '#' header:
//   <index> <voice> <CLOCK_MONOTONIC ns of the tone's moment on the schedule>
//   <CLOCK_MONOTONIC ns just before the play call> <ns the play call took>
// Exit status: 0 done, 1 bad arguments or a file that cannot be opened, 2 no sound output.
#include "platform/TickMoment.h"
#include "platform/sound/PulseAudioDevice.h"
#include "platform/sound/SdlAudioDevice.h"

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void SleepUntil(std::int64_t ns)
{
    timespec when{};
    when.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    when.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

bool ParseCount(const char *text, long minimum, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= minimum;
}

int Usage()
{
    std::fprintf(stderr, "usage: audio_probe FILE COUNT INTERVAL_MS [--right FILE] [--tail MS] "
                         "[--server]\n");
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        return Usage();
    std::string files[2] = {argv[1], argv[1]};
    long count = 0;
    long intervalMs = 0;
    long tailMs = 300;
    bool server = false;
    if (!ParseCount(argv[2], 1, count) || !ParseCount(argv[3], 1, intervalMs))
        return Usage();
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--right" && i + 1 < argc) {
            files[1] = argv[++i];
        } else if (option == "--server") {
            server = true;
        } else if (option == "--tail" && i + 1 < argc) {
            if (!ParseCount(argv[++i], 0, tailMs))
                return Usage();
        } else {
            return Usage();
        }
    }

    std::unique_ptr<platform::AudioDevice> output;
    platform::PulseAudioDevice *pulse = nullptr;
    if (server) {
        auto device = std::make_unique<platform::PulseAudioDevice>();
        pulse = device.get();
        output = std::move(device);
    } else {
        output = std::make_unique<platform::SdlAudioDevice>();
    }
    platform::AudioDevice &device = *output;
    const int voices[2] = {device.AllocateVoice(), device.AllocateVoice()};
    // Opening the output and decoding both files first keeps that cost out of the timings.
    if (const std::string problem = device.DeviceError(); !problem.empty()) {
        std::fprintf(stderr, "audio_probe: %s\n", problem.c_str());
        return 2;
    }
    if (pulse) {
        const std::int64_t giveUp = NowNs() + 5'000'000'000;
        while (pulse->CurrentLink() != platform::PulseAudioDevice::Link::Ready && NowNs() < giveUp)
            SleepUntil(NowNs() + 5'000'000);
        if (pulse->CurrentLink() != platform::PulseAudioDevice::Link::Ready) {
            std::fprintf(stderr, "audio_probe: no sound server answers\n");
            return 2;
        }
    }
    for (int side = 0; side < 2; ++side) {
        const platform::AudioResult result = device.Open(voices[side], files[side]);
        if (!result.ok) {
            std::fprintf(stderr, "audio_probe: %s: %s\n", files[side].c_str(),
                         result.error.c_str());
            return 1;
        }
    }

    std::printf("# index voice tick_ns play_ns call_ns\n");
    std::fflush(stdout);
    // A short lead so the output stream is running before the first tone.
    const std::int64_t start = NowNs() + 100'000'000;
    const int schedule = 0; // the ticks' timer, for the device's tick moments
    for (long i = 0; i < count; ++i) {
        const int side = static_cast<int>(i % 2);
        const int voice = voices[side];
        const std::int64_t tick = start + i * intervalMs * 1'000'000;
        SleepUntil(tick);
        // steady_clock is CLOCK_MONOTONIC.
        const platform::detail::TickScope moment(
            &schedule, platform::detail::Moment(std::chrono::nanoseconds(tick)), false);
        device.Stop(voices[1 - side]);
        device.Close(voice);
        const platform::AudioResult result = device.Open(voice, files[side]);
        if (!result.ok) {
            std::fprintf(stderr, "audio_probe: %s: %s\n", files[side].c_str(),
                         result.error.c_str());
            return 1;
        }
        const std::int64_t before = NowNs();
        device.Play(voice);
        const std::int64_t after = NowNs();
        std::printf("%ld %d %lld %lld %lld\n", i, voice, static_cast<long long>(tick),
                    static_cast<long long>(before), static_cast<long long>(after - before));
        std::fflush(stdout);
    }

    // Let the last tone finish and reach the server before the output is closed.
    const std::int64_t giveUp = NowNs() + 10'000'000'000;
    const auto sounding = [&](int voice) {
        return pulse ? pulse->Sounding(voice)
                     : static_cast<platform::SdlAudioDevice &>(device).Sounding(voice);
    };
    while ((sounding(voices[0]) || sounding(voices[1])) && NowNs() < giveUp)
        SleepUntil(NowNs() + 5'000'000);
    SleepUntil(NowNs() + tailMs * 1'000'000);
    return 0;
}
