// Runs a stimulation with tones on through the real windows and the real audio device for a
// given number of seconds, printing one line per tone started: the monotonic time of its play
// call in nanoseconds and its side (L or R).
#include "app/Var.h"
#include "platform/Form.h"
#include "platform/WaveAudio.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <string>

namespace {
long long MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::stoi(argv[1]) : 6;
    const int digit = argc > 2 ? std::stoi(argv[2]) : 9;
    platform::WaveAudio::SetTraceHook([](const std::string &line) {
        if (line == "MMC.Command=Play" || line == "MMC2.Command=Play")
            std::printf("%lld %c\n", MonotonicNs(), line[3] == '.' ? 'L' : 'R');
    });
    frmSettings->Soundtones.SetValue(1);
    frmSettings->Slider1.SetValue(digit);
    frmSettings->cmdContinue_Click();
    QTimer::singleShot(seconds * 1000, [] {
        for (platform::Form *form : platform::Forms())
            platform::Unload(*form);
    });
    const int status = QApplication::exec();
    std::fflush(stdout);
    platform::DestroyUnloadedForms();
    return status;
}
