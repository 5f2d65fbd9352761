// Runs a stimulation with tones on through the program's own windows and its real sound
// output, the way a practitioner starts one, and prints when each turn asked for its tone so
// that a recording of the output can be checked against the turns.
//
//   tone_run [SECONDS [SLIDER | keyK]]     (defaults: 8 seconds, slider position 9)
//
// Title -> Continue; on the settings window: tones ticked, the slider on SLIDER, Continue;
// with keyK the speed is then set by the key K (1-9) on the stimulation window instead.
// The real timers then move the picture and sound the tones for SECONDS, after which every
// window is unloaded, as closing the stimulation window would, and the program ends.
//
// Output on standard output, lines starting with '#' being remarks:
//   # started <ns>            before the title window is shown
//   <ns> L|R                  one line a turn: the moment of the motion tick that made the
//                             turn (the tone's play command follows it within the turn)
//   # sound <ns> heard|silent  each time the program is told whether tones can be heard
//                             (silent: a sound problem was told; heard: none holds); the
//                             first such line is the state just after the program started
//   # passes <n>              the pass counter at the end: the turns at the start end
//   # ended <ns>              when the windows were unloaded
// Times are CLOCK_MONOTONIC in nanoseconds. Exit status: the event loop's, 2 on bad arguments.
#include "app/Title.h"
#include "platform/Seams.h"
#include "platform/forms/Form.h"
#include "platform/sound/AudioDevice.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"

#include <QApplication>
#include <QTimer>

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::int64_t MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool ParseInt(const char *text, long minimum, long maximum, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= minimum && value <= maximum;
}

struct Turn
{
    std::int64_t ns;
    char side;
};

struct SoundState
{
    std::int64_t ns;
    bool heard;
};

} // namespace

int main(int argc, char *argv[])
{
    long seconds = 8;
    long slider = 9;
    long key = 0;
    const bool byKey = argc > 2 && std::string(argv[2]).rfind("key", 0) == 0;
    if (argc > 3 || (argc > 1 && !ParseInt(argv[1], 1, 3600, seconds)) ||
        (argc > 2 && !byKey && !ParseInt(argv[2], 1, 9, slider)) ||
        (byKey && !ParseInt(argv[2] + 3, 1, 9, key))) {
        std::fprintf(stderr, "usage: tone_run [SECONDS [SLIDER 1-9 | key1-key9]]\n");
        return 2;
    }

    QApplication application(argc, argv);

    // The turns are kept in memory and printed at the end, so that watching them costs the
    // running stimulation next to nothing.
    std::vector<Turn> turns;
    turns.reserve(static_cast<std::size_t>(seconds) * 200);
    // A turn is the motion tick that asked for the tone: the last one before its play command.
    std::int64_t motionTick = 0;
    platform::seams::SetTickObserver(
        [&motionTick](const std::string &name, std::chrono::steady_clock::time_point began) {
            if (name == "Timer1")
                motionTick =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(began.time_since_epoch())
                        .count();
        });
    platform::seams::SetAudioTraceHook([&turns, &motionTick](const std::string &line) {
        if (line == "MMC.Command=Play")
            turns.push_back({motionTick, 'L'});
        else if (line == "MMC2.Command=Play")
            turns.push_back({motionTick, 'R'});
    });

    const std::int64_t started = MonotonicNs();
    std::int64_t ended = 0;
    std::int32_t passes = -1;
    std::vector<SoundState> states;
    QTimer::singleShot(0, [&] {
        StartProgram();
        // The program's own handler still does all it does; the changes are noted beside it.
        // The sound output tells later changes on this thread, after this slice has run.
        states.push_back({MonotonicNs(), notices::SoundProblem().empty()});
        platform::SetSoundStatusHandler([&states](const std::string &problem) {
            states.push_back({MonotonicNs(), problem.empty()});
            notices::SetSoundProblem(problem);
        });
        Title->Command1.Click();
        frmSettings->Soundtones.SetValue(1);
        frmSettings->Slider1.SetValue(static_cast<int>(slider));
        frmSettings->cmdContinue.Click();
        if (key > 0)
            frmEMDR2->Form_KeyPress(static_cast<int>('0' + key));
        QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
            passes = Var::PassCount;
            ended = MonotonicNs();
            for (platform::Form *form : platform::Forms())
                platform::Unload(*form);
        });
    });
    const int status = QApplication::exec();
    platform::DestroyUnloadedForms();

    std::printf("# started %lld\n", static_cast<long long>(started));
    for (const Turn &turn : turns)
        std::printf("%lld %c\n", static_cast<long long>(turn.ns), turn.side);
    for (const SoundState &state : states)
        std::printf("# sound %lld %s\n", static_cast<long long>(state.ns),
                    state.heard ? "heard" : "silent");
    std::printf("# passes %ld\n", static_cast<long>(passes));
    std::printf("# ended %lld\n", static_cast<long long>(ended));
    std::fflush(stdout);
    return status;
}
