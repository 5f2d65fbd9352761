// The stimulation window's operator controls: Pause and Esc, the speed and pattern keys, the
// Settings button, focus loss and closing; then the same keys as real key events.
#include "app/Title.h"
#include "platform/Platform.h"
#include "platform/forms/Toolkit.h"
#include "settings/frmSettings.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>

using testsupport::SelectedPattern;
using testsupport::StillWindow;

namespace {

// The track ends of each pattern on a 15490 x 9480 window with the 480-twip picture.
const testsupport::Track kTracks[] = {
    {0, 4500, 15000, 4500}, {7745, 0, 7735, 9000}, {0, 0, 15000, 8990}, {0, 8990, 15000, 0}};

void ArrangeKnownWindow(FrmEMDR2 &w, int pattern)
{
    Var::MoveType = static_cast<std::int16_t>(pattern);
    w.HandleResized(15490, 9480);
}

// Notes the speed at the moment a key press reaches the watched control, to tell whether the
// window had already seen the key.
class KeyWitness : public QObject
{
public:
    int presses = 0;
    int speedSeen = -1;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            ++presses;
            speedSeen = Var::Speed;
        }
        return false;
    }
};

// A pattern key as the window's handlers take it: a character pressed, or a key released with
// the shift state, and the pattern it selects.
struct PatternKey
{
    const char *name;
    bool press;
    int code, shift, pattern;
};

} // namespace

Q_DECLARE_METATYPE(PatternKey)

