// Runs a stimulation on the real windows and records when things happened, on the steady
// clock (CLOCK_MONOTONIC, the clock of the sink recorder and of the tone floor), so that
// bench/measure.py can work out how even the motion is and how late each tone sounds.
//
//   bench_motion program SPEED SECONDS OUT    the program's own windows and timers
//   bench_motion first SPEED SECONDS OUT      the same, the window from Continue on (the
//                                             first tones of a fresh start)
//   bench_motion preview FILE SECONDS OUT     the settings window's Change Tone with FILE
//                                             chosen in its file dialog: the preview tone
//   bench_motion floor INTERVAL_MS SECONDS OUT a bare precise timer at that interval
//
// Program: the title window's Continue, then on the settings window Sound Tones ticked and
// the slider set (speeds 30 to 86 in steps of 7) and Continue; a speed of the digit keys
// (5 to 85 in steps of 10) that the slider cannot give is then keyed on the stimulation
// window. The measured window is SECONDS long and begins two seconds after Continue, once the
// run has settled; the events before it are written too (the first tones of a run). In
// first mode the window begins at Continue. Preview: the title window's Continue, then, 0.3 s
// after the settings window is shown, its Change Tone with FILE queued as the dialog's answer;
// the window begins just before the click. Nothing
// of the windows' handling is replaced: the records come from the timers' tick observer and
// from the trace of the wave-audio controls.
//
// OUT, one line an event after a '#' header that gives the window, times in ns:
//   motion <t> <interval ms>   a tick of Timer1 (or of the floor's timer) began; the
//                              interval it was given for the time since the previous tick
//   pending <t> <request>      a tick of Timer2 began with a tone waiting (Var::ToneRequest)
//   play <t> <side>            a wave-audio control was told "Play" (1 left, 2 right), or
//                              the preview control "Sound" (3)
//   handled <t> <ns>           a tick of Timer1 was handed to the window at t and took ns
//                              (its handler, with the events it let run, included); in
//                              preview mode, the Change Tone click and how long it took
// Exit status: 0 done, 1 bad arguments or output not written, 2 the program told of a
// problem (no sound output, a file it could not open).
#include "Arguments.h"

#include "app/Title.h"
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/forms/Toolkit.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Event
{
    char kind; // 'm' motion, 'p' pending, 'y' play, 'h' handled
    std::int64_t ns;
    int value;
};

std::int64_t Ns(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Times the delivery of each tick of one timer: the toolkit hands every event to notify().
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    QObject *watched = nullptr;
    std::vector<Event> *events = nullptr;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (receiver != watched || event->type() != QEvent::Timer || !events)
            return QApplication::notify(receiver, event);
        const Clock::time_point began = Clock::now();
        const bool result = QApplication::notify(receiver, event);
        events->push_back({'h', Ns(began), static_cast<int>((Clock::now() - began).count())});
        return result;
    }
};

int Usage()
{
    std::fprintf(stderr, "usage: bench_motion program SPEED SECONDS OUT\n"
                         "       bench_motion first SPEED SECONDS OUT\n"
                         "       bench_motion preview FILE SECONDS OUT\n"
                         "       bench_motion floor INTERVAL_MS SECONDS OUT\n");
    return 1;
}

