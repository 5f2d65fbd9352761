// Timers that sleep while they have nothing to do: no ticks while idle, and a tick at once
// when there is work again, inside a handler's DoEvents or at the next round of the event
// loop; and the stimulation window's tone tick, which sleeps between turns and still sounds
// each turn's tone within the turn.
#include "app/shared/Var.h"
#include "platform/Controls.h"
#include "platform/Form.h"
#include "platform/Platform.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <string>

using testsupport::FreshProgram;

namespace {

// A window with one timer whose ticks are counted; `work` is what a tick has to do.
class TickerWindow : public platform::Form
{
public:
    explicit TickerWindow(int interval, bool tickUsesWork = true)
        : Form("TickerWindow"), ticker(*this, "Ticker"), mover(*this, "Mover")
    {
        ticker.OnTimer([this, tickUsesWork] {
            ++ticks;
            if (tickUsesWork)
                work = false;
        });
        ticker.SetIdleWhile([this] { return !work; });
        ticker.SetInterval(interval);
        ticker.SetEnabled(true);
    }
    platform::Timer ticker;
    platform::Timer mover;
    bool work = false;
    int ticks = 0;
};

// Runs the program's event loop (which waits between rounds) for a while. The program's own
// loop, since a window's unloading ends it, and that would end any other loop at once.
void RunEventLoop(int milliseconds)
{
    QTimer::singleShot(milliseconds, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

bool Traced(const std::string &line)
{
    const auto &trace = testsupport::AudioTrace();
    return std::find(trace.begin(), trace.end(), line) != trace.end();
}

// The stimulation window with its motion tick held still and its tone tick running.
FrmEMDR2 &WindowWithToneTick(int soundtones)
{
    frmSettings->Soundtones.SetValue(soundtones);
    FrmEMDR2 &window = frmEMDR2.Get();
    window.Timer1.SetEnabled(false);
    RunEventLoop(30); // the tone tick's first look finds nothing: it sleeps
    testsupport::AudioTrace().clear();
    return window;
}

// Delivers motion ticks until the picture turns at the far end; false if it never does.
bool TickToFarEnd(FrmEMDR2 &window)
{
    for (int i = 0; i < 200; ++i) {
        window.Timer1.Tick();
        if (window.Picture1.Left() == static_cast<float>(window.EndX))
            return true;
    }
    return false;
}

} // namespace

class TstTimer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { testsupport::InstallRecordingAudio(); }
    void init() { FreshProgram(); }
    void cleanupTestCase() { FreshProgram(); }

    void noTicksWhileIdle()
    {
        TickerWindow window(1);
        RunEventLoop(60);
        // The first tick finds nothing to do; after it the timer sleeps.
        QCOMPARE(window.ticks, 1);
    }

    void workSetInAHandlerIsTickedInItsDoEvents()
    {
        TickerWindow window(1);
        RunEventLoop(30);
        int before = -1;
        int afterDoEvents = -1;
        window.mover.OnTimer([&] {
            window.mover.SetEnabled(false);
            before = window.ticks;
            window.work = true;
            platform::DoEvents();
            afterDoEvents = window.ticks;
        });
        window.mover.SetInterval(5);
        window.mover.SetEnabled(true);
        QVERIFY(QTest::qWaitFor([&] { return before >= 0; }));
        QCOMPARE(afterDoEvents, before + 1);
        QVERIFY(!window.work);
    }

    void workSetByAnEventIsTickedInTheNextRound()
    {
        TickerWindow window(1000); // far longer than the wait below: only a wake-up ticks
        RunEventLoop(1100);
        QCOMPARE(window.ticks, 1);
        QTimer::singleShot(0, this, [&] { window.work = true; });
        RunEventLoop(100);
        QCOMPARE(window.ticks, 2);
        QVERIFY(!window.work);
    }

    void keepsItsIntervalWhileWorkRemains()
    {
        TickerWindow window(10, false); // the tick leaves its work in place
        RunEventLoop(30);
        const int slept = window.ticks;
        QCOMPARE(slept, 1);
        window.work = true;
        QElapsedTimer clock;
        clock.start();
        RunEventLoop(150);
        const qint64 elapsed = clock.elapsed();
        const int ticks = window.ticks - slept;
        // Ticking on, at its 10 ms and not as fast as the loop can go.
        QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
        QVERIFY2(ticks <= elapsed / 10 + 2,
                 qPrintable(QString("%1 ticks in %2 ms").arg(ticks).arg(elapsed)));
    }

    void aDisabledTimerIsNotWoken()
    {
        TickerWindow window(1);
        RunEventLoop(30);
        window.ticker.SetEnabled(false);
        window.work = true;
        platform::DoEvents();
        RunEventLoop(30);
        QCOMPARE(window.ticks, 1);
        window.ticker.SetEnabled(true);
        RunEventLoop(30);
        QCOMPARE(window.ticks, 2);
    }

    void aTimerGoneWhileAsleepIsForgotten()
    {
        auto gone = std::make_unique<TickerWindow>(1);
        TickerWindow kept(1);
        RunEventLoop(30);
        gone.reset();
        // A timer left among the sleeping ones would be looked at here, after its end; the
        // one that is still there wakes as usual.
        kept.work = true;
        platform::DoEvents();
        QCOMPARE(kept.ticks, 2);
    }

    // ---------------------------------------------------------------------------------
    // The stimulation window's tone tick

    void theTurnsToneSoundsWithinTheTurn()
    {
        FrmEMDR2 &window = WindowWithToneTick(1);
        QVERIFY(TickToFarEnd(window));
        // The request the turn left was served in the turn's own event handling.
        QCOMPARE(Var::ToneRequest, std::int16_t(0));
        QVERIFY(Traced("MMC2.Command=Play"));
    }

    void aToneWaitingWithTonesOffSoundsWhenTheyAreTicked()
    {
        FrmEMDR2 &window = WindowWithToneTick(0);
        QVERIFY(TickToFarEnd(window));
        RunEventLoop(30);
        QCOMPARE(Var::ToneRequest, std::int16_t(2));
        QVERIFY(!Traced("MMC2.Command=Play"));
        QTimer::singleShot(0, this, [] { frmSettings->Soundtones.SetValue(1); });
        RunEventLoop(30);
        QCOMPARE(Var::ToneRequest, std::int16_t(0));
        QVERIFY(Traced("MMC2.Command=Play"));
    }

    void aToneWaitingWhilePausedSoundsOnResume()
    {
        FrmEMDR2 &window = WindowWithToneTick(1);
        window.Pause_Click(); // paused
        Var::ToneRequest = 1; // as a turn leaves it
        RunEventLoop(30);
        QCOMPARE(Var::ToneRequest, std::int16_t(1));
        QVERIFY(!Traced("MMC.Command=Play"));
        QTimer::singleShot(0, this, [&window] { window.Pause_Click(); });
        RunEventLoop(30);
        QCOMPARE(Var::ToneRequest, std::int16_t(0));
        QVERIFY(Traced("MMC.Command=Play"));
    }
};

QTEST_MAIN(TstTimer)
#include "tst_timer.moc"
