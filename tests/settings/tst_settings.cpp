// The settings window as the practitioner meets it: how it stands when loaded, the speed
// slider and the pattern buttons, Continue, the keys on whichever control has the focus, the
// choice of picture and tone through the open-file dialog, Quit and closing, and whether every
// caption and the notice line can be read in their boxes.
#include "app/shared/Notices.h"
#include "app/Title.h"
#include "app/shared/Var.h"
#include "platform/CommonDialog.h"
#include "platform/Platform.h"
#include "platform/WaveAudio.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <map>

using platform::CommonDialog;
using testsupport::FreshProgram;

namespace {

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// The program's folder as the toolkit sees it, with a suffix in the system's form.
QString InFolder(const QString &suffix)
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + suffix);
}

void HoldStimulationStill()
{
    if (frmEMDR2.IsLoaded()) {
        frmEMDR2->Timer1.SetEnabled(false);
        frmEMDR2->Timer2.SetEnabled(false);
    }
}

// Shows a window and waits until the toolkit has made it the active one. The headless
// platform has no window manager to hand the activation back to a window shown again after
// it was hidden while active, so the test asks for it, and waits for the application's own
// active window: the window's may be there a moment before, with no focus widget yet.
bool ShowActive(platform::Form &form)
{
    form.Show();
    QWidget *window = form.Surface()->window();
    window->activateWindow();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; });
}

platform::OptionButton &Option(FrmSettings &w, int pattern)
{
    platform::OptionButton *buttons[] = {&w.opt1, &w.opt2, &w.opt3, &w.opt4};
    return *buttons[pattern - 1];
}

// The pattern whose button is selected; 0 for none, -1 for more than one.
int SelectedPattern(FrmSettings &w)
{
    int selected = 0;
    for (int n = 1; n <= 4; ++n)
        if (Option(w, n).Value())
            selected = selected == 0 ? n : -1;
    return selected;
}

platform::Control *ControlNamed(FrmSettings &w, const QString &name)
{
    platform::Control *all[] = {&w.Frame1,     &w.opt1,        &w.opt2,     &w.opt3,
                                &w.opt4,       &w.Label6,      &w.Label5,   &w.Label4,
                                &w.Label3,     &w.Label1,      &w.Slider1,  &w.Label2,
                                &w.Command1,   &w.Image1,      &w.Command2, &w.CounterOption,
                                &w.Soundtones, &w.cmdContinue, &w.Quit,     &w.Notice};
    for (platform::Control *control : all)
        if (Q(control->Name()) == name)
            return control;
    return nullptr;
}

std::vector<std::string> Mmc3Trace()
{
    std::vector<std::string> lines;
    for (const std::string &line : testsupport::AudioTrace())
        if (line.rfind("MMC3.", 0) == 0)
            lines.push_back(line);
    return lines;
}

qint64 PictureKey(const platform::Picture &picture)
{
    return picture.Pixmap() ? picture.Pixmap()->cacheKey() : 0;
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

// The caption of a control as the toolkit holds it, and a way to change it.
QString CaptionOf(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return frame->title();
    return QString();
}

void SetCaptionOf(QWidget *widget, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->setText(text);
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        frame->setTitle(text);
}

// How dark a pixel is, 0 to 255.
int Darkness(QRgb pixel)
{
    return 255 - qGray(pixel);
}

// The ink a caption leaves on the control as it is drawn: the darkness the caption adds to
// the control drawn without it, summed over the pixels it changes.
qint64 CaptionInk(QWidget *widget, const QString &caption)
{
    SetCaptionOf(widget, QString());
    const QImage bare = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    SetCaptionOf(widget, caption);
    const QImage drawn = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    qint64 ink = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) != bare.pixel(x, y))
                ink += std::abs(Darkness(drawn.pixel(x, y)) - Darkness(bare.pixel(x, y)));
    return ink;
}