bool Write(const std::string &path, const std::string &header, const std::vector<Event> &events,
           std::int64_t from, std::int64_t to)
{
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out)
        return false;
    std::fprintf(out, "# %s window_ns %lld %lld\n", header.c_str(), static_cast<long long>(from),
                 static_cast<long long>(to));
    for (const Event &e : events) {
        const char *kind = e.kind == 'm'   ? "motion"
                           : e.kind == 'p' ? "pending"
                           : e.kind == 'y' ? "play"
                                           : "handled";
        std::fprintf(out, "%s %lld %d\n", kind, static_cast<long long>(e.ns), e.value);
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 5)
        return Usage();
    const std::string mode = argv[1];
    int value = 0;
    int seconds = 0;
    const bool preview = mode == "preview";
    if ((mode != "program" && mode != "first" && mode != "floor" && !preview) ||
        (!preview && !ParseInt(argv[2], 1, 1000, value)) || !ParseInt(argv[3], 1, 600, seconds))
        return Usage();
    const std::string previewFile = preview ? argv[2] : "";
    const std::string outPath = argv[4];

    TimingApplication application(argc, argv);
    std::vector<Event> events;
    events.reserve(1 << 20);
    application.events = &events;
    const auto settle =
        mode == "program" || mode == "floor" ? std::chrono::seconds(2) : std::chrono::seconds(0);
    const auto keep = std::chrono::seconds(seconds);
    Clock::time_point from{};
    int problems = 0;
    QTimer floorTimer;

    if (mode == "floor") {
        // The same toolkit, the same event loop and the same kind of timer, with no work.
        floorTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&floorTimer, &QTimer::timeout, &floorTimer, [&] {
            events.push_back({'m', Ns(Clock::now()), value});
        });
        floorTimer.start(value);
        from = Clock::now() + settle;
    } else if (preview) {
        platform::seams::SetMessageHook([&](const std::string &, const std::string &text) {
            std::fprintf(stderr, "bench_motion: the program said: %s\n", text.c_str());
            ++problems;
        });
        platform::seams::SetAudioTraceHook([&](const std::string &line) {
            if (line == "MMC3.Command=Sound")
                events.push_back({'y', Ns(Clock::now()), 3});
        });
        StartProgram();
        QTimer::singleShot(300, &application, [&] {
            Title->Command1.Click();
            QTimer::singleShot(300, &application, [&] {
                platform::seams::AnswerFileDialog(previewFile);
                from = Clock::now();
                frmSettings->Command2_Click();
                events.push_back({'h', Ns(from), static_cast<int>((Clock::now() - from).count())});
            });
        });
    } else {
        const int speed = value;
        const bool bySlider = speed >= 30 && speed <= 86 && (speed - 23) % 7 == 0;
        const bool byKey = speed >= 5 && speed <= 85 && (speed + 5) % 10 == 0;
        if (!bySlider && !byKey)
            return Usage();
        platform::seams::SetMessageHook([&](const std::string &, const std::string &text) {
            std::fprintf(stderr, "bench_motion: the program said: %s\n", text.c_str());
            ++problems;
        });
        platform::seams::SetTickObserver([&](const std::string &name, Clock::time_point began) {
            if (name == "Timer1") {
                FrmEMDR2 *window = frmEMDR2.Peek();
                events.push_back({'m', Ns(began), window ? window->Timer1.Interval() : 0});
            } else if (name == "Timer2" && Var::ToneRequest != 0) {
                events.push_back({'p', Ns(began), Var::ToneRequest});
            }
        });
        platform::seams::SetAudioTraceHook([&](const std::string &line) {
            if (line == "MMC.Command=Play")
                events.push_back({'y', Ns(Clock::now()), 1});
            else if (line == "MMC2.Command=Play")
                events.push_back({'y', Ns(Clock::now()), 2});
        });
        StartProgram();
        QTimer::singleShot(300, &application, [&, speed, bySlider] {
            Title->Command1.Click();
            QTimer::singleShot(300, &application, [&, speed, bySlider] {
                frmSettings->Soundtones.SetValue(1);
                frmSettings->Slider1.SetValue(bySlider ? (speed - 23) / 7 : 6);
                frmSettings->cmdContinue.Click();
                if (!bySlider)
                    frmEMDR2->Form_KeyPress(48 + (speed + 5) / 10);
                application.watched = platform::SurfaceOf(*frmEMDR2)->findChild<QTimer *>("Timer1");
                from = Clock::now() + settle;
                if (Var::Speed != speed) {
                    std::fprintf(stderr, "bench_motion: speed %d, not %d\n", Var::Speed, speed);
                    ++problems;
                }
            });
        });
    }

    bool written = false;
    QTimer finish;
    finish.setSingleShot(true);
    QObject::connect(&finish, &QTimer::timeout, &finish, [&] {
        const Clock::time_point to = Clock::now();
        if (from == Clock::time_point{} || to < from + keep) {
            finish.start(50);
            return;
        }
        platform::seams::SetTickObserver(nullptr);
        platform::seams::SetAudioTraceHook(nullptr);
        application.watched = nullptr;
        floorTimer.stop();
        problems += static_cast<int>(notices::Told().size()); // already on standard error
        written = Write(outPath, mode + " " + std::to_string(value), events, Ns(from), Ns(to));
        if (FrmEMDR2 *window = frmEMDR2.Peek(); window && window->IsLoaded()) {
            platform::Unload(*window); // unloads every window; the event loop then ends
        } else {
            // The settings window of a preview, and the title window it hid, go before the
            // toolkit does.
            for (platform::Form *form : platform::Forms())
                platform::Unload(*form);
            QCoreApplication::exit(0);
        }
    });
    finish.start(1000);

    QApplication::exec();
    platform::DestroyUnloadedForms();
    if (!written) {
        std::fprintf(stderr, "bench_motion: %s not written\n", outPath.c_str());
        return 1;
    }
    return problems > 0 ? 2 : 0;
}
