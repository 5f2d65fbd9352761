// The settings window: its stored look, the speed slider and pattern buttons, Continue, its
// keys, picture and tone choice, Quit and closing.
#include "app/shared/Notices.h"
#include "app/Title.h"
#include "app/shared/Var.h"
#include "platform/CommonDialog.h"
#include "platform/Platform.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

using platform::CommonDialog;
using testsupport::FreshProgram;

namespace {

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// Holds the stimulation window's timers still once Continue has created it.
void HoldStimulationStill()
{
    if (frmEMDR2.IsLoaded()) {
        frmEMDR2->Timer1.SetEnabled(false);
        frmEMDR2->Timer2.SetEnabled(false);
    }
}

std::vector<std::string> Mmc3Trace()
{
    std::vector<std::string> lines;
    for (const std::string &line : testsupport::AudioTrace())
        if (line.rfind("MMC3.", 0) == 0)
            lines.push_back(line);
    return lines;
}

void ShowAndWait(platform::Form &form)
{
    form.Show();
    QVERIFY(QTest::qWaitForWindowExposed(form.Surface()));
    form.Surface()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.Surface()));
}

} // namespace

class TstSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { testsupport::InstallRecordingAudio(); }
    void init() { FreshProgram(); }
    void cleanupTestCase() { FreshProgram(); }

    void freshWindowAsStored()
    {
        FrmSettings &w = frmSettings.Get();
        QCOMPARE(Q(w.Caption()), QString("Setttings"));
        QCOMPARE(w.Surface()->size(), QSize(426, 347)); // 6390 x 5205 twips
        QCOMPARE(w.Surface()->minimumSize(), w.Surface()->maximumSize());
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(w.Slider1.Min(), 1);
        QCOMPARE(w.Slider1.Max(), 9);
        QVERIFY(w.opt1.Value() && !w.opt2.Value() && !w.opt3.Value() && !w.opt4.Value());
        QCOMPARE(w.CounterOption.Value(), 0);
        QCOMPARE(w.Soundtones.Value(), 0);
        QCOMPARE(Q(w.Label2.Caption()), QString("Slide pointer or use 1 - 9  keys"));
        QCOMPARE(w.Soundtones.Caption().size(), std::size_t(50));
        QCOMPARE(Q(w.Frame1.Caption()),
                 QString("Picture Movement (Click or press corresponding keys)"));
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 32);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 32);
        // The load defaults; the speed waits for the slider, a key or Continue.
        QCOMPARE(Q(*Var::PictureFile), Q(platform::InProgramFolder("\\Pictures\\Face.ico")));
        QVERIFY(QFile::exists(Q(*Var::PictureFile)));
        QCOMPARE(int(Var::MoveType), 1);
        QCOMPARE(Q(Var::ToneFile), Q(platform::InProgramFolder("\\Tones\\beep_r.wav")));
        QCOMPARE(int(Var::Speed), 0);
    }

    void sliderHasTheFocusWhenFirstShown()
    {
        FrmSettings &w = frmSettings.Get();
        ShowAndWait(w);
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Slider1"));
    }

    void sliderRule_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("speed");
        const int speeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int v = 1; v <= 9; ++v)
            QTest::addRow("position %d", v) << v << speeds[v - 1];
    }
    void sliderRule()
    {
        QFETCH(int, position);
        QFETCH(int, speed);
        FrmSettings &w = frmSettings.Get();
        auto *slider = w.Surface()->findChild<QSlider *>("Slider1");
        QVERIFY(slider);
        // A change the practitioner makes applies the rule at once.
        const int from = position == 1 ? 2 : position - 1;
        w.Slider1.SetValue(from);
        Var::Speed = 0;
        slider->triggerAction(position == 1 ? QSlider::SliderSingleStepSub
                                            : QSlider::SliderSingleStepAdd);
        QCOMPARE(w.Slider1.Value(), position);
        QCOMPARE(int(Var::Speed), speed);
        // Continue re-applies it.
        Var::Speed = 0;
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(int(Var::Speed), speed);
    }

    void positionFromCodeIsNoClick()
    {
        FrmSettings &w = frmSettings.Get();
        w.Slider1.SetValue(2);
        QCOMPARE(int(Var::Speed), 0);
        w.Form_KeyPress('5');
        QCOMPARE(w.Slider1.Value(), 5);
        QCOMPARE(int(Var::Speed), 45);
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(int(Var::Speed), 58);
    }

    void optionButtonsSetThePattern()
    {
        FrmSettings &w = frmSettings.Get();
        platform::OptionButton *buttons[] = {&w.opt1, &w.opt2, &w.opt3, &w.opt4};
        for (int n : {3, 2, 4, 1}) {
            buttons[n - 1]->SetValue(true);
            QCOMPARE(int(Var::MoveType), n);
        }
        QTest::mouseClick(w.opt4.Widget(), Qt::LeftButton);
        QCOMPARE(int(Var::MoveType), 4);
        QVERIFY(!w.opt1.Value());
    }

    void continueStartsARun()
    {
        FrmSettings &w = frmSettings.Get();
        QVERIFY(!frmEMDR2.IsLoaded());
        Var::Paused = 1;
        Var::PassCount = 7;
        Var::ToneFile = "/x/chime_l.wav";
        w.CounterOption.SetValue(1);
        w.cmdContinue_Click();
        HoldStimulationStill();
        // Created by Continue, after the values it sets: the load derived its pair from them.
        QVERIFY(frmEMDR2.IsLoaded());
        QCOMPARE(Q(Var::ToneFiles[0]), QString("/x/chime_l.wav"));
        QCOMPARE(Q(Var::ToneFiles[1]), QString("/x/chime_r.wav"));
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(int(Var::PassCount), 0);
        QCOMPARE(int(Var::Speed), 65);
        QVERIFY(frmEMDR2->Passcount.Visible());
        QVERIFY(frmEMDR2->Visible());
        QVERIFY(!w.Visible());
        QVERIFY(w.IsLoaded());

        // A paused run sent back here: Continue restarts it, the label follows the box.
        frmEMDR2->Pause_Click();
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Resume"));
        w.CounterOption.SetValue(0);
        w.Slider1.SetValue(9);
        w.opt3.SetValue(true);
        w.cmdContinue_Click();
        QVERIFY(!frmEMDR2->Passcount.Visible());
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Pause"));
        QVERIFY(frmEMDR2->Pause.Visible());
        QVERIFY(!frmEMDR2->Settings.Visible());
        QCOMPARE(int(Var::Paused), 0);
        // Still loaded with its values while hidden.
        QCOMPARE(w.Slider1.Value(), 9);
        QVERIFY(w.opt3.Value());
        QCOMPARE(int(Var::MoveType), 3);
    }

    void keys_data()
    {
        QTest::addColumn<int>("character");
        QTest::addColumn<int>("pattern");
        QTest::newRow("-") << int('-') << 1;
        QTest::newRow("_") << int('_') << 1;
        QTest::newRow("|") << int('|') << 2;
        QTest::newRow("\\") << int('\\') << 3;
        QTest::newRow("/") << int('/') << 4;
    }
    void keys()
    {
        QFETCH(int, character);
        QFETCH(int, pattern);
        FrmSettings &w = frmSettings.Get();
        w.opt2.SetValue(true);
        w.opt1.SetValue(pattern == 1 ? false : true);
        Var::MoveType = 0;
        w.Form_KeyPress(character);
        platform::OptionButton *buttons[] = {&w.opt1, &w.opt2, &w.opt3, &w.opt4};
        QVERIFY(buttons[pattern - 1]->Value());
        QCOMPARE(int(Var::MoveType), pattern);
    }

    void zeroAndEscDoNothing()
    {
        FrmSettings &w = frmSettings.Get();
        w.Form_KeyPress('0');
        w.Form_KeyPress(27);
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(int(Var::Speed), 0);
        QVERIFY(!frmEMDR2.IsLoaded());
        QVERIFY(w.opt1.Value());
    }

    // Real key events to whichever control has the focus.
    void realKeysOnAnyFocusedControl()
    {
        FrmSettings &w = frmSettings.Get();
        ShowAndWait(w);
        for (platform::Control *control :
             std::initializer_list<platform::Control *>{&w.Slider1, &w.Quit, &w.Command1}) {
            control->SetFocus();
            QCOMPARE(QApplication::focusWidget(), control->Widget());
            // Each pass starts from values the key must change.
            w.Slider1.SetValue(6);
            Var::Speed = 0;
            QTest::keyClick(control->Widget(), Qt::Key_3);
            QCOMPARE(w.Slider1.Value(), 3);
            QCOMPARE(int(Var::Speed), 25);
            // F3 with Shift acts on release.
            w.opt1.SetValue(true);
            QTest::keyPress(control->Widget(), Qt::Key_F3, Qt::ShiftModifier);
            QVERIFY(w.opt1.Value());
            QTest::keyRelease(control->Widget(), Qt::Key_F3, Qt::ShiftModifier);
            QVERIFY(w.opt3.Value());
            QCOMPARE(int(Var::MoveType), 3);
            w.Slider1.SetValue(6);
        }
        // The key still reaches the focused control: an arrow moves the slider.
        w.Slider1.SetFocus();
        QTest::keyClick(w.Slider1.Widget(), Qt::Key_Right);
        QCOMPARE(w.Slider1.Value(), 7);
        QCOMPARE(int(Var::Speed), 72);
    }

    void enterRunsContinueOncePerPress()
    {
        FrmSettings &w = frmSettings.Get();
        ShowAndWait(w);
        // Every run of Continue counted, by a click or by the key handler.
        int continues = 0;
        w.cmdContinue.OnClick([&continues, &w] {
            ++continues;
            w.cmdContinue_Click();
        });
        int presses = 0;
        for (platform::Control *control :
             std::initializer_list<platform::Control *>{&w.Quit, &w.cmdContinue, &w.Slider1}) {
            w.Show();
            w.Surface()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w.Surface()));
            control->SetFocus();
            QVERIFY(QTest::qWaitFor(
                [&] { return QApplication::focusWidget() == control->Widget(); }, 5000));
            Var::PassCount = 5;
            const int endsBefore = testsupport::EndRequests();
            QTest::keyClick(control->Widget(), Qt::Key_Return);
            ++presses;
            HoldStimulationStill();
            QCOMPARE(continues, presses);
            QVERIFY(frmEMDR2.IsLoaded());
            QVERIFY(!w.Visible());
            QCOMPARE(int(Var::PassCount), 0);
            // A focused Quit does not also take the key.
            QCOMPARE(testsupport::EndRequests(), endsBefore);
        }
    }

    void dialogFiltersAndFolders()
    {
        FrmSettings &w = frmSettings.Get();
        CommonDialog::SetNextFileName("");
        w.Command1_Click();
        QCOMPARE(Q(w.CD1.Filter()), QString("Pictures (*.bmp;*.ico)|*.bmp;*.ico"));
        QCOMPARE(Q(w.CD1.InitDir()), Q(platform::InProgramFolder("\\Pictures\\")));
        CommonDialog::SetNextFileName("");
        w.Command2_Click();
        QCOMPARE(Q(w.CD1.Filter()), QString("Tones (*.wav)|*.wav"));
        QCOMPARE(Q(w.CD1.InitDir()), Q(platform::InProgramFolder("\\Tones\\")));
        // The toolkit's entry shows the program's words and lists both kinds of file.
        QCOMPARE(Q(CommonDialog::ToolkitFilter("Pictures (*.bmp;*.ico)|*.bmp;*.ico")),
                 QString("Pictures (*.bmp;*.ico) (*.bmp *.ico)"));
        QCOMPARE(Q(CommonDialog::ToolkitFilter("Tones (*.wav)|*.wav|All|*.*")),
                 QString("Tones (*.wav) (*.wav);;All (*.*)"));
    }

    void cancelChangesNothing()
    {
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString bmp = dir.filePath("big.bmp");
        QVERIFY(QImage(64, 64, QImage::Format_RGB32).save(bmp));
        // A tone chosen, then the picture dialog cancelled.
        CommonDialog::SetNextFileName(platform::InProgramFolder("\\Tones\\chime_l.wav"));
        w.Command2_Click();
        const std::string picture = *Var::PictureFile;
        const int shownBefore = CommonDialog::ShownCount();
        CommonDialog::SetNextFileName("");
        w.Command1_Click();
        QCOMPARE(CommonDialog::ShownCount(), shownBefore + 1);
        QCOMPARE(*Var::PictureFile, picture);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 32);
        // A picture chosen, then the tone dialog cancelled: nothing sounds.
        CommonDialog::SetNextFileName(bmp.toStdString());
        w.Command1_Click();
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 64);
        testsupport::AudioTrace().clear();
        const std::string tone = Var::ToneFile;
        CommonDialog::SetNextFileName("");
        w.Command2_Click();
        QCOMPARE(Var::ToneFile, tone);
        QVERIFY(Mmc3Trace().empty());
        // Each use starts with an empty file name.
        QVERIFY(w.CD1.FileName().empty());
    }

    void chosenPicturePreviewedWhileTheRunKeepsItsOwn()
    {
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 32);
        QTemporaryDir dir;
        const QString bmp = dir.filePath("wide.bmp");
        QVERIFY(QImage(80, 40, QImage::Format_RGB32).save(bmp));
        CommonDialog::SetNextFileName(bmp.toStdString());
        w.Command1_Click();
        QCOMPARE(Q(*Var::PictureFile), bmp);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 80);
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 32);
        w.Show(); // back on the settings window, as after Show Settings Screen
        w.cmdContinue_Click();
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 80);
        QCOMPARE(frmEMDR2->Picture1.Width(), 80.0f * float(platform::TwipsPerPixel()));
    }

    void pictureThatCannotBeShownChangesNothing()
    {
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString text = dir.filePath("notes.bmp");
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("these are notes, not a picture\n");
        file.close();
        const std::string before = *Var::PictureFile;
        CommonDialog::SetNextFileName(text.toStdString());
        w.Command1_Click();
        QCOMPARE(*Var::PictureFile, before);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 32);
        QCOMPARE(testsupport::Messages().size(), std::size_t(1));
        QVERIFY(Q(testsupport::Messages().front()).contains(text));
    }

    void tonePreview()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string chosen = platform::InProgramFolder("\\Tones\\chime_r.wav");
        testsupport::AudioTrace().clear();
        CommonDialog::SetNextFileName(chosen);
        w.Command2_Click();
        QCOMPARE(Var::ToneFile, chosen);
        const std::vector<std::string> expected = {
            "MMC3.Visible=False",      "MMC3.Flag19=True", "MMC3.DeviceType=WaveAudio",
            "MMC3.FileName=" + chosen, "MMC3.Flag14=True", "MMC3.Command=Sound"};
        QCOMPARE(Mmc3Trace(), expected);
    }

    void eitherFileOfAPairSelectsThePair()
    {
        // A folder of known words: the rule looks for the first "_" over the whole path.
        testsupport::UseFixedProgramFolder();
        FrmSettings &w = frmSettings.Get();
        for (const char *name : {"\\Tones\\beep_l.wav", "\\Tones\\beep_r.wav"}) {
            CommonDialog::SetNextFileName(platform::InProgramFolder(name));
            w.Command2_Click();
            w.cmdContinue_Click();
            HoldStimulationStill();
            QCOMPARE(Q(Var::ToneFiles[0]), Q(platform::InProgramFolder("\\Tones\\beep_l.wav")));
            QCOMPARE(Q(Var::ToneFiles[1]), Q(platform::InProgramFolder("\\Tones\\beep_r.wav")));
        }
    }

    void toneThatCannotBePlayedIsToldOnce()
    {
        auto &device = testsupport::InstallRecordingAudio();
        FrmSettings &w = frmSettings.Get();
        const std::string bad = "/nowhere/broken_r.wav";
        device.failing.push_back(bad);
        for (int i = 0; i < 3; ++i) {
            CommonDialog::SetNextFileName(bad);
            w.Command2_Click();
        }
        QCOMPARE(Var::ToneFile, bad);
        QCOMPARE(notices::Told().size(), std::size_t(1));
        QVERIFY(Q(notices::Told().front()).contains(Q(bad)));
        QVERIFY(w.Notice.Visible());
        QVERIFY(Q(w.Notice.Caption()).contains(Q(bad)));
        testsupport::InstallRecordingAudio();
    }

    void quitEndsAtOnceWithoutUnloading()
    {
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        w.Quit_Click();
        QCOMPARE(testsupport::EndRequests(), 1);
        QVERIFY(w.IsLoaded());
        QVERIFY(frmEMDR2.IsLoaded());
    }

    void closingUnloadsEveryWindowOnce()
    {
        StartProgram();
        Title->Command1_Click();
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        QCOMPARE(platform::Forms().size(), std::size_t(3));
        QVERIFY(w.Surface()->close());
        QVERIFY(platform::Forms().empty());
        QVERIFY(!Title.IsLoaded() && !frmSettings.IsLoaded() && !frmEMDR2.IsLoaded());
        // A second close finds nothing to unload.
        platform::Unload(w);
        QVERIFY(platform::Forms().empty());
        QCOMPARE(testsupport::EndRequests(), 0);
    }
};

QTEST_MAIN(TstSettingsWindow)
#include "tst_settingswindow.moc"
