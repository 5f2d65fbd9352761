// The settings window as it stands and looks: how it is when loaded, the picture's preview,
// whether every caption and the notice line can be read in their boxes, Quit and closing.
#include "app/Title.h"
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/forms/Picture.h"
#include "platform/forms/Toolkit.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using platform::CommonDialog;
using namespace testsupport;

namespace {

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

// Whether a control shows over a picture of this colour beneath it: a button is drawn whole,
// a check box its tick box; either way hardly any of the picture shows through.
bool ShowsAbove(const QImage &window, const platform::Control &control, QRgb picture)
{
    QWidget *widget = platform::WidgetOf(control);
    QRect area(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
    if (auto *check = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(check);
        area = widget->style()
                   ->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check)
                   .translated(area.topLeft());
    }
    int through = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            through += window.pixel(x, y) == picture ? 1 : 0;
    return area.width() > 4 && through * 20 < area.width() * area.height();
}

} // namespace

class TstSettingsScreen : public WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    // ---- As loaded ---------------------------------------------------------------------

    void freshWindowAsStored()
    {
        FrmSettings &w = frmSettings.Get();
        QCOMPARE(Q(w.Caption()), QString("Setttings"));
        QCOMPARE(platform::SurfaceOf(w)->size(), QSize(426, 347)); // 6390 x 5205 twips
        QCOMPARE(platform::SurfaceOf(w)->minimumSize(), QSize(426, 347));
        QCOMPARE(platform::SurfaceOf(w)->maximumSize(), QSize(426, 347));
        QVERIFY(!platform::SurfaceOf(w)->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.Slider1.Min(), 1);
        QCOMPARE(w.Slider1.Max(), 9);
        QCOMPARE(w.Slider1.Value(), 6);
        QCOMPARE(SelectedPattern(), 1);
        QCOMPARE(w.CounterOption.Value(), 0);
        QCOMPARE(w.Soundtones.Value(), 0);
        QCOMPARE(Q(w.Label2.Caption()), QString("Slide pointer or use 1 - 9  keys"));
        QCOMPARE(Q(w.Soundtones.Caption()),
                 QString("Sound Tones              (Limits speed if checked)"));
        QCOMPARE(w.Soundtones.Caption().size(), std::size_t(50));
        QCOMPARE(Q(w.Frame1.Caption()),
                 QString("Picture Movement (Click or press corresponding keys)"));
        // The preview is the default picture, the face, pixel for pixel.
        const platform::PictureResult face =
            platform::LoadPicture(platform::InProgramFolder("\\Pictures\\Face.ico"), 0, 0);
        QVERIFY(face.ok);
        QCOMPARE(w.Image1.GetPicture().WidthPixels(), 32);
        QCOMPARE(platform::PixmapOf(w.Image1.GetPicture())->toImage(),
                 platform::PixmapOf(face.picture)->toImage());
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
        // The same paths as the program builds them from its folder and a fixed suffix.
        QCOMPARE(Q(*Var::PictureFile), Q(platform::InProgramFolder("\\Pictures\\Face.ico")));
        QCOMPARE(Q(Var::ToneFile), Q(platform::InProgramFolder("\\Tones\\beep_r.wav")));
        QVERIFY(QFile::exists(Q(Var::ToneFile)));
        // The speed waits for the slider, a digit or Continue.
        QCOMPARE(int(Var::Speed), 0);
    }

    void sliderHasTheFocusWhenFirstShown()
    {
        FrmSettings &w = frmSettings.Get();
        QVERIFY(ShowActive(w));
        QVERIFY(QTest::qWaitForWindowExposed(platform::SurfaceOf(w)));
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Slider1"));
    }

    // The preview takes the size of its picture, a flat line of one pixel round it (510
    // twips for a 32 x 32 picture), with its top left corner where it is stored. A picture
    // larger than its place reaches under the controls beside and below it, which stay drawn
    // above it and take their clicks.
    void previewTakesTheSizeOfItsPicture_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("the stored face") << 0 << 0;
        QTest::newRow("smaller, 8 x 12") << 8 << 12;
        QTest::newRow("32 x 32") << 32 << 32;
        QTest::newRow("larger, 64 x 48") << 64 << 48;
        QTest::newRow("tall, 20 x 90") << 20 << 90;
        QTest::newRow("larger than the window, 500 x 400") << 500 << 400;
    }
    void previewTakesTheSizeOfItsPicture()
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
            platform::seams::AnswerFileDialog(bmp.toStdString());
            w.Command1_Click();
            QCOMPARE(w.Image1.GetPicture().WidthPixels(), width);
        }
        const bool chosen = width > 0;
        if (!chosen)
            width = height = 32;
        QVERIFY(ShowActive(w));
        QCOMPARE(w.Image1.Left(), 4200.0f);
        QCOMPARE(w.Image1.Top(), 2760.0f);
        QCOMPARE(w.Image1.Width(), static_cast<float>((width + 2) * 15));
        QCOMPARE(w.Image1.Height(), static_cast<float>((height + 2) * 15));
        QWidget *box = platform::WidgetOf(w.Image1);
        QCOMPARE(box->pos(), QPoint(280, 184));
        const QImage drawn = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(drawn.size(), QSize(width + 2, height + 2));
        // The border: one dark line all round, the same ink everywhere; the picture fills the
        // inside.
        const QRgb line = drawn.pixel(0, 0);
        QVERIFY2(Darkness(line) > 128, qPrintable(QString::number(line, 16)));
        for (int x = 0; x <= width + 1; ++x)
            QVERIFY(drawn.pixel(x, 0) == line && drawn.pixel(x, height + 1) == line);
        for (int y = 0; y <= height + 1; ++y)
            QVERIFY(drawn.pixel(0, y) == line && drawn.pixel(width + 1, y) == line);
        // The stored face is drawn inside: most of it is neither the line nor the bare
        // window showing through.
        const QRgb bare = box->palette().color(QPalette::Window).rgb();
        int inked = 0;
        for (int y = 1; y <= height; ++y)
            for (int x = 1; x <= width; ++x)
                inked += drawn.pixel(x, y) != line && drawn.pixel(x, y) != bare ? 1 : 0;
        QVERIFY2(inked > width * height / 4, qPrintable(QString::number(inked)));
        for (int y = 1; chosen && y <= height; ++y)
            for (int x = 1; x <= width; ++x)
                QVERIFY2(drawn.pixel(x, y) == colour.rgb(),
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
        // The controls it reaches under are drawn over it and take a click of the mouse.
        const QImage window = platform::SurfaceOf(w)->grab().toImage();
        for (platform::Control *control :
             std::initializer_list<platform::Control *>{&w.CounterOption, &w.Soundtones, &w.Quit})
            QVERIFY2(ShowsAbove(window, *control, colour.rgb()), control->Name().c_str());
        QWidget *tick = platform::WidgetOf(w.Soundtones);
        QTest::mouseClick(platform::SurfaceOf(w)->windowHandle(), Qt::LeftButton, {},
                          tick->mapTo(platform::SurfaceOf(w), QPoint(8, tick->height() / 2)));
        QCOMPARE(w.Soundtones.Value(), 1);
    }

    // ---- Quit and closing ----------------------------------------------------------------

    void quitEndsAtOnceWithoutUnloading_data()
    {
        YesNoRows("afterARun", "before a run", "back from a paused run");
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
        QTest::mouseClick(platform::WidgetOf(w.Quit), Qt::LeftButton);
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
        QVERIFY(platform::SurfaceOf(w)->close());
        QVERIFY(platform::Forms().empty());
        // None was made anew while the others were unloaded.
        QCOMPARE(Title.Peek(), title);
        QCOMPARE(frmSettings.Peek(), &w);
        QCOMPARE(frmEMDR2.Peek(), stimulation);
        QVERIFY(!title->IsLoaded() && !w.IsLoaded() && !stimulation->IsLoaded());
        QVERIFY(!platform::SurfaceOf(w)->isVisible() &&
                !platform::SurfaceOf(*stimulation)->isVisible());
        // A second close finds nothing to unload.
        platform::Unload(w);
        QVERIFY(platform::Forms().empty());
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
        platform::Control *target = SettingsControl(control);
        QVERIFY(target);
        QWidget *widget = platform::WidgetOf(*target);
        QVERIFY(widget->isVisible());
        QCOMPARE(widget->font().bold(), bold);
        QVERIFY(!CaptionOf(widget).isEmpty());
        QString detail;
        QVERIFY2(CaptionShowsWhole(widget, &detail), qPrintable(detail));
        // Within the client area.
        const QRect inWindow(widget->mapTo(platform::SurfaceOf(w), QPoint(0, 0)), widget->size());
        QVERIFY(platform::SurfaceOf(w)->rect().contains(inWindow));
    }

    void noticeCanBeReadWhereItStands()
    {
        FrmSettings &w = frmSettings.Get();
        // A file of a practitioner's own, named in full: the line must not depend on where
        // the program happens to be.
        const std::string tone = "/home/pat/Tones/bell_r.wav";
        Device().failing.push_back(tone);
        platform::seams::AnswerFileDialog(tone);
        w.Command2_Click();
        QVERIFY(ShowActive(w));
        QWidget *notice = platform::WidgetOf(w.Notice);
        QVERIFY(notice->isVisible());
        const QRect box(notice->mapTo(platform::SurfaceOf(w), QPoint(0, 0)), notice->size());
        QVERIFY(platform::SurfaceOf(w)->rect().contains(box));
        // It covers no other control.
        for (platform::Control *other : std::initializer_list<platform::Control *>{
                 &w.Frame1, &w.Label1, &w.Slider1, &w.Label2, &w.Command1, &w.Image1, &w.Command2,
                 &w.CounterOption, &w.Soundtones, &w.cmdContinue, &w.Quit}) {
            QWidget *widget = platform::WidgetOf(*other);
            const QRect area(widget->mapTo(platform::SurfaceOf(w), QPoint(0, 0)), widget->size());
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
};

QTEST_MAIN(TstSettingsScreen)
#include "tst_settings_screen.moc"