// The ink of a caption written out whole on one line, with nothing to cut it, in the
// control's font and text colour on its background.
qint64 WholeCaptionInk(QWidget *widget, const QString &caption)
{
    const QFontMetrics metrics(widget->font());
    QImage image(metrics.horizontalAdvance(caption) + 40, metrics.height() + 20,
                 QImage::Format_RGB32);
    const QColor background = widget->palette().color(QPalette::Window);
    image.fill(background);
    {
        QPainter painter(&image);
        painter.setFont(widget->font());
        painter.setPen(widget->palette().color(QPalette::WindowText));
        painter.drawText(20, 10 + metrics.ascent(), caption);
    }
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += std::abs(Darkness(image.pixel(x, y)) - Darkness(background.rgb()));
    return ink;
}

// Whether the caption as drawn on the control shows whole: nearly all the ink it has when
// nothing cuts it. A line or a word cut off loses a good part of it.
bool CaptionShowsWhole(QWidget *widget, QString *detail)
{
    const QString caption = CaptionOf(widget);
    const qint64 shown = CaptionInk(widget, caption);
    const qint64 whole = WholeCaptionInk(widget, caption);
    *detail = QString("%1: ink %2 of %3").arg(caption).arg(shown).arg(whole);
    return whole > 0 && shown >= whole * 97 / 100;
}

} // namespace

class TstSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        FreshProgram();
        device_ = &testsupport::InstallRecordingAudio();
    }
    void cleanupTestCase() { FreshProgram(); }

    // ---- As loaded ---------------------------------------------------------------------

    void freshWindowAsStored()
    {
        FrmSettings &w = frmSettings.Get();
        QCOMPARE(Q(w.Caption()), QString("Setttings"));
        QCOMPARE(w.Surface()->size(), QSize(426, 347)); // 6390 x 5205 twips
        QCOMPARE(w.Surface()->minimumSize(), QSize(426, 347));
        QCOMPARE(w.Surface()->maximumSize(), QSize(426, 347));
        QVERIFY(!w.Surface()->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.Slider1.Min(), 1);
        QCOMPARE(w.Slider1.Max(), 9);
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(SelectedPattern(w), 1);
        QCOMPARE(w.CounterOption.Value(), 0);
        QCOMPARE(w.Soundtones.Value(), 0);
        QCOMPARE(Q(w.Label2.Caption()), QString("Slide pointer or use 1 - 9  keys"));
        QCOMPARE(Q(w.Soundtones.Caption()),
                 QString("Sound Tones              (Limits speed if checked)"));
        QCOMPARE(w.Soundtones.Caption().size(), std::size_t(50));
        QCOMPARE(Q(w.Frame1.Caption()),
                 QString("Picture Movement (Click or press corresponding keys)"));
        // The face, as the preview of the default picture.
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 32);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 32);
        QVERIFY(!w.Notice.Visible());
        QVERIFY(!frmEMDR2.IsLoaded());
    }

    void loadSetsTheDefaults()
    {
        frmSettings.Get();
        QVERIFY(Var::PictureFile.has_value());
        QCOMPARE(Q(*Var::PictureFile), InFolder("/Pictures/Face.ico"));
        QVERIFY(QFile::exists(Q(*Var::PictureFile)));
        QCOMPARE(int(Var::MoveType), 1);
        QCOMPARE(Q(Var::ToneFile), InFolder("/Tones/beep_r.wav"));
        QVERIFY(QFile::exists(Q(Var::ToneFile)));
        // The speed waits for the slider, a digit or Continue.
        QCOMPARE(int(Var::Speed), 0);
    }

    void sliderHasTheFocusWhenFirstShown()
    {
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Slider1"));
    }

    // ---- Speed -------------------------------------------------------------------------

    void sliderChangeAppliesTheRule_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<int>("speed");
        const int speeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int v = 1; v <= 9; ++v) {
            QTest::addRow("position %d by arrow key", v) << v << true << speeds[v - 1];
            QTest::addRow("position %d by dragging", v) << v << false << speeds[v - 1];
        }
    }
    void sliderChangeAppliesTheRule()
    {
        QFETCH(int, position);
        QFETCH(bool, byKey);
        QFETCH(int, speed);
        FrmSettings &w = frmSettings.Get();
        auto *slider = qobject_cast<QSlider *>(w.Slider1.Widget());
        QVERIFY(slider);
        const int from = position == 9 ? 8 : position + 1;
        w.Slider1.SetValue(from);
        Var::Speed = 0;
        if (byKey)
            QTest::keyClick(slider, from < position ? Qt::Key_Right : Qt::Key_Left);
        else
            slider->setSliderPosition(position); // what dragging the pointer does
        QCOMPARE(w.Slider1.Value(), position);
        QCOMPARE(int(Var::Speed), speed);
        // Continue applies the same rule to the position it finds.
        Var::Speed = 0;
        w.cmdContinue_Click();
        HoldStimulationStill();
        QCOMPARE(int(Var::Speed), speed);
    }

    void digitKeyThenContinue_data()
    {
        QTest::addColumn<int>("digit");
        QTest::addColumn<int>("keySpeed");
        QTest::addColumn<int>("continueSpeed");
        const int keySpeeds[] = {5, 15, 25, 35, 45, 55, 65, 75, 85};
        const int sliderSpeeds[] = {30, 37, 44, 51, 58, 65, 72, 79, 86};
        for (int d = 1; d <= 9; ++d)
            QTest::addRow("digit %d", d) << d << keySpeeds[d - 1] << sliderSpeeds[d - 1];
    }
    void digitKeyThenContinue()
    {
        QFETCH(int, digit);
        QFETCH(int, keySpeed);
        QFETCH(int, continueSpeed);
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        w.Command1.SetFocus();
        QTest::keyClick(w.Command1.Widget(), char('0' + digit));
        QCOMPARE(w.Slider1.Value(), digit);
        QCOMPARE(int(Var::Speed), keySpeed);
        QTest::keyClick(w.Command1.Widget(), Qt::Key_Return);
        HoldStimulationStill();
        QVERIFY(frmEMDR2.IsLoaded());
        QCOMPARE(int(Var::Speed), continueSpeed);
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
        auto *slider = qobject_cast<QSlider *>(w.Slider1.Widget());
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
        Option(w, pattern == 1 ? 2 : 1).SetValue(true);
        Var::MoveType = 0;
        QWidget *button = Option(w, pattern).Widget();
        if (byClick)
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        else
            Option(w, pattern).SetValue(true);
        QCOMPARE(SelectedPattern(w), pattern);
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
        // What the stimulation window finds while it loads, at its first channel open: the
        // motion timer's interval there comes from the speed Continue has set by then.
        int speedAtLoad = -1;
        int intervalAtLoad = -1;
        std::string leftAtLoad;
        platform::WaveAudio::SetTraceHook([&](const std::string &line) {
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
        platform::WaveAudio::SetTraceHook(
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
        QVERIFY(!w.Visible());
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
        QCOMPARE(frmEMDR2->Passcount.Widget()->isVisible(), first == 1);
        // Back on the settings window as the practitioner comes back to it.
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        w.CounterOption.SetValue(second);
        w.cmdContinue_Click();
        QCOMPARE(frmEMDR2->Passcount.Visible(), second == 1);
        QCOMPARE(frmEMDR2->Passcount.Widget()->isVisible(), second == 1);
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
        CommonDialog::SetNextFileName(bmp.toStdString());
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
        QCOMPARE(SelectedPattern(w), 4);
        QCOMPARE(w.CounterOption.Value(), 1);
        QCOMPARE(w.Soundtones.Value(), 1);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 40);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 24);
        QCOMPARE(Q(*Var::PictureFile), bmp);
    }

    // ---- Keys, as real key events to the focused control --------------------------------

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
        platform::Control *target = ControlNamed(w, control);
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
        QCOMPARE(SelectedPattern(w), 1);
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
        QVERIFY(ShowActive(w));
        platform::Control *target = ControlNamed(w, control);
        QVERIFY(target);
        const int other = pattern == 1 ? 2 : 1;
        Option(w, other).SetValue(true);
        target->SetFocus();
        QCOMPARE(QApplication::focusWidget(), target->Widget());
        Var::MoveType = 0;
        const auto mods = Qt::KeyboardModifiers(modifiers);
        QTest::keyPress(target->Widget(), Qt::Key(key), mods);
        QCOMPARE(SelectedPattern(w), other);
        QCOMPARE(int(Var::MoveType), 0);
        QTest::keyRelease(target->Widget(), Qt::Key(key), mods);
        QCOMPARE(SelectedPattern(w), pattern);
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
        QVERIFY(ShowActive(w));
        platform::Control *target = ControlNamed(w, control);
        QVERIFY(target);
        Option(w, pattern == 1 ? 2 : 1).SetValue(true);
        target->SetFocus();
        QCOMPARE(QApplication::focusWidget(), target->Widget());
        Var::MoveType = 0;
        QTest::keyClick(target->Widget(), character);
        QCOMPARE(SelectedPattern(w), pattern);
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
        QVERIFY(ShowActive(w));
        platform::Control *target = ControlNamed(w, control);
        QVERIFY(target);
        target->SetFocus();
        const int shown = CommonDialog::ShownCount();
        QTest::keyClick(target->Widget(), Qt::Key(key));
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(int(Var::Speed), 0);
        QCOMPARE(SelectedPattern(w), 1);
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
        QCOMPARE(SelectedPattern(w), 3);
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
        QCOMPARE(SelectedPattern(w), pattern);
        QCOMPARE(QApplication::focusWidget(), slider);
        QStringList visited;
        for (int press = 0; press < 20; ++press) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == slider)
                break;
            visited << QApplication::focusWidget()->objectName();
        }
        QVERIFY2(visited.size() >= 2, qPrintable(visited.join(" ")));
        QCOMPARE(visited.mid(0, 2), QStringList({"Command1", Q(Option(w, pattern).Name())}));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(visited.count(Q(Option(w, n).Name())), n == pattern ? 1 : 0);
        // A button that is no tab stop still takes the focus when clicked.
        const int other = pattern == 1 ? 2 : 1;
        QWidget *button = Option(w, other).Widget();
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
        QCOMPARE(QApplication::focusWidget(), button);
        QCOMPARE(SelectedPattern(w), other);
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
        CommonDialog::SetNextFileName(picture ? InFolder("/Tones/chime_l.wav").toStdString()
                                              : bmp.toStdString());
        picture ? w.Command2_Click() : w.Command1_Click();
        QVERIFY(!w.CD1.FileName().empty());
        for (int use = 1; use <= 2; ++use) {
            CommonDialog::SetNextFileName("");
            picture ? w.Command1_Click() : w.Command2_Click();
            const CommonDialog &shown = CommonDialog::LastShown();
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
        QTest::newRow("pictures") << "Pictures (*.bmp;*.ico)|*.bmp;*.ico"
                                  << QStringList{"Pictures (*.bmp;*.ico)"}
                                  << QStringList{"a.bmp", "b.ico", "E.BMP"};
        QTest::newRow("tones") << "Tones (*.wav)|*.wav" << QStringList{"Tones (*.wav)"}
                               << QStringList{"c.wav"};
        QTest::newRow("two entries, blanks around masks")
            << "Tones (*.wav)|*.wav|Icons and bitmaps|*.ico; *.bmp"
            << QStringList{"Tones (*.wav)", "Icons and bitmaps"} << QStringList{"c.wav"};
    }
    void toolkitDialogShowsTheEntries()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, listed);
        QTemporaryDir dir;
        for (const char *name : {"a.bmp", "b.ico", "c.wav", "d.txt", "E.BMP", "f.bmp.txt"})
            QVERIFY(!WriteFile(dir, name, "x").isEmpty());
        CommonDialog control("CD1");
        control.SetFilter(filter.toStdString());
        control.SetInitDir((dir.path() + "/").toStdString());
        QFileDialog dialog;
        control.Configure(dialog);
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
        QTest::addColumn<bool>("toneFirst");
        QTest::newRow("tone chosen, picture cancelled") << true;
        QTest::newRow("picture chosen, tone cancelled") << false;
    }
    void cancelAfterTheOtherKindChangesNothing()
    {
        QFETCH(bool, toneFirst);
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QString bmp = dir.filePath("big.bmp");
        QVERIFY(QImage(48, 48, QImage::Format_RGB32).save(bmp));
        if (toneFirst) {
            CommonDialog::SetNextFileName(InFolder("/Tones/chime_l.wav").toStdString());
            w.Command2_Click();
        } else {
            CommonDialog::SetNextFileName(bmp.toStdString());
            w.Command1_Click();
        }
        const std::string picture = *Var::PictureFile;
        const std::string tone = Var::ToneFile;
        const qint64 preview = PictureKey(w.Image1.GetPicture());
        testsupport::AudioTrace().clear();
        device_->calls.clear();
        const int shown = CommonDialog::ShownCount();
        CommonDialog::SetNextFileName("");
        toneFirst ? w.Command1_Click() : w.Command2_Click();
        QCOMPARE(CommonDialog::ShownCount(), shown + 1);
        QCOMPARE(*Var::PictureFile, picture);
        QCOMPARE(Var::ToneFile, tone);
        QCOMPARE(PictureKey(w.Image1.GetPicture()), preview);
        QVERIFY(Mmc3Trace().empty());
        QVERIFY(device_->calls.empty());
        QVERIFY(testsupport::Messages().empty());
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
        CommonDialog::SetNextFileName(bmp.toStdString());
        w.Command1_Click();
        QCOMPARE(Q(*Var::PictureFile), bmp);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 80);
        QCOMPARE(w.Image1.GetPicture().HeightPixels(), 40);
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 32);
        w.cmdContinue_Click(); // the stimulation window's next activation
        QCOMPARE(frmEMDR2->Picture1.GetPicture().WidthPixels(), 80);
        QCOMPARE(frmEMDR2->Picture1.GetPicture().HeightPixels(), 40);
    }

    void eitherFileOfAPairSelectsThePair_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::newRow("beep_l") << "\\Tones\\beep_l.wav"
                                << "\\Tones\\beep_l.wav"
                                << "\\Tones\\beep_r.wav";
        QTest::newRow("beep_r") << "\\Tones\\beep_r.wav"
                                << "\\Tones\\beep_l.wav"
                                << "\\Tones\\beep_r.wav";
        QTest::newRow("chime_l") << "\\Tones\\chime_l.wav"
                                 << "\\Tones\\chime_l.wav"
                                 << "\\Tones\\chime_r.wav";
        QTest::newRow("chime_r") << "\\Tones\\chime_r.wav"
                                 << "\\Tones\\chime_l.wav"
                                 << "\\Tones\\chime_r.wav";
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
        CommonDialog::SetNextFileName(inFolder(chosen).toStdString());
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
        device_->calls.clear();
        CommonDialog::SetNextFileName(chosen);
        w.Command2_Click();
        QCOMPARE(Var::ToneFile, chosen);
        const std::vector<std::string> expected = {
            "MMC3.Visible=False",      "MMC3.Flag19=True", "MMC3.DeviceType=WaveAudio",
            "MMC3.FileName=" + chosen, "MMC3.Flag14=True", "MMC3.Command=Sound"};
        QCOMPARE(testsupport::AudioTrace(), expected);
        QCOMPARE(device_->calls.size(), std::size_t(1));
        QVERIFY(device_->calls.front().starts_with("Sound "));
        QVERIFY(device_->calls.front().ends_with(" " + chosen));
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
        CommonDialog::SetNextFileName(path.toStdString());
        w.Command1_Click();
        QCOMPARE(*Var::PictureFile, before);
        QCOMPARE(PictureKey(w.Image1.GetPicture()), preview);
        QCOMPARE(testsupport::Messages().size(), std::size_t(1));
        QVERIFY2(Q(testsupport::Messages().front()).contains(path),
                 testsupport::Messages().front().c_str());
    }

    // The preview is a box of 510 x 510 twips with a flat border of one line that shows
    // all round it; the picture stands inside at its own size, from the top left corner: a
    // smaller one leaves space, a larger one is cut at the border.
    void previewKeepsItsBoxAndBorder_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("the stored face") << 0 << 0;
        QTest::newRow("smaller, 8 x 12") << 8 << 12;
        QTest::newRow("as large as the inside, 32 x 32") << 32 << 32;
        QTest::newRow("larger, 80 x 40") << 80 << 40;
        QTest::newRow("larger, 20 x 90") << 20 << 90;
    }
    void previewKeepsItsBoxAndBorder()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        FrmSettings &w = frmSettings.Get();
        QTemporaryDir dir;
        const QColor colour(20, 160, 60);
        if (width > 0) {
            const QString bmp = dir.filePath("chosen.bmp");
            QImage image(width, height, QImage::Format_RGB32);
            image.fill(colour);
            QVERIFY(image.save(bmp));
            CommonDialog::SetNextFileName(bmp.toStdString());
            w.Command1_Click();
            QCOMPARE(w.Image1.GetPicture().WidthPixels(), width);
        }
        QVERIFY(ShowActive(w));
        QCOMPARE(w.Image1.Width(), 510.0f);
        QCOMPARE(w.Image1.Height(), 510.0f);
        QWidget *box = w.Image1.Widget();
        QCOMPARE(box->size(), QSize(34, 34));
        const QImage drawn = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(drawn.size(), QSize(34, 34));
        // The border: one dark line all round, the same ink everywhere.
        const QRgb line = drawn.pixel(0, 0);
        QVERIFY2(Darkness(line) > 128, qPrintable(QString::number(line, 16)));
        for (int i = 0; i < 34; ++i) {
            QCOMPARE(drawn.pixel(i, 0), line);
            QCOMPARE(drawn.pixel(i, 33), line);
            QCOMPARE(drawn.pixel(0, i), line);
            QCOMPARE(drawn.pixel(33, i), line);
        }
        if (width == 0) {
            // The face fills the inside: no border ink in it.
            QVERIFY(drawn.pixel(16, 16) != line);
            return;
        }
        // The picture at its own size from the top left corner of the inside, cut at the
        // border; what it leaves free is the window's background.
        const QRgb background = w.Surface()->palette().color(QPalette::Window).rgb();
        for (int y = 1; y < 33; ++y) {
            for (int x = 1; x < 33; ++x) {
                const bool picture = x - 1 < width && y - 1 < height;
                QVERIFY2(drawn.pixel(x, y) == (picture ? colour.rgb() : background),
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
            }
        }
    }

    // The notice shows only what still holds: a tone that plays, chosen after one that
    // cannot be played, takes that file's line away.
    void noticeShowsOnlyWhatHolds()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string bad = "/nowhere/broken_r.wav";
        const std::string worse = "/nowhere/worse_r.wav";
        device_->failing = {bad, worse};
        notices::TellOnce("There is no sound: no sound device was found.");
        CommonDialog::SetNextFileName(bad);
        w.Command2_Click();
        QVERIFY(Q(w.Notice.Caption()).contains(Q(bad)));
        QVERIFY(Q(w.Notice.Caption()).contains("no sound device"));
        // Another bad one: its line stands instead of the first one's.
        CommonDialog::SetNextFileName(worse);
        w.Command2_Click();
        QVERIFY(!Q(w.Notice.Caption()).contains(Q(bad)));
        QVERIFY(Q(w.Notice.Caption()).contains(Q(worse)));
        // The same bad one again: its line stays.
        CommonDialog::SetNextFileName(worse);
        w.Command2_Click();
        QVERIFY(Q(w.Notice.Caption()).contains(Q(worse)));
        QVERIFY(w.Notice.Visible());
        // A good one: the file's line goes, what else holds stays.
        CommonDialog::SetNextFileName(InFolder("/Tones/chime_r.wav").toStdString());
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
        QVERIFY(!w.Notice.Widget()->isVisible());
    }

    void toneThatCannotBePlayedIsToldOnce()
    {
        FrmSettings &w = frmSettings.Get();
        const std::string bad = "/nowhere/broken_r.wav";
        device_->failing.push_back(bad);
        for (int i = 0; i < 3; ++i) {
            CommonDialog::SetNextFileName(bad);
            w.Command2_Click();
            QCOMPARE(Var::ToneFile, bad);
        }
        QCOMPARE(notices::Told().size(), std::size_t(1));
        QVERIFY(Q(notices::Told().front()).contains(Q(bad)));
        QVERIFY(testsupport::Messages().empty()); // no box
        QVERIFY(w.Notice.Visible());
        QCOMPARE(w.Notice.Caption(), notices::Told().front());
        QVERIFY(ShowActive(w));
        QVERIFY(w.Notice.Widget()->isVisible());
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

    // ---- Quit and closing ----------------------------------------------------------------

    void quitEndsAtOnceWithoutUnloading_data()
    {
        QTest::addColumn<bool>("afterARun");
        QTest::newRow("before a run") << false;
        QTest::newRow("back from a paused run") << true;
    }
    void quitEndsAtOnceWithoutUnloading()
    {
        QFETCH(bool, afterARun);
        StartProgram();
        Title->Command1_Click();
        FrmSettings &w = frmSettings.Get();
        if (afterARun) {
            w.cmdContinue_Click();
            HoldStimulationStill();
            frmEMDR2->Pause_Click();
            frmEMDR2->Settings_Click();
        }
        QVERIFY(ShowActive(w));
        const std::vector<platform::Form *> before = platform::Forms();
        QCOMPARE(before.size(), std::size_t(afterARun ? 3 : 2));
        QTest::mouseClick(w.Quit.Widget(), Qt::LeftButton);
        QCOMPARE(testsupport::EndRequests(), 1);
        QCOMPARE(platform::Forms(), before);
        for (platform::Form *form : before)
            QVERIFY(form->IsLoaded());
        // The settings window's unload handling would have let go of the notices.
        notices::TellOnce("told after Quit");
        QCOMPARE(Q(w.Notice.Caption()), QString("told after Quit"));
    }

    void closingTheWindowUnloadsEveryWindowOnce()
    {
        StartProgram();
        Title->Command1_Click();
        FrmSettings &w = frmSettings.Get();
        w.cmdContinue_Click();
        HoldStimulationStill();
        frmEMDR2->Pause_Click();
        frmEMDR2->Settings_Click();
        QCOMPARE(platform::Forms().size(), std::size_t(3));
        platform::Form *title = Title.Peek();
        platform::Form *stimulation = frmEMDR2.Peek();
        QVERIFY(w.Surface()->close());
        QVERIFY(platform::Forms().empty());
        // None was made anew while the others were unloaded.
        QCOMPARE(Title.Peek(), title);
        QCOMPARE(frmSettings.Peek(), &w);
        QCOMPARE(frmEMDR2.Peek(), stimulation);
        QVERIFY(!title->IsLoaded() && !w.IsLoaded() && !stimulation->IsLoaded());
        QVERIFY(!w.Surface()->isVisible() && !stimulation->Surface()->isVisible());
        // Its unload handling ran: the notices no longer reach it.
        notices::TellOnce("told after closing");
        QVERIFY(Q(w.Notice.Caption()) != "told after closing");
        QCOMPARE(testsupport::EndRequests(), 0);
    }

    // ---- Looks ---------------------------------------------------------------------------

    void captionsCanBeRead_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("bold");
        QTest::newRow("Frame1") << "Frame1" << false;
        QTest::newRow("opt1") << "opt1" << true;
        QTest::newRow("opt2") << "opt2" << true;
        QTest::newRow("opt3") << "opt3" << true;
        QTest::newRow("opt4") << "opt4" << true;
        QTest::newRow("F1 label") << "Label6" << true;
        QTest::newRow("F2 label") << "Label5" << true;
        QTest::newRow("F3 label") << "Label4" << true;
        QTest::newRow("F4 label") << "Label3" << true;
        QTest::newRow("Speed") << "Label1" << false;
        QTest::newRow("slider hint") << "Label2" << true;
        QTest::newRow("Change Picture") << "Command1" << false;
        QTest::newRow("Change Tone") << "Command2" << false;
        QTest::newRow("Show pass count") << "CounterOption" << false;
        QTest::newRow("Sound Tones") << "Soundtones" << false;
        QTest::newRow("Continue") << "cmdContinue" << false;
        QTest::newRow("Quit") << "Quit" << false;
    }
    void captionsCanBeRead()
    {
        QFETCH(QString, control);
        QFETCH(bool, bold);
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        platform::Control *target = ControlNamed(w, control);
        QVERIFY(target);
        QWidget *widget = target->Widget();
        QVERIFY(widget->isVisible());
        QCOMPARE(widget->font().bold(), bold);
        QVERIFY(!CaptionOf(widget).isEmpty());
        QString detail;
        QVERIFY2(CaptionShowsWhole(widget, &detail), qPrintable(detail));
        // Within the client area.
        const QRect inWindow(widget->mapTo(w.Surface(), QPoint(0, 0)), widget->size());
        QVERIFY(w.Surface()->rect().contains(inWindow));
    }

    void noticeCanBeReadWhereItStands()
    {
        FrmSettings &w = frmSettings.Get();
        // A file of a practitioner's own, named in full: the line must not depend on where
        // the program happens to be.
        const std::string tone = "/home/pat/Tones/bell_r.wav";
        device_->failing.push_back(tone);
        CommonDialog::SetNextFileName(tone);
        w.Command2_Click();
        QVERIFY(ShowActive(w));
        QWidget *notice = w.Notice.Widget();
        QVERIFY(notice->isVisible());
        const QRect box(notice->mapTo(w.Surface(), QPoint(0, 0)), notice->size());
        QVERIFY(w.Surface()->rect().contains(box));
        // It covers no other control.
        for (platform::Control *other : std::initializer_list<platform::Control *>{
                 &w.Frame1, &w.Label1, &w.Slider1, &w.Label2, &w.Command1, &w.Image1, &w.Command2,
                 &w.CounterOption, &w.Soundtones, &w.cmdContinue, &w.Quit}) {
            QWidget *widget = other->Widget();
            const QRect area(widget->mapTo(w.Surface(), QPoint(0, 0)), widget->size());
            QVERIFY2(!box.intersects(area), other->Name().c_str());
        }
        QCOMPARE(CaptionOf(notice), Q(w.Notice.Caption()));
        QString detail;
        QVERIFY2(CaptionShowsWhole(notice, &detail), qPrintable(detail));
        // A text too long for the box keeps its beginning, the file's name, in view: its
        // first line is drawn just where the text alone draws it.
        const QString text = CaptionOf(notice);
        const QImage alone = notice->grab().toImage();
        SetCaptionOf(notice, text + " " + text);
        const QImage longer = notice->grab().toImage();
        const int firstLine = QFontMetrics(notice->font()).height();
        QVERIFY(firstLine < alone.height());
        QCOMPARE(longer.copy(0, 0, longer.width(), firstLine),
                 alone.copy(0, 0, alone.width(), firstLine));
        qint64 ink = 0;
        for (int y = 0; y < firstLine; ++y)
            for (int x = 0; x < alone.width(); ++x)
                ink += Darkness(alone.pixel(x, y)) > 128 ? 1 : 0;
        QVERIFY(ink > 50);
    }

private:
    testsupport::RecordingAudioDevice *device_ = nullptr;
};

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
