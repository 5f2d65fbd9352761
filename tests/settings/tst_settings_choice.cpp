// What the practitioner chooses on the settings window: the speed by the slider, the
// pattern by its buttons, the picture and the tone through the open-file dialog, and what
// Continue starts with them; the notice that tells of a tone that cannot be played.
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

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QPixmap>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

using platform::CommonDialog;
using namespace testsupport;

namespace {

qint64 PictureKey(const platform::Picture &picture)
{
    return platform::PixmapOf(picture) ? platform::PixmapOf(picture)->cacheKey() : 0;
}

QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return path;
}

} // namespace

class TstSettingsChoice : public WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Speed -------------------------------------------------------------------------

    void sliderChangeAppliesTheRule_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("speed");
        const int speeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int v = 1; v <= 9; ++v)
            for (const char *how : {"arrow key", "dragging", "single step"})
                QTest::addRow("position %d by %s", v, how) << v << QString(how) << speeds[v - 1];
    }
    void sliderChangeAppliesTheRule()
    {
        QFETCH(int, position);
        QFETCH(QString, how);
        QFETCH(int, speed);
        FrmSettings &w = frmSettings.Get();
        auto *slider = qobject_cast<QSlider *>(platform::WidgetOf(w.Slider1));
        QVERIFY(slider);
        const int from = position == 9 ? 8 : position + 1;
        w.Slider1.SetValue(from);
        Var::Speed = 0;
        if (how == "arrow key")
            QTest::keyClick(slider, from < position ? Qt::Key_Right : Qt::Key_Left);
        else if (how == "dragging")
            slider->setSliderPosition(position); // what dragging the pointer does
        else
            slider->triggerAction(from < position ? QSlider::SliderSingleStepAdd
                                                  : QSlider::SliderSingleStepSub);
        QCOMPARE(w.Slider1.Value(), position);
        QCOMPARE(int(Var::Speed), speed);
        // Continue applies the same rule to the position it finds.
        Var::Speed = 0;
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(int(Var::Speed), speed);
    }

    void positionFromCodeIsNoClick()
    {
        FrmSettings &w = frmSettings.Get();
        Var::Speed = 11;
        w.Slider1.SetValue(3);
        w.Slider1.SetValue(9);
        QCOMPARE(w.Slider1.Value(), 9);
        QCOMPARE(int(Var::Speed), 11);
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(int(Var::Speed), 86);
        // The window's own digit sets the slider from code as well: the key's speed stands,
        // and Continue applies the slider rule to the new position.
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        w.Form_KeyPress('5');
        QCOMPARE(w.Slider1.Value(), 5);
        QCOMPARE(int(Var::Speed), 45);
        w.cmdContinue_Click();
        QCOMPARE(int(Var::Speed), 58);
        // The stimulation window's digit sets the slider from code too: its own speed stands.
        frmEMDR2->Form_KeyPress('2');
        QCOMPARE(w.Slider1.Value(), 2);
        QCOMPARE(int(Var::Speed), 15);
    }

    // A click of the mouse on the slider applies the slider rule whether or not it moves
    // the pointer, and once: after the digit 5 (speed 45), a click on the pointer gives 58.
    void sliderClickAppliesTheRule_data()
    {
        QTest::addColumn<int>("digit");
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("position");
        QTest::newRow("5, on the pointer") << 5 << "pointer" << 5;
        QTest::newRow("1, on the pointer") << 1 << "pointer" << 1;
        QTest::newRow("9, on the groove past the end") << 9 << "right end" << 9;
        QTest::newRow("1, on the groove before the start") << 1 << "left end" << 1;
    }
    void sliderClickAppliesTheRule()
    {
        QFETCH(int, digit);
        QFETCH(QString, where);
        QFETCH(int, position);
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        int clicks = 0;
        w.Slider1.OnClick([&clicks, &w] {
            ++clicks;
            w.Slider1_Click();
        });
        auto *slider = qobject_cast<QSlider *>(platform::WidgetOf(w.Slider1));
        QVERIFY(slider);
        QTest::keyClick(slider, char('0' + digit));
        QCOMPARE(int(Var::Speed), digit * 10 - 5);
        QCOMPARE(clicks, 0);
        QPoint at;
        if (where == "pointer") {
            QStyleOptionSlider option;
            option.initFrom(slider);
            option.orientation = slider->orientation();
            option.minimum = slider->minimum();
            option.maximum = slider->maximum();
            option.sliderPosition = slider->sliderPosition();
            option.sliderValue = slider->value();
            option.tickPosition = slider->tickPosition();
            option.tickInterval = slider->tickInterval();
            option.subControls = QStyle::SC_SliderHandle | QStyle::SC_SliderGroove;
            at = slider->style()
                     ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
                     .center();
        } else {
            at = QPoint(where == "right end" ? slider->width() - 2 : 1, slider->height() / 2);
        }
        QTest::mouseClick(slider, Qt::LeftButton, {}, at);
        QCOMPARE(w.Slider1.Value(), position);
        QCOMPARE(int(Var::Speed), SpeedOfSlider(position));
        QCOMPARE(clicks, 1);
    }

    // ---- Pattern -----------------------------------------------------------------------

    void optionButtonsSetThePattern_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<bool>("byClick");
        for (int n = 1; n <= 4; ++n) {
            QTest::addRow("opt%d from code", n) << n << false;
            QTest::addRow("opt%d clicked", n) << n << true;
        }
    }
    void optionButtonsSetThePattern()
    {
        QFETCH(int, pattern);
        QFETCH(bool, byClick);
        FrmSettings &w = frmSettings.Get();
        if (byClick)
            QVERIFY(ShowActive(w));
        PatternButton(pattern == 1 ? 2 : 1).SetValue(true);
        Var::MoveType = 0;
        QWidget *button = platform::WidgetOf(PatternButton(pattern));
        if (byClick)
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        else
            PatternButton(pattern).SetValue(true);
        QCOMPARE(SelectedPattern(), pattern);
        QCOMPARE(int(Var::MoveType), pattern);
    }

    // ---- Continue ----------------------------------------------------------------------

    void continueStartsTheRunWithTheValuesItSet()
    {
        FrmSettings &w = frmSettings.Get();
        w.Slider1.SetValue(5);
        Var::Speed = 0;
        Var::Paused = 1;
        Var::PassCount = 9;
        Var::ToneFile = "/x/chime_l.wav";
        Var::ToneFiles = {std::string("/old/left.wav"), std::string("/old/right.wav")};
        w.CounterOption.SetValue(1);
        // What the stimulation window finds while it loads, at its first channel open: the
        // motion timer's interval there comes from the speed Continue has set by then.
        int speedAtLoad = -1;
        int intervalAtLoad = -1;
        std::string leftAtLoad;
        platform::seams::SetAudioTraceHook([&](const std::string &line) {
            testsupport::AudioTrace().push_back(line);
            if (speedAtLoad < 0 && line == "MMC.Command=Open" && frmEMDR2.Peek()) {
                speedAtLoad = Var::Speed;
                intervalAtLoad = frmEMDR2.Peek()->Timer1.Interval();
                leftAtLoad = Var::ToneFiles[0];
            }
        });
        QVERIFY(!frmEMDR2.IsLoaded());
        w.cmdContinue_Click();
        HoldStimulationStill();
        platform::seams::SetAudioTraceHook(
            [](const std::string &line) { testsupport::AudioTrace().push_back(line); });
        QVERIFY(frmEMDR2.IsLoaded());
        QCOMPARE(speedAtLoad, 58);
        QCOMPARE(intervalAtLoad, 84); // (100 - 58) * 2
        QCOMPARE(Q(leftAtLoad), QString("/x/chime_l.wav"));
        QCOMPARE(int(Var::Speed), 58);
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(int(Var::PassCount), 0);
        QCOMPARE(Q(Var::ToneFiles[0]), QString("/x/chime_l.wav"));
        QCOMPARE(Q(Var::ToneFiles[1]), QString("/x/chime_r.wav"));
        QVERIFY(frmEMDR2->Visible());
        QVERIFY(frmEMDR2->Passcount.Visible());
        QVERIFY(!w.Visible());
        QVERIFY(w.IsLoaded());
    }

    // A run paused by Pause alone, and Continue from the settings window: the run starts
    // again with what was changed there.
    void continueRestartsAPausedRun()
    {
        FrmSettings &w = frmSettings.Get();
        w.CounterOption.SetValue(1);
        w.cmdContinue_Click();
        HoldStimulationStill();
        frmEMDR2->Pause_Click();
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Resume"));
        QCOMPARE(int(Var::Paused), 1);
        w.CounterOption.SetValue(0);
        w.Slider1.SetValue(9);
        w.opt3.SetValue(true);
        w.cmdContinue_Click();
        QVERIFY(!frmEMDR2->Passcount.Visible());
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Pause"));
        QVERIFY(frmEMDR2->Pause.Visible());
        QVERIFY(!frmEMDR2->Settings.Visible());
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(int(Var::Speed), 86);
        // Still loaded with its values while hidden.
        QCOMPARE(w.Slider1.Value(), 9);
        QVERIFY(w.opt3.Value());
        QCOMPARE(int(Var::MoveType), 3);
    }

    void passCountFollowsTheBox_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::newRow("shown, then hidden") << 1 << 0;
        QTest::newRow("hidden, then shown") << 0 << 1;
        QTest::newRow("shown both times") << 1 << 1;
    }
    void passCountFollowsTheBox()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        FrmSettings &w = frmSettings.Get();
        w.CounterOption.SetValue(first);
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(frmEMDR2->Passcount.Visible(), first == 1);
        QCOMPARE(platform::WidgetOf(frmEMDR2->Passcount)->isVisible(), first == 1);
        // Back on the settings window as the practitioner comes back to it.
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        w.CounterOption.SetValue(second);
        w.cmdContinue_Click();
        QCOMPARE(frmEMDR2->Passcount.Visible(), second == 1);
        QCOMPARE(platform::WidgetOf(frmEMDR2->Passcount)->isVisible(), second == 1);
    }

    void continueAfterResumeReadsPause()
    {
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        frmEMDR2->Pause_Click();
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Resume"));
        frmEMDR2->Settings_Click();
        QVERIFY(w.Visible());
        QVERIFY(!frmEMDR2->Pause.Visible());
        Var::PassCount = 4;
        w.cmdContinue_Click();
        QCOMPARE(Q(frmEMDR2->Pause.Caption()), QString("Pause"));
        QVERIFY(frmEMDR2->Pause.Visible());
        QVERIFY(!frmEMDR2->Settings.Visible());
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(int(Var::PassCount), 0);
        QVERIFY(!w.Visible());
    }

    void hiddenWindowKeepsItsValues()
    {
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString bmp = dir.filePath("small.bmp");
        QVERIFY(QImage(40, 24, QImage::Format_RGB32).save(bmp));
        platform::seams::AnswerFileDialog(bmp.toStdString());
        w.Command1_Click();
        w.Slider1.SetValue(8);
        w.opt4.SetValue(true);
        w.CounterOption.SetValue(1);
        w.Soundtones.SetValue(1);
        w.cmdContinue_Click();
        HoldStimulationStill();
        QVERIFY(!w.Visible());
        QVERIFY(w.IsLoaded());
        QCOMPARE(frmSettings.Peek(), &w);
        QCOMPARE(w.Slider1.Value(), 8);
        QCOMPARE(SelectedPattern(), 4);
        QCOMPARE(w.CounterOption.Value(), 1);
        QCOMPARE(w.Soundtones.Value(), 1);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 40);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 24);
        QCOMPARE(Q(*Var::PictureFile), bmp);
    }

    // ---- Picture and tone ----------------------------------------------------------------

    void dialogAsShownForEachChoice_data()
    {
        QTest::addColumn<bool>("picture");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("folder");
        QTest::newRow("Change Picture")
            << true << "Pictures (*.bmp;*.ico)|*.bmp;*.ico" << InFolder("/Pictures/");
        QTest::newRow("Change Tone") << false << "Tones (*.wav)|*.wav" << InFolder("/Tones/");
    }
    void dialogAsShownForEachChoice()
    {
        QFETCH(bool, picture);
        QFETCH(QString, filter);
        QFETCH(QString, folder);
        FrmSettings &w = frmSettings.Get();
        // A choice of the other kind first, whose name would otherwise stand in the dialog.
        QTemporaryDir dir;
        const QString bmp = dir.filePath("other.bmp");
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(bmp));
        platform::seams::AnswerFileDialog(picture ? InFolder("/Tones/chime_l.wav").toStdString()
                                                  : bmp.toStdString());
        picture ? w.Command2_Click() : w.Command1_Click();
        QVERIFY(!w.CD1.FileName().empty());
        for (int use = 1; use <= 2; ++use) {
            platform::seams::AnswerFileDialog("");
            picture ? w.Command1_Click() : w.Command2_Click();
            const CommonDialog &shown = platform::seams::LastFileDialog();
            QCOMPARE(Q(shown.Filter()), filter);
            QCOMPARE(Q(shown.InitDir()), folder);
            QVERIFY2(shown.FileName().empty(), shown.FileName().c_str());
        }
    }

    // The toolkit's dialog, set up as the program shows it: what each entry reads and which
    // files it lists.
    void toolkitDialogShowsTheEntries_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("toolkit"); // the filter as the toolkit takes it
        QTest::newRow("pictures") << "Pictures (*.bmp;*.ico)|*.bmp;*.ico"
                                  << QStringList{"Pictures (*.bmp;*.ico)"}
                                  << QStringList{"a.bmp", "b.ico", "E.BMP"}
                                  << "Pictures (*.bmp;*.ico) (*.bmp *.ico)";
        QTest::newRow("tones") << "Tones (*.wav)|*.wav" << QStringList{"Tones (*.wav)"}
                               << QStringList{"c.wav"} << "Tones (*.wav) (*.wav)";
        QTest::newRow("two entries, blanks around masks")
            << "Tones (*.wav)|*.wav|Icons and bitmaps|*.ico; *.bmp"
            << QStringList{"Tones (*.wav)", "Icons and bitmaps"} << QStringList{"c.wav"}
            << "Tones (*.wav) (*.wav);;Icons and bitmaps (*.ico *.bmp)";
        QTest::newRow("tones and all files")
            << "Tones (*.wav)|*.wav|All|*.*" << QStringList{"Tones (*.wav)", "All"}
            << QStringList{"c.wav"} << "Tones (*.wav) (*.wav);;All (*.*)";
    }
    void toolkitDialogShowsTheEntries()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, listed);
        QFETCH(QString, toolkit);
        QCOMPARE(Q(CommonDialog::ToolkitFilter(filter.toStdString())), toolkit);
        QTemporaryDir dir;
        for (const char *name : {"a.bmp", "b.ico", "c.wav", "d.txt", "E.BMP", "f.bmp.txt"})
            QVERIFY(!WriteFile(dir, name, "x").isEmpty());
        CommonDialog control("CD1");
        control.SetFilter(filter.toStdString());
        control.SetInitDir((dir.path() + "/").toStdString());
        QFileDialog dialog;
        platform::Configure(control, dialog);
        auto *combo = dialog.findChild<QComboBox *>("fileTypeCombo");
        QVERIFY(combo);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        QCOMPARE(shown, entries);
        QCOMPARE(QDir(dialog.directory()).absolutePath(), QDir(dir.path()).absolutePath());
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
        QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
        // The files of the first entry: the masks the dialog's file list applies.
        auto *model = dialog.findChild<QFileSystemModel *>();
        QVERIFY(model);
        QDir folder(dir.path());
        folder.setSorting(QDir::Name | QDir::IgnoreCase);
        QCOMPARE(folder.entryList(model->nameFilters(), QDir::Files), listed);
    }

    void cancelAfterTheOtherKindChangesNothing_data()
    {
        YesNoRows("toneFirst", "picture chosen, tone cancelled", "tone chosen, picture cancelled");
    }
    void cancelAfterTheOtherKindChangesNothing()
    {
        QFETCH(bool, toneFirst);
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString bmp = dir.filePath("big.bmp");
        QVERIFY(QImage(48, 48, QImage::Format_RGB32).save(bmp));
        if (toneFirst) {
            platform::seams::AnswerFileDialog(InFolder("/Tones/chime_l.wav").toStdString());
            w.Command2_Click();
        } else {
            platform::seams::AnswerFileDialog(bmp.toStdString());
            w.Command1_Click();
        }
        // The preview shows the face, or the picture just chosen.
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), toneFirst ? 32 : 48);
        const std::string picture = *Var::PictureFile;
        const std::string tone = Var::ToneFile;
        const qint64 preview = PictureKey(w.Image1.GetPicture());
        testsupport::AudioTrace().clear();
        Device().calls.clear();
        const int shown = platform::seams::FileDialogsShown();
        platform::seams::AnswerFileDialog("");
        toneFirst ? w.Command1_Click() : w.Command2_Click();
        QCOMPARE(platform::seams::FileDialogsShown(), shown + 1);
        QCOMPARE(*Var::PictureFile, picture);
        QCOMPARE(Var::ToneFile, tone);
        QCOMPARE(PictureKey(w.Image1.GetPicture()), preview);
        QVERIFY(TraceOf("MMC3.").empty());
        QVERIFY(Device().calls.empty());
        QVERIFY(testsupport::Messages().empty());
        // Each use starts with an empty file name, and a cancelled one leaves it so.
        QVERIFY(w.CD1.FileName().empty());
    }

    void chosenPicturePreviewedWhileTheRunKeepsItsOwn()
    {
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 32);
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        QTemporaryDir dir;
        const QString bmp = dir.filePath("wide.bmp");
        QVERIFY(QImage(80, 40, QImage::Format_RGB32).save(bmp));
        platform::seams::AnswerFileDialog(bmp.toStdString());
        w.Command1_Click();
        QCOMPARE(Q(*Var::PictureFile), bmp);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 80);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 40);
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 32);
        w.cmdContinue_Click(); // the stimulation window's next activation
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 80);
        QCOMPARE(frmEMDR2->Picture1.GetPicture().HeightPixels(), 40);
        QCOMPARE(frmEMDR2->Picture1.Width(), 80.0f * float(platform::TwipsPerPixel()));
    }

    void eitherFileOfAPairSelectsThePair_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        // Each pair the program brings, chosen by either of its files.
        for (const QString pair : {"beep", "chime"}) {
            const QString left = "\\Tones\\" + pair + "_l.wav";
            const QString right = "\\Tones\\" + pair + "_r.wav";
            QTest::addRow("%s_l", qPrintable(pair)) << left << left << right;
            QTest::addRow("%s_r", qPrintable(pair)) << right << left << right;
        }
    }
    void eitherFileOfAPairSelectsThePair()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, left);
        QFETCH(QString, right);
        // A folder of known words: the rule looks for the first "_" over the whole path.
        testsupport::UseFixedProgramFolder();
        const auto inFolder = [](const QString &suffix) {
            return Q(platform::InProgramFolder(suffix.toStdString()));
        };
        FrmSettings &w = frmSettings.Get();
        platform::seams::AnswerFileDialog(inFolder(chosen).toStdString());
        w.Command2_Click();
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(Q(Var::ToneFiles[0]), inFolder(left));
        QCOMPARE(Q(Var::ToneFiles[1]), inFolder(right));
    }

    void tonePreviewSoundsTheChoice()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string chosen = InFolder("/Tones/chime_r.wav").toStdString();
        testsupport::AudioTrace().clear();
        Device().calls.clear();
        platform::seams::AnswerFileDialog(chosen);
        w.Command2_Click();
        QCOMPARE(Var::ToneFile, chosen);
        const std::vector<std::string> expected = {
            "MMC3.Visible=False",      "MMC3.Flag19=True", "MMC3.DeviceType=WaveAudio",
            "MMC3.FileName=" + chosen, "MMC3.Flag14=True", "MMC3.Command=Sound"};
        QCOMPARE(testsupport::AudioTrace(), expected);
        QCOMPARE(Device().calls.size(), std::size_t(1));
        QVERIFY(Device().calls.front().starts_with("Sound "));
        QVERIFY(Device().calls.front().ends_with(" " + chosen));
        QVERIFY(notices::Told().empty());
    }

    void pictureThatCannotBeShownChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text named .bmp") << "notes.bmp" << QByteArray("these are notes\n");
        QTest::newRow("empty .ico") << "empty.ico" << QByteArray();
        QTest::newRow("cut-off bitmap") << "cut.bmp" << QByteArray("BM\x36\x10\x00\x00", 6);
    }
    void pictureThatCannotBeShownChangesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString path = WriteFile(dir, name, content);
        QVERIFY(!path.isEmpty());
        const std::string before = *Var::PictureFile;
        const qint64 preview = PictureKey(w.Image1.GetPicture());
        platform::seams::AnswerFileDialog(path.toStdString());
        w.Command1_Click();
        QCOMPARE(*Var::PictureFile, before);
        QCOMPARE(PictureKey(w.Image1.GetPicture()), preview);
        QCOMPARE(testsupport::Messages().size(), std::size_t(1));
        QVERIFY2(Q(testsupport::Messages().front()).contains(path),
                 testsupport::Messages().front().c_str());
    }

    // The notice shows only what still holds: a tone that plays, chosen after one that
    // cannot be played, takes that file's line away.
    void noticeShowsOnlyWhatHolds()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string bad = "/nowhere/broken_r.wav";
        const std::string worse = "/nowhere/worse_r.wav";
        Device().failing = {bad, worse};
        notices::TellOnce("There is no sound: no sound device was found.");
        platform::seams::AnswerFileDialog(bad);
        w.Command2_Click();
        QVERIFY(Q(w.Notice.Caption()).contains(Q(bad)));
        QVERIFY(Q(w.Notice.Caption()).contains("no sound device"));
        // Another bad one: its line stands instead of the first one's.
        platform::seams::AnswerFileDialog(worse);
        w.Command2_Click();
        QVERIFY(!Q(w.Notice.Caption()).contains(Q(bad)));
        QVERIFY(Q(w.Notice.Caption()).contains(Q(worse)));
        // The same bad one again: its line stays.
        platform::seams::AnswerFileDialog(worse);
        w.Command2_Click();
        QVERIFY(Q(w.Notice.Caption()).contains(Q(worse)));
        QVERIFY(w.Notice.Visible());
        // A good one: the file's line goes, what else holds stays.
        platform::seams::AnswerFileDialog(InFolder("/Tones/chime_r.wav").toStdString());
        w.Command2_Click();
        QCOMPARE(Q(w.Notice.Caption()), QString("There is no sound: no sound device was found."));
        QVERIFY(w.Notice.Visible());
        // Each line was written to standard error once.
        QCOMPARE(notices::Told().size(), std::size_t(3));
        // With nothing left that holds, the line is gone.
        notices::Withdraw("There is no sound: no sound device was found.");
        QVERIFY(w.Notice.Caption().empty());
        QVERIFY(!w.Notice.Visible());
        QVERIFY(ShowActive(w));
        QVERIFY(!platform::WidgetOf(w.Notice)->isVisible());
    }

    void toneThatCannotBePlayedIsToldOnce()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string bad = "/nowhere/broken_r.wav";
        Device().failing.push_back(bad);
        for (int i = 0; i < 3; ++i) {
            platform::seams::AnswerFileDialog(bad);
            w.Command2_Click();
            QCOMPARE(Var::ToneFile, bad);
        }
        QCOMPARE(notices::Told().size(), std::size_t(1));
        QVERIFY(Q(notices::Told().front()).contains(Q(bad)));
        QVERIFY(testsupport::Messages().empty()); // no box
        QVERIFY(w.Notice.Visible());
        QCOMPARE(w.Notice.Caption(), notices::Told().front());
        QVERIFY(ShowActive(w));
        QVERIFY(platform::WidgetOf(w.Notice)->isVisible());
        // It still selects its pair at Continue.
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(Q(Var::ToneFiles[1]), QString("/nowhere/broken_r.wav"));
    }

    void noticeToldBeforeTheWindowLoadsShowsThere()
    {
        notices::TellOnce("There is no sound: no sound device was found.");
        FrmSettings &w = frmSettings.Get();
        QVERIFY(w.Notice.Visible());
        QCOMPARE(Q(w.Notice.Caption()), QString("There is no sound: no sound device was found."));
    }
};

QTEST_MAIN(TstSettingsChoice)
#include "tst_settings_choice.moc"
