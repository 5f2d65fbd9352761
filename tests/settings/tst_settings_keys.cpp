// The settings window's keys, as real key events to whichever control has the focus: the
// digits, Enter, the function keys and pattern characters, keys that do nothing, and the
// keys the focused control still takes for itself.
#include "app/Title.h"
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/forms/Toolkit.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <map>

using platform::CommonDialog;
using namespace testsupport;

namespace {

// A key on the settings window, as a row of a table: the control that has the focus, the key
// (a character's own code where it is typed as a character), the modifiers held with it, and
// what it gives: the pattern selected, the speed the key sets and the one Continue then sets.
struct KeyRow
{
    QString control;
    int key = 0;
    Qt::KeyboardModifiers modifiers = {};
    int pattern = 0;
    int keySpeed = 0;
    int continueSpeed = 0;
};

} // namespace

Q_DECLARE_METATYPE(KeyRow)

class TstSettingsKeys : public WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void digitKeyThenContinue_data()
    {
        QTest::addColumn<KeyRow>("row");
        const int keySpeeds[] = {5, 15, 25, 35, 45, 55, 65, 75, 85};
        const int sliderSpeeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int d = 1; d <= 9; ++d)
            QTest::addRow("digit %d on Change Picture", d)
                << KeyRow{.control = "Command1",
                          .key = '0' + d,
                          .keySpeed = keySpeeds[d - 1],
                          .continueSpeed = sliderSpeeds[d - 1]};
        for (const char *control : {"Slider1", "Quit"})
            QTest::addRow("digit 3 on %s", control)
                << KeyRow{.control = control, .key = '3', .keySpeed = 25, .continueSpeed = 44};
    }
    void digitKeyThenContinue()
    {
        QFETCH(KeyRow, row);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(row.control);
        QVERIFY(target);
        QTest::keyClick(target, char(row.key));
        QCOMPARE(w.Slider1.Value(), row.key - '0');
        QCOMPARE(int(Var::Speed), row.keySpeed);
        QTest::keyClick(target, Qt::Key_Return);
        HoldStimulationStill();
        QVERIFY(frmEMDR2.IsLoaded());
        QCOMPARE(int(Var::Speed), row.continueSpeed);
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
            QCOMPARE(QApplication::focusWidget(), platform::WidgetOf(*target));
            Var::PassCount = 5;
            Var::Paused = 1;
            const int shown = platform::seams::FileDialogsShown();
            QTest::keyClick(platform::WidgetOf(*target), Qt::Key(key));
            HoldStimulationStill();
            QCOMPARE(continues, press);
            QVERIFY2(frmEMDR2.IsLoaded() && frmEMDR2->Visible(), "Continue did not run");
            QVERIFY(!w.Visible());
            QCOMPARE(int(Var::PassCount), 0);
            QCOMPARE(int(Var::Paused), 0);
            QCOMPARE(platform::seams::FileDialogsShown(), shown);
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
        QTest::addColumn<KeyRow>("row");
        for (const char *control : {"Slider1", "cmdContinue", "Quit", "Command1"})
            QTest::addRow("F3 with Shift on %s", control) << KeyRow{.control = control,
                                                                    .key = Qt::Key_F3,
                                                                    .modifiers = Qt::ShiftModifier,
                                                                    .pattern = 3};
        QTest::newRow("F1 on Quit") << KeyRow{.control = "Quit", .key = Qt::Key_F1, .pattern = 1};
        QTest::newRow("F2 with Ctrl on Change Tone") << KeyRow{.control = "Command2",
                                                               .key = Qt::Key_F2,
                                                               .modifiers = Qt::ControlModifier,
                                                               .pattern = 2};
        QTest::newRow("F4 on Show pass count")
            << KeyRow{.control = "CounterOption", .key = Qt::Key_F4, .pattern = 4};
        QTest::newRow("F4 with Shift on opt2") << KeyRow{
            .control = "opt2", .key = Qt::Key_F4, .modifiers = Qt::ShiftModifier, .pattern = 4};
    }
    void functionKeysSelectOnRelease()
    {
        QFETCH(KeyRow, row);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(row.control);
        QVERIFY(target);
        const int other = row.pattern == 1 ? 2 : 1;
        PatternButton(other).SetValue(true);
        Var::MoveType = 0;
        QTest::keyPress(target, Qt::Key(row.key), row.modifiers);
        QCOMPARE(SelectedPattern(), other);
        QCOMPARE(int(Var::MoveType), 0);
        QTest::keyRelease(target, Qt::Key(row.key), row.modifiers);
        QCOMPARE(SelectedPattern(), row.pattern);
        QCOMPARE(int(Var::MoveType), row.pattern);
        QVERIFY(w.Visible());
    }

    void patternCharacters_data()
    {
        QTest::addColumn<KeyRow>("row");
        const KeyRow rows[] = {
            {"Slider1", '-', {}, 1},     {"Command1", '_', {}, 1}, {"Quit", '_', {}, 1},
            {"cmdContinue", '|', {}, 2}, {"Slider1", '|', {}, 2},  {"Soundtones", '\\', {}, 3},
            {"opt4", '\\', {}, 3},       {"opt1", '/', {}, 4},     {"Command2", '/', {}, 4}};
        for (const KeyRow &row : rows)
            QTest::addRow("%c on %s", char(row.key), qPrintable(row.control)) << row;
    }
    void patternCharacters()
    {
        QFETCH(KeyRow, row);
        FrmSettings &w = frmSettings.Get();
        QWidget *target = FocusSettingsControl(row.control);
        QVERIFY(target);
        PatternButton(row.pattern == 1 ? 2 : 1).SetValue(true);
        Var::MoveType = 0;
        QTest::keyClick(target, char(row.key));
        QCOMPARE(SelectedPattern(), row.pattern);
        QCOMPARE(int(Var::MoveType), row.pattern);
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
        const int shown = platform::seams::FileDialogsShown();
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
        QCOMPARE(platform::seams::FileDialogsShown(), shown);
    }

    // The window looks at every key first, and the focused control still gets it.
    void keysStillReachTheFocusedControl()
    {
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        QWidget *slider = platform::WidgetOf(w.Slider1);
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
        QTest::keyClick(platform::WidgetOf(w.CounterOption), Qt::Key_Space);
        QCOMPARE(w.CounterOption.Value(), 1);
        w.opt3.SetFocus();
        QTest::keyClick(platform::WidgetOf(w.opt3), Qt::Key_Space);
        QCOMPARE(SelectedPattern(), 3);
        QCOMPARE(int(Var::MoveType), 3);
        // Tab moves on to the next control.
        w.Slider1.SetFocus();
        QTest::keyClick(slider, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), platform::WidgetOf(w.Command1));
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
        QWidget *slider = platform::WidgetOf(w.Slider1);
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
        QWidget *button = platform::WidgetOf(PatternButton(other));
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        QCOMPARE(QApplication::focusWidget(), button);
        QCOMPARE(SelectedPattern(), other);
    }
};

QTEST_MAIN(TstSettingsKeys)
#include "tst_settings_keys.moc"
