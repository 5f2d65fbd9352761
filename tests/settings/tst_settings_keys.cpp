// The settings window's keys, as real key events to whichever control has the focus: the
// digits, Enter, the function keys and pattern characters, keys that do nothing, and the
// keys the focused control still takes for itself.
#include "app/Notices.h"
#include "app/Title.h"
#include "app/Var.h"
#include "platform/CommonDialog.h"
#include "platform/Platform.h"
#include "platform/WaveAudio.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <map>

using platform::CommonDialog;
using namespace testsupport;

class TstSettingsKeys : public WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void digitKeyThenContinue_data()
    {
        QTest::addColumn<int>("digit");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("keySpeed");
        QTest::addColumn<int>("continueSpeed");
        const int keySpeeds[] = {5, 15, 25, 35, 45, 55, 65, 75, 85};
        const int sliderSpeeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int d = 1; d <= 9; ++d)
            QTest::addRow("digit %d on Change Picture", d)
                << d << "Command1" << keySpeeds[d - 1] << sliderSpeeds[d - 1];
        QTest::newRow("digit 3 on the slider") << 3 << "Slider1" << 25 << 44;
        QTest::newRow("digit 3 on Quit") << 3 << "Quit" << 25 << 44;
    }
    void digitKeyThenContinue()
    {
        QFETCH(int, digit);
        QFETCH(QString, control);
        QFETCH(int, keySpeed);
        QFETCH(int, continueSpeed);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(control);
        QVERIFY(target);
        QTest::keyClick(target, char('0' + digit));
        QCOMPARE(w.Slider1.Value(), digit);
        QCOMPARE(int(Var::Speed), keySpeed);
        QTest::keyClick(target, Qt::Key_Return);
        HoldStimulationStill();
        QVERIFY(frmEMDR2.IsLoaded());
        QCOMPARE(int(Var::Speed), continueSpeed);
    }

    void enterRunsContinueOncePerPress_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        for (const char *name : {"Slider1", "opt1", "opt3", "Command1", "Command2", "CounterOption",
                                 "Soundtones", "cmdContinue", "Quit"})
            QTest::addRow("Return on %s", name) << QString(name) << int(Qt::Key_Return);
        QTest::newRow("keypad Enter on cmdContinue") << "cmdContinue" << int(Qt::Key_Enter);
        QTest::newRow("keypad Enter on Command1") << "Command1" << int(Qt::Key_Enter);
    }
    void enterRunsContinueOncePerPress()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        FrmSettings &w = frmSettings.Get();
        // Every button's click is counted; only Continue's runs, once a press of Enter, whether
        // the key handler or the focused button carries it. The others run nothing.
        std::map<std::string, int> clicks;
        for (platform::CommandButton *button : {&w.Command1, &w.Command2, &w.Quit})
            button->OnClick([&clicks, button] { ++clicks[button->Name()]; });
        int continues = 0;
        w.cmdContinue.OnClick([&continues, &w] {
            ++continues;
            w.cmdContinue_Click();
        });
        platform::Control *target = SettingsControl(control);
        QVERIFY(target);
        for (int press = 1; press <= 2; ++press) {
            QVERIFY(ShowActive(w));
            target->SetFocus();
            QCOMPARE(QApplication::focusWidget(), target->Widget());
            Var::PassCount = 5;
            Var::Paused = 1;
            const int shown = CommonDialog::ShownCount();
            QTest::keyClick(target->Widget(), Qt::Key(key));
            HoldStimulationStill();
            QCOMPARE(continues, press);
            QVERIFY2(frmEMDR2.IsLoaded() && frmEMDR2->Visible(), "Continue did not run");
            QVERIFY(!w.Visible());
            QCOMPARE(int(Var::PassCount), 0);
            QCOMPARE(int(Var::Paused), 0);
            QCOMPARE(CommonDialog::ShownCount(), shown);
        }
        for (const auto &[name, count] : clicks)
            QVERIFY2(count == 0, (name + " was clicked by Enter").c_str());
        QCOMPARE(continues, 2);
        QCOMPARE(testsupport::EndRequests(), 0);
        QCOMPARE(SelectedPattern(), 1);
        QCOMPARE(w.CounterOption.Value(), 0);
        QCOMPARE(w.Soundtones.Value(), 0);
    }

    void functionKeysSelectOnRelease_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("pattern");
        QTest::newRow("F3 with Shift on the slider")
            << int(Qt::Key_F3) << int(Qt::ShiftModifier) << "Slider1" << 3;
        QTest::newRow("F3 with Shift on Continue")
            << int(Qt::Key_F3) << int(Qt::ShiftModifier) << "cmdContinue" << 3;
        QTest::newRow("F3 with Shift on Quit")
            << int(Qt::Key_F3) << int(Qt::ShiftModifier) << "Quit" << 3;
        QTest::newRow("F3 with Shift on Change Picture")
            << int(Qt::Key_F3) << int(Qt::ShiftModifier) << "Command1" << 3;
        QTest::newRow("F1 on Quit") << int(Qt::Key_F1) << 0 << "Quit" << 1;
        QTest::newRow("F2 with Ctrl on Change Tone")
            << int(Qt::Key_F2) << int(Qt::ControlModifier) << "Command2" << 2;
        QTest::newRow("F4 on Show pass count") << int(Qt::Key_F4) << 0 << "CounterOption" << 4;
        QTest::newRow("F4 with Shift on opt2")
            << int(Qt::Key_F4) << int(Qt::ShiftModifier) << "opt2" << 4;
    }
    void functionKeysSelectOnRelease()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, control);
        QFETCH(int, pattern);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(control);
        QVERIFY(target);
        const int other = pattern == 1 ? 2 : 1;
        PatternButton(other).SetValue(true);
        Var::MoveType = 0;
        const auto mods = Qt::KeyboardModifiers(modifiers);
        QTest::keyPress(target, Qt::Key(key), mods);
        QCOMPARE(SelectedPattern(), other);
        QCOMPARE(int(Var::MoveType), 0);
        QTest::keyRelease(target, Qt::Key(key), mods);
        QCOMPARE(SelectedPattern(), pattern);
        QCOMPARE(int(Var::MoveType), pattern);
        QVERIFY(w.Visible());
    }

    void patternCharacters_data()
    {
        QTest::addColumn<char>("character");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("pattern");
        QTest::newRow("- on the slider") << '-' << "Slider1" << 1;
        QTest::newRow("_ on Change Picture") << '_' << "Command1" << 1;
        QTest::newRow("_ on Quit") << '_' << "Quit" << 1;
        QTest::newRow("| on Continue") << '|' << "cmdContinue" << 2;
        QTest::newRow("| on the slider") << '|' << "Slider1" << 2;
        QTest::newRow("\\ on Sound Tones") << '\\' << "Soundtones" << 3;
        QTest::newRow("\\ on opt4") << '\\' << "opt4" << 3;
        QTest::newRow("/ on opt1") << '/' << "opt1" << 4;
        QTest::newRow("/ on Change Tone") << '/' << "Command2" << 4;
    }
    void patternCharacters()
    {
        QFETCH(char, character);
        QFETCH(QString, control);
        QFETCH(int, pattern);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(control);
        QVERIFY(target);
        PatternButton(pattern == 1 ? 2 : 1).SetValue(true);
        Var::MoveType = 0;
        QTest::keyClick(target, character);
        QCOMPARE(SelectedPattern(), pattern);
        QCOMPARE(int(Var::MoveType), pattern);
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(int(Var::Speed), 0);
        QVERIFY(w.Visible());
    }

    void zeroAndEscDoNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("control");
        QTest::newRow("0 on the slider") << int(Qt::Key_0) << "Slider1";
        QTest::newRow("Esc on the slider") << int(Qt::Key_Escape) << "Slider1";
        QTest::newRow("0 on Continue") << int(Qt::Key_0) << "cmdContinue";
        QTest::newRow("Esc on Continue") << int(Qt::Key_Escape) << "cmdContinue";
        QTest::newRow("Esc on Quit") << int(Qt::Key_Escape) << "Quit";
        QTest::newRow("0 on Sound Tones") << int(Qt::Key_0) << "Soundtones";
        QTest::newRow("Esc on opt1") << int(Qt::Key_Escape) << "opt1";
    }
    void zeroAndEscDoNothing()
    {
        QFETCH(int, key);
        QFETCH(QString, control);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(control);
        QVERIFY(target);
        const int shown = CommonDialog::ShownCount();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(int(Var::Speed), 0);
        QCOMPARE(SelectedPattern(), 1);
        QCOMPARE(int(Var::MoveType), 1);
        QCOMPARE(w.CounterOption.Value(), 0);
        QCOMPARE(w.Soundtones.Value(), 0);
        QVERIFY(w.Visible());
        QVERIFY(!frmEMDR2.IsLoaded());
        QCOMPARE(testsupport::EndRequests(), 0);
        QCOMPARE(CommonDialog::ShownCount(), shown);
    }

    // The window looks at every key first, and the focused control still gets it.
    void keysStillReachTheFocusedControl()
    {
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        QWidget *slider = w.Slider1.Widget();
        w.Slider1.SetFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(w.Slider1.Value(), 7);
        QCOMPARE(int(Var::Speed), 72);
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(w.Slider1.Value(), 1);
        QCOMPARE(int(Var::Speed), 30);
        // A digit on the slider is the window's: the key's speed, not the slider rule's.
        QTest::keyClick(slider, '4');
        QCOMPARE(w.Slider1.Value(), 4);
        QCOMPARE(int(Var::Speed), 35);

        w.CounterOption.SetFocus();
        QTest::keyClick(w.CounterOption.Widget(), Qt::Key_Space);
        QCOMPARE(w.CounterOption.Value(), 1);
        w.opt3.SetFocus();
        QTest::keyClick(w.opt3.Widget(), Qt::Key_Space);
        QCOMPARE(SelectedPattern(), 3);
        QCOMPARE(int(Var::MoveType), 3);
        // Tab moves on to the next control.
        w.Slider1.SetFocus();
        QTest::keyClick(slider, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.Command1.Widget());
    }

    // Among the pattern buttons only the selected one is a tab stop: going round the window
    // with Tab from the slider passes Change Picture, then that button, and no other.
    void tabReachesOnlyTheSelectedPattern_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("pattern");
        QTest::newRow("fresh window") << 0 << 1;
        QTest::newRow("after F3") << int(Qt::Key_F3) << 3;
        QTest::newRow("after F2") << int(Qt::Key_F2) << 2;
        QTest::newRow("after /") << int(Qt::Key_Slash) << 4;
    }
    void tabReachesOnlyTheSelectedPattern()
    {
        QFETCH(int, key);
        QFETCH(int, pattern);
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        QWidget *slider = w.Slider1.Widget();
        QCOMPARE(QApplication::focusWidget(), slider);
        if (key != 0)
            QTest::keyClick(slider, Qt::Key(key));
        QCOMPARE(SelectedPattern(), pattern);
        QCOMPARE(QApplication::focusWidget(), slider);
        QStringList visited;
        for (int press = 0; press < 20; ++press) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == slider)
                break;
            visited << QApplication::focusWidget()->objectName();
        }
        QVERIFY2(visited.size() >= 2, qPrintable(visited.join(" ")));
        QCOMPARE(visited.mid(0, 2), QStringList({"Command1", Q(PatternButton(pattern).Name())}));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(visited.count(Q(PatternButton(n).Name())), n == pattern ? 1 : 0);
        // A button that is no tab stop still takes the focus when clicked.
        const int other = pattern == 1 ? 2 : 1;
        QWidget *button = PatternButton(other).Widget();
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        QCOMPARE(QApplication::focusWidget(), button);
        QCOMPARE(SelectedPattern(), other);
    }
};

QTEST_MAIN(TstSettingsKeys)
#include "tst_settings_keys.moc"
