// The stimulation window's tones: the two channels, the tone tick and the tone requests the
// motion tick leaves at its turns, and the tone tick on the program's own event loop.
#include "platform/Platform.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>

using testsupport::AudioTrace;
using testsupport::RunEventLoop;
using testsupport::StillWindow;
using testsupport::Traced;
using Lines = std::vector<std::string>;

namespace {

// A horizontal track of 15 ticks a leg: 0 .. 15000 at Top 5000 with the 480-twip picture.
void ArrangeShortTrack(FrmEMDR2 &w)
{
    Var::Speed = 30;
    Var::MoveType = 1;
    w.HandleResized(15490, 10480);
}

// How many times a channel was told to play.
int Plays(const std::string &channel)
{
    const std::string line = channel + ".Command=Play";
    return static_cast<int>(std::count(AudioTrace().begin(), AudioTrace().end(), line));
}

Lines PlaySequence(const std::string &channel, const std::string &other, const std::string &file)
{
    return {other + ".Command=stop",           channel + ".Command=close",
            channel + ".FileName=" + file,     channel + ".Flag14=False",
            channel + ".Flag5=False",          channel + ".Command=Open",
            channel + ".DeviceType=WaveAudio", channel + ".Command=Play"};
}

void SetTones(bool on)
{
    frmSettings->Soundtones.SetValue(on ? 1 : 0);
}

// The rows of a case run for each side: 1 the left tone, 2 the right.
void SideRows()
{
    QTest::addColumn<int>("side");
    QTest::newRow("left") << 1;
    QTest::newRow("right") << 2;
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

class TstTones : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void loadOpensBothChannels()
    {
        frmSettings.Get();
        Var::ToneFile = "/sounds/chime_r.wav";
        StillWindow();
        const Lines expected = {"MMC.Visible=False",
                                "MMC.Flag19=True",
                                "MMC.DeviceType=WaveAudio",
                                "MMC2.Visible=False",
                                "MMC2.Flag19=True",
                                "MMC2.DeviceType=WaveAudio",
                                "MMC.FileName=/sounds/chime_l.wav",
                                "MMC.Flag14=False",
                                "MMC.Flag5=False",
                                "MMC.Command=Open",
                                "MMC2.FileName=/sounds/chime_r.wav",
                                "MMC2.Flag14=False",
                                "MMC2.Flag5=False",
                                "MMC2.Command=Open"};
        QCOMPARE(AudioTrace(), expected);
        // Readied, silent: nothing plays before the first turn.
        const Lines calls = {"Open 0 /sounds/chime_l.wav", "Open 1 /sounds/chime_r.wav"};
        QCOMPARE(Device().calls, calls);
    }

    void playTone_data() { SideRows(); }
    void playTone()
    {
        QFETCH(int, side);
        FrmEMDR2 &w = StillWindow();
        Var::ToneFiles = {"/t/a_l.wav", "/t/a_r.wav"};
        AudioTrace().clear();
        Device().calls.clear();
        w.PlayTone(side);
        if (side == 1)
            QCOMPARE(AudioTrace(), PlaySequence("MMC", "MMC2", "/t/a_l.wav"));
        else
            QCOMPARE(AudioTrace(), PlaySequence("MMC2", "MMC", "/t/a_r.wav"));
        // MMC has voice 0, MMC2 voice 1: the other side is only stopped, never closed.
        const Lines left = {"Stop 1", "Close 0", "Open 0 /t/a_l.wav", "Play 0"};
        const Lines right = {"Stop 0", "Close 1", "Open 1 /t/a_r.wav", "Play 1"};
        QCOMPARE(Device().calls, side == 1 ? left : right);
    }

    // The tone tick's rules, one tick from a given state.
    void toneTick_data()
    {
        QTest::addColumn<int>("paused");
        QTest::addColumn<int>("soundtones");
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("played"); // channel played, or empty
        QTest::addColumn<int>("requestAfter");
        QTest::newRow("paused, left waiting") << 1 << 1 << 1 << "" << 1;
        QTest::newRow("paused, right waiting") << 1 << 1 << 2 << "" << 2;
        QTest::newRow("paused, nothing waiting") << 1 << 1 << 0 << "" << 0;
        QTest::newRow("tones off, left waiting") << 0 << 0 << 1 << "" << 1;
        QTest::newRow("tones off, right waiting") << 0 << 0 << 2 << "" << 2;
        QTest::newRow("nothing waiting") << 0 << 1 << 0 << "" << 0;
        QTest::newRow("left") << 0 << 1 << 1 << "MMC" << 0;
        QTest::newRow("right") << 0 << 1 << 2 << "MMC2" << 0;
        QTest::newRow("tones value 2 counts as on") << 0 << 2 << 1 << "MMC" << 0;
        QTest::newRow("Paused 2 runs") << 2 << 1 << 2 << "MMC2" << 0;
        QTest::newRow("unknown request") << 0 << 1 << 3 << "" << 3;
    }
    void toneTick()
    {
        QFETCH(int, paused);
        QFETCH(int, soundtones);
        QFETCH(int, request);
        QFETCH(QString, played);
        FrmEMDR2 &w = StillWindow();
        frmSettings->Soundtones.SetValue(soundtones);
        Var::Paused = static_cast<std::int16_t>(paused);
        Var::ToneRequest = static_cast<std::int16_t>(request);
        AudioTrace().clear();
        w.Timer2_Timer();
        QTEST(int(Var::ToneRequest), "requestAfter");
        QCOMPARE(Plays("MMC"), played == "MMC" ? 1 : 0);
        QCOMPARE(Plays("MMC2"), played == "MMC2" ? 1 : 0);
        if (played.isEmpty())
            QVERIFY(AudioTrace().empty());
    }

    // With the tones off a request stays pending; switching them on plays that one tone.
    void pendingToneWaitsForTonesOn()
    {
        FrmEMDR2 &w = StillWindow();
        ArrangeShortTrack(w);
        SetTones(false);
        while (Var::ToneRequest == 0)
            w.Timer1_Timer();
        QCOMPARE(int(Var::ToneRequest), 2);
        AudioTrace().clear();
        for (int i = 0; i < 5; ++i)
            w.Timer2_Timer();
        QVERIFY(AudioTrace().empty());
        QCOMPARE(int(Var::ToneRequest), 2);
        SetTones(true);
        w.Timer2_Timer();
        QCOMPARE(Plays("MMC2"), 1);
        w.Timer2_Timer();
        w.Timer2_Timer();
        QCOMPARE(Plays("MMC2"), 1);
        QCOMPARE(Plays("MMC"), 0);
        QCOMPARE(int(Var::ToneRequest), 0);
    }

    // A request not yet served is replaced by the next turn's.
    void twoTurnsLeaveOnlyTheLaterSide()
    {
        FrmEMDR2 &w = StillWindow();
        ArrangeShortTrack(w);
        SetTones(true);
        for (int i = 0; i < 30; ++i) // far end at tick 15, start end at tick 30
            w.Timer1_Timer();
        QCOMPARE(Var::PassCount, 1);
        QCOMPARE(int(Var::ToneRequest), 1);
        AudioTrace().clear();
        w.Timer2_Timer();
        w.Timer2_Timer();
        QCOMPARE(Plays("MMC"), 1);
        QCOMPARE(Plays("MMC2"), 0);
    }

    void pendingRequestSurvivesActivation()
    {
        FrmEMDR2 &w = StillWindow();
        SetTones(true);
        Var::ToneRequest = 2;
        // Another tone chosen since the load: the pair the activation derives from it plays.
        Var::ToneFile = "/sounds/chime_l.wav";
        w.Form_Activate();
        QCOMPARE(int(Var::ToneRequest), 2);
        AudioTrace().clear();
        w.Timer2_Timer();
        QCOMPARE(Plays("MMC2"), 1);
        QVERIFY(Traced("MMC2.FileName=/sounds/chime_r.wav"));
    }

    // The tone timer ticks inside the turn's event processing: the tone sounds with the turn,
    // not a motion tick later, whether the timer was still running or had gone to sleep
    // between turns, as it does when its ticks find nothing to do.
    void toneServedInsideTheTurn_data()
    {
        QTest::addColumn<bool>("farEnd");
        QTest::addColumn<bool>("asleep");
        QTest::newRow("far end") << true << false;
        QTest::newRow("start end") << false << false;
        QTest::newRow("far end, tone timer asleep") << true << true;
        QTest::newRow("start end, tone timer asleep") << false << true;
    }
    void toneServedInsideTheTurn()
    {
        QFETCH(bool, farEnd);
        QFETCH(bool, asleep);
        FrmEMDR2 &w = StillWindow();
        ArrangeShortTrack(w);
        SetTones(true);
        if (!farEnd) {
            for (int i = 0; i < 15; ++i)
                w.Timer1_Timer();
            Var::ToneRequest = 0;
        }
        for (int i = 0; i < 14; ++i)
            w.Timer1_Timer();
        QCOMPARE(int(Var::ToneRequest), 0);
        w.Timer2.SetEnabled(true);
        // Let its 1 ms interval run out, so that the tick is due within the turn.
        const auto waitOutInterval = [] {
            QElapsedTimer clock;
            clock.start();
            while (clock.nsecsElapsed() < 2'000'000) {
            }
        };
        waitOutInterval();
        if (asleep) {
            QCoreApplication::processEvents(); // a tick with nothing to do: it sleeps
            waitOutInterval();
        }
        AudioTrace().clear();
        w.Timer1_Timer(); // the turn
        QCOMPARE(int(Var::ToneRequest), 0);
        QCOMPARE(Plays(farEnd ? "MMC2" : "MMC"), 1);
        QCOMPARE(Plays(farEnd ? "MMC" : "MMC2"), 0);
        w.Timer2.SetEnabled(false);
    }

    // A tone file that cannot be opened: silent, and the practitioner told once per file, in
    // the notices rather than by a box in front of the stimulation.
    void failingToneFile_data() { SideRows(); }
    void failingToneFile()
    {
        QFETCH(int, side);
        frmSettings.Get();
        Var::ToneFile = "/sounds/broken_r.wav";
        const std::string bad = side == 1 ? "/sounds/broken_l.wav" : "/sounds/broken_r.wav";
        const std::string voice = side == 1 ? "0" : "1";
        Device().failing = {bad};
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(notices::Told().size(), size_t(1));
        QVERIFY(notices::Told()[0].find(bad) != std::string::npos);
        SetTones(true);
        for (int i = 0; i < 4; ++i) {
            Device().calls.clear();
            Var::ToneRequest = static_cast<std::int16_t>(side);
            w.Timer2_Timer();
            QCOMPARE(int(Var::ToneRequest), 0);
            // The voice let go of what it had before the open that failed: nothing sounds.
            const Lines calls = {"Stop " + std::string(side == 1 ? "1" : "0"), "Close " + voice,
                                 "Open " + voice + " " + bad, "Play " + voice};
            QCOMPARE(Device().calls, calls);
        }
        QCOMPARE(notices::Told().size(), size_t(1));
        QVERIFY(testsupport::Messages().empty());
        // The other side still plays, and a second bad file is told about on its own.
        Var::ToneRequest = static_cast<std::int16_t>(3 - side);
        w.Timer2_Timer();
        QCOMPARE(notices::Told().size(), size_t(1));
        Device().failing.push_back("/sounds/other_l.wav");
        Device().failing.push_back("/sounds/other_r.wav");
        Var::ToneFile = "/sounds/other_l.wav";
        w.Form_Activate();
        w.OpenToneChannels();
        QCOMPARE(notices::Told().size(), size_t(3));
        QVERIFY(notices::Told()[1].find("/sounds/other_l.wav") != std::string::npos);
        QVERIFY(notices::Told()[2].find("/sounds/other_r.wav") != std::string::npos);
    }

    void noSoundDeviceIsToldOnce()
    {
        Device().deviceError = "there is no sound output";
        FrmEMDR2 &w = StillWindow();
        SetTones(true);
        for (int side : {1, 2, 1, 2}) {
            Var::ToneRequest = static_cast<std::int16_t>(side);
            w.Timer2_Timer();
        }
        QCOMPARE(notices::Told().size(), size_t(1));
        QVERIFY(notices::Told()[0].find("no sound output") != std::string::npos);
        QVERIFY(testsupport::Messages().empty());
    }

    // ---- The tone tick on the program's own event loop ---------------------------------
    // It sleeps between turns and still sounds each turn's tone within the turn.

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

QTEST_MAIN(TstTones)
#include "tst_tones.moc"