class TstOperator : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Pause and Esc ---------------------------------------------------------------

    void pauseStateTable_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("byEsc");
        QTest::addColumn<QString>("newCaption");
        QTest::addColumn<bool>("settingsShown");
        QTest::addColumn<int>("paused");
        for (bool esc : {false, true}) {
            const char *how = esc ? "Esc" : "click";
            QTest::addRow("Pause, %s", how) << "Pause" << esc << "Resume" << true << 1;
            QTest::addRow("stored 'Pause ', %s", how) << "Pause " << esc << "Resume" << true << 1;
            QTest::addRow("Resume, %s", how) << "Resume" << esc << "Pause" << false << 0;
        }
    }
    void pauseStateTable()
    {
        QFETCH(QString, caption);
        QFETCH(bool, byEsc);
        FrmEMDR2 &w = StillWindow();
        w.Pause.SetCaption(caption.toStdString());
        w.Settings.SetVisible(caption == "Resume");
        Var::Paused = caption == "Resume" ? 1 : 0;
        Var::PassCount = 9;
        w.Passcount.SetCaption(" 9");
        if (byEsc)
            w.Form_KeyPress(27);
        else
            w.Pause_Click();
        QTEST(QString::fromStdString(w.Pause.Caption()), "newCaption");
        QTEST(w.Settings.Visible(), "settingsShown");
        QTEST(int(Var::Paused), "paused");
        QCOMPARE(Var::PassCount, 0);
        QCOMPARE(w.Passcount.Caption(), std::string(" 9"));
    }

    void escTwice()
    {
        FrmEMDR2 &w = StillWindow();
        w.Form_KeyPress(27);
        QCOMPARE(w.Pause.Caption(), std::string("Resume"));
        QCOMPARE(int(Var::Paused), 1);
        w.Form_KeyPress(27);
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QCOMPARE(int(Var::Paused), 0);
        QVERIFY(!w.Settings.Visible());
    }

    // ---- Speed keys ------------------------------------------------------------------

    void digitKeys_data()
    {
        QTest::addColumn<int>("digit");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("interval"); // from the next tick on
        const int intervals[] = {142, 128, 112, 98, 82, 68, 52, 38, 22};
        for (int d = 1; d <= 9; ++d)
            QTest::addRow("%d", d) << d << 10 * d - 5 << intervals[d - 1];
    }
    void digitKeys()
    {
        QFETCH(int, digit);
        FrmEMDR2 &w = StillWindow();
        Var::Speed = 30;
        ArrangeKnownWindow(w, 1);
        w.Timer1_Timer();
        QCOMPARE(w.Timer1.Interval(), 105);
        const float left = w.Picture1.Left();
        const int stepX = w.StepX;
        frmSettings->Slider1.SetValue(digit == 1 ? 2 : 1);
        w.Form_KeyPress('0' + digit);
        QCOMPARE(frmSettings->Slider1.Value(), digit);
        QTEST(int(Var::Speed), "speed"); // the slider's own rule, 7v + 23, does not run
        // No resize handling: interval, steps and picture as they were.
        QCOMPARE(w.Timer1.Interval(), 105);
        QCOMPARE(w.Steps, 15);
        QCOMPARE(w.StepX, stepX);
        QCOMPARE(w.Picture1.Left(), left);
        w.Timer1_Timer();
        QTEST(w.Timer1.Interval(), "interval");
    }

    void fiveThenContinue()
    {
        FrmEMDR2 &w = StillWindow();
        w.Form_KeyPress('5');
        QCOMPARE(int(Var::Speed), 45);
        frmSettings->cmdContinue_Click();
        QCOMPARE(int(Var::Speed), 58); // the slider at 5 by its own rule
    }

    void keysThatDoNothing_data()
    {
        QTest::addColumn<bool>("press");
        QTest::addColumn<int>("code");
        QTest::newRow("0") << true << int('0');
        QTest::newRow("Enter") << true << 13;
        QTest::newRow("space") << true << 32;
        QTest::newRow("a") << true << int('a');
        // The character codes that equal F1..F4's key codes are letters, not pattern keys.
        QTest::newRow("p") << true << 112;
        QTest::newRow("q") << true << 113;
        QTest::newRow("s") << true << 115;
        QTest::newRow("release of Esc") << false << 27;
        QTest::newRow("release of 5") << false << int('5');
        QTest::newRow("release of F5") << false << 116;
        QTest::newRow("release of -") << false << 45;
    }
    void keysThatDoNothing()
    {
        QFETCH(bool, press);
        QFETCH(int, code);
        FrmEMDR2 &w = StillWindow();
        Var::Speed = 30;
        ArrangeKnownWindow(w, 3);
        frmSettings->opt3.SetValue(true);
        for (int i = 0; i < 4; ++i)
            w.Timer1_Timer();
        const float left = w.Picture1.Left(), top = w.Picture1.Top();
        const int slider = frmSettings->Slider1.Value();
        if (press)
            w.Form_KeyPress(code);
        else
            w.Form_KeyUp(code, 0);
        QCOMPARE(int(Var::Speed), 30);
        QCOMPARE(frmSettings->Slider1.Value(), slider);
        QCOMPARE(int(Var::MoveType), 3);
        QCOMPARE(SelectedPattern(), 3);
        QCOMPARE(w.Picture1.Left(), left);
        QCOMPARE(w.Picture1.Top(), top);
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(w.Timer1.Interval(), 105);
    }

    // ---- Pattern keys ----------------------------------------------------------------

    void patternKeys_data()
    {
        QTest::addColumn<PatternKey>("key");
        QTest::addColumn<bool>("paused");
        const PatternKey keys[] = {{"-", true, 45, 0, 1},
                                   {"_", true, 95, 0, 1},
                                   {"|", true, 124, 0, 2},
                                   {"\\", true, 92, 0, 3},
                                   {"/", true, 47, 0, 4},
                                   {"F1", false, platform::vbKeyF1, 0, 1},
                                   {"F2", false, platform::vbKeyF2, 0, 2},
                                   {"F3", false, platform::vbKeyF3, 0, 3},
                                   {"F4", false, platform::vbKeyF4, 0, 4},
                                   {"Shift+F3", false, platform::vbKeyF3, platform::vbShiftMask, 3},
                                   {"Ctrl+F4", false, platform::vbKeyF4, platform::vbCtrlMask, 4}};
        for (const PatternKey &key : keys)
            for (bool paused : {false, true})
                QTest::addRow("%s, %s", key.name, paused ? "paused" : "running") << key << paused;
    }
    void patternKeys()
    {
        QFETCH(PatternKey, key);
        QFETCH(bool, paused);
        FrmEMDR2 &w = StillWindow();
        Var::Speed = 45;
        const int previous = key.pattern % 4 + 1;
        ArrangeKnownWindow(w, previous);
        testsupport::PatternButton(previous).SetValue(true);
        for (int i = 0; i < 3; ++i)
            w.Timer1_Timer();
        if (paused)
            w.Pause_Click();

        if (key.press)
            w.Form_KeyPress(key.code);
        else
            w.Form_KeyUp(key.code, key.shift);

        const testsupport::Track &track = kTracks[key.pattern - 1];
        QCOMPARE(int(Var::MoveType), key.pattern);
        QCOMPARE(SelectedPattern(), key.pattern);
        QCOMPARE(testsupport::TrackOf(w), track);
        QCOMPARE(w.Picture1.Left(), float(track.startX));
        QCOMPARE(w.Picture1.Top(), float(track.startY));
        QCOMPARE(w.Steps, 15);
        QCOMPARE(w.Timer1.Interval(), 110); // the resize handling's (100 - 45) * 2
        QCOMPARE(int(Var::Paused), paused ? 1 : 0);

        for (int i = 0; i < 3; ++i)
            w.Timer1_Timer();
        if (paused) {
            QCOMPARE(w.Picture1.Left(), float(track.startX));
            QCOMPARE(w.Picture1.Top(), float(track.startY));
        } else {
            QCOMPARE(w.Picture1.Left(), float(track.startX + 3 * w.StepX));
            QCOMPARE(w.Picture1.Top(), float(track.startY + 3 * w.StepY));
        }
    }

    // ---- Settings button, focus, closing ---------------------------------------------

    void settingsButtonRoundTrip()
    {
        FrmEMDR2 &w = StartRun();
        FrmSettings &settings = *frmSettings;
        QVERIFY(w.Pause.Visible());
        QVERIFY(!w.Settings.Visible()); // hidden while running

        w.Pause_Click();
        QVERIFY(w.Settings.Visible());
        w.Settings.Click();
        QVERIFY(!w.Pause.Visible());
        QVERIFY(!w.Settings.Visible());
        QVERIFY(settings.Visible());
        QVERIFY(w.IsLoaded());

        settings.cmdContinue_Click();
        QVERIFY(w.Pause.Visible());
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QVERIFY(!w.Settings.Visible());
        QVERIFY(!settings.Visible());
        QVERIFY(w.Visible());
        QCOMPARE(int(Var::Paused), 0);
    }

    void lostFocus_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("pausedAfterTick");
        QTest::newRow("running") << "Pause" << 0;
        QTest::newRow("paused by the button") << "Resume" << 1;
    }
    void lostFocus()
    {
        QFETCH(QString, caption);
        FrmEMDR2 &w = StillWindow();
        Var::Speed = 30;
        ArrangeKnownWindow(w, 1);
        w.Pause.SetCaption(caption.toStdString());
        w.Form_LostFocus();
        QCOMPARE(int(Var::Paused), 1);
        w.Timer1_Timer();
        QTEST(int(Var::Paused), "pausedAfterTick");
        QCOMPARE(w.Picture1.Left(), caption == "Pause" ? 1000.0f : 0.0f);
    }

    void unloadUnloadsEveryWindow_data()
    {
        testsupport::TextRows("how", {{"unload of the stimulation window", "unload"},
                                      {"its close button", "close"},
                                      {"unload of the settings window", "settings"}});
    }
    void unloadUnloadsEveryWindow()
    {
        QFETCH(QString, how);
        FrmTitle &title = Title.Get();
        FrmSettings &settings = frmSettings.Get();
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(platform::Forms().size(), size_t(3));
        if (how == "unload")
            platform::Unload(w);
        else if (how == "close")
            w.HandleCloseRequest();
        else
            platform::Unload(settings);
        QVERIFY(platform::Forms().empty());
        QVERIFY(!title.IsLoaded());
        QVERIFY(!settings.IsLoaded());
        QVERIFY(!w.IsLoaded());
        QCOMPARE(testsupport::EndRequests(), 0);
        // A second unload of any of them does nothing: nothing is loaded or created again.
        platform::Unload(w);
        platform::Unload(settings);
        platform::Unload(title);
        w.HandleCloseRequest();
        QVERIFY(platform::Forms().empty());
        QCOMPARE(frmEMDR2.Peek(), &w);
        QCOMPARE(frmSettings.Peek(), &settings);
        QVERIFY(!frmSettings.IsLoaded());
    }

    // ---- Real key events -------------------------------------------------------------
    // The window previews every key: it sees it before the focused control, and the control
    // still gets it.

    void realKeysReachWindowThenControl()
    {
        QWidget *pause = ShowRunningWindow();
        QVERIFY(pause);
        KeyWitness witness;
        pause->installEventFilter(&witness);
        QTest::keyClick(pause, '7');
        pause->removeEventFilter(&witness);
        QCOMPARE(witness.presses, 1);
        QCOMPARE(witness.speedSeen, 65); // the window had handled it already
        QCOMPARE(frmSettings->Slider1.Value(), 7);
        QCOMPARE(int(Var::Speed), 65);
    }

    // Space clicks the focused button. Esc, which the button does not take, travels on to
    // the window; either is handled once a press.
    void realKeyPausesAndResumesOnce_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Space") << int(Qt::Key_Space);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void realKeyPausesAndResumesOnce()
    {
        QFETCH(int, key);
        QWidget *pause = ShowRunningWindow();
        QVERIFY(pause);
        QTest::keyClick(pause, Qt::Key(key));
        QCOMPARE(frmEMDR2->Pause.Caption(), std::string("Resume"));
        QCOMPARE(int(Var::Paused), 1);
        QVERIFY(frmEMDR2->Settings.Visible());
        QTest::keyClick(pause, Qt::Key(key));
        QCOMPARE(frmEMDR2->Pause.Caption(), std::string("Pause"));
        QCOMPARE(int(Var::Paused), 0);
    }

    void realF2ActsOnRelease()
    {
        QWidget *pause = ShowRunningWindow();
        QVERIFY(pause);
        FrmEMDR2 &w = *frmEMDR2;
        QCOMPARE(int(Var::MoveType), 1);
        w.Timer1_Timer();
        const float left = w.Picture1.Left();
        QTest::keyPress(pause, Qt::Key_F2);
        QCOMPARE(int(Var::MoveType), 1);
        QCOMPARE(SelectedPattern(), 1);
        QCOMPARE(w.Picture1.Left(), left);
        QTest::keyRelease(pause, Qt::Key_F2);
        QCOMPARE(int(Var::MoveType), 2);
        QCOMPARE(SelectedPattern(), 2);
        QCOMPARE(w.Picture1.Left(), float(w.StartX));
        QCOMPARE(w.Picture1.Top(), 0.0f);
    }

    void realShiftF3()
    {
        QWidget *pause = ShowRunningWindow();
        QVERIFY(pause);
        QTest::keyPress(pause, Qt::Key_Shift);
        QTest::keyClick(pause, Qt::Key_F3, Qt::ShiftModifier);
        QTest::keyRelease(pause, Qt::Key_Shift, Qt::ShiftModifier);
        QCOMPARE(int(Var::MoveType), 3);
        QCOMPARE(SelectedPattern(), 3);
        QCOMPARE(frmEMDR2->Picture1.Top(), 0.0f);
    }

    void realPatternCharacter()
    {
        QWidget *pause = ShowRunningWindow();
        QVERIFY(pause);
        QTest::keyClick(pause, '/');
        QCOMPARE(int(Var::MoveType), 4);
        QCOMPARE(SelectedPattern(), 4);
        QTest::keyClick(pause, '_');
        QCOMPARE(int(Var::MoveType), 1);
        QCOMPARE(SelectedPattern(), 1);
    }

private:
    // Starts a run from the settings window, shown, by Continue, with the timers held still.
    static FrmEMDR2 &StartRun()
    {
        frmSettings.Get().Show();
        frmSettings->cmdContinue_Click();
        testsupport::HoldStimulationStill();
        return *frmEMDR2;
    }

    // Starts a run the way the practitioner does and waits until the stimulation window is
    // active with the Pause button focused. Null when the window never became active.
    static QWidget *ShowRunningWindow()
    {
        FrmEMDR2 &w = StartRun();
        if (!QTest::qWaitForWindowActive(platform::SurfaceOf(w)))
            return nullptr;
        QWidget *pause = platform::WidgetOf(w.Pause);
        if (QApplication::focusWidget() != pause)
            return nullptr;
        return pause;
    }
};

QTEST_MAIN(TstOperator)
#include "tst_operator.moc"
