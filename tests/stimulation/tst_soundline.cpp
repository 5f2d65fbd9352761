// What the practitioner is told about the sound output: the stimulation window's sound line
// and the settings window's notice, as the output's state comes and goes.
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QTest>

using testsupport::StillWindow;

namespace {

const std::string kLost = "No tones can be heard: the sound server stopped answering. The "
                          "program keeps trying to reach it.";

struct Box
{
    float left, top, width, height;
    bool Overlaps(const Box &other) const
    {
        return left < other.left + other.width && other.left < left + width &&
               top < other.top + other.height && other.top < top + height;
    }
};

template <typename Control> Box BoxOf(const Control &control)
{
    return {control.Left(), control.Top(), control.Width(), control.Height()};
}

} // namespace

class TstSoundLine : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    // A problem shows on the running window and in the settings notice; when sound is back
    // the line says so for a few seconds and goes, and the notice lets the problem go.
    void lineAndNoticeFollowTheState()
    {
        FrmEMDR2 &w = StillWindow();
        frmSettings->Soundtones.SetValue(1);
        QVERIFY(!w.SoundLine.Visible());
        QVERIFY(!frmSettings->Notice.Visible());

        notices::SetSoundProblem(kLost);
        QVERIFY(w.SoundLine.Visible());
        QVERIFY(w.SoundLine.Caption().rfind("No tones can be heard", 0) == 0);
        QVERIFY(frmSettings->Notice.Visible());
        QCOMPARE(frmSettings->Notice.Caption(), kLost);
        // Told once, however often the output repeats itself.
        notices::SetSoundProblem(kLost);
        QVERIFY(!w.SoundLineTimer.Enabled());

        notices::SetSoundProblem("");
        QVERIFY(w.SoundLine.Visible());
        QCOMPARE(w.SoundLine.Caption(), std::string("Sound is back"));
        QVERIFY(w.SoundLineTimer.Enabled());
        QVERIFY(!frmSettings->Notice.Visible());
        w.SoundLineTimer_Timer();
        QVERIFY(!w.SoundLine.Visible());
        QVERIFY(!w.SoundLineTimer.Enabled());

        // Lost again before "Sound is back" has gone: the line says the problem and stays.
        notices::SetSoundProblem(kLost);
        notices::SetSoundProblem("");
        notices::SetSoundProblem(kLost);
        QVERIFY(!w.SoundLineTimer.Enabled());
        QVERIFY(w.SoundLine.Caption().rfind("No tones can be heard", 0) == 0);
    }

    // A file problem told before stays in the notice when the sound problem goes.
    void fileProblemOutlastsTheSoundProblem()
    {
        StillWindow();
        notices::TellOnce("The tone file \"/t/x_l.wav\" cannot be played: the file is empty.");
        notices::SetSoundProblem(kLost);
        // The newest first.
        QVERIFY(frmSettings->Notice.Caption().rfind(kLost, 0) == 0);
        QVERIFY(frmSettings->Notice.Caption().find("/t/x_l.wav") != std::string::npos);
        notices::SetSoundProblem("");
        QVERIFY(frmSettings->Notice.Visible());
        QVERIFY(frmSettings->Notice.Caption().find("/t/x_l.wav") != std::string::npos);
        QVERIFY(frmSettings->Notice.Caption().find("No tones") == std::string::npos);
    }

    // A problem that began before the windows were made is shown when they load; none is
    // shown where there is none.
    void stateAtLoad()
    {
        notices::SetSoundProblem(kLost);
        frmSettings.Get().Soundtones.SetValue(1);
        FrmEMDR2 &w = StillWindow();
        QVERIFY(w.SoundLine.Visible());
        QCOMPARE(frmSettings->Notice.Caption(), kLost);
        testsupport::FreshCase();
        FrmEMDR2 &fresh = StillWindow();
        QVERIFY(!fresh.SoundLine.Visible());
        QVERIFY(!frmSettings->Notice.Visible());
        // "Sound is back" with nothing having been lost says nothing.
        notices::SetSoundProblem("");
        QVERIFY(!fresh.SoundLine.Visible());
    }

    // The stimulation window is the client's screen: the line is there only while tones are
    // asked for, and follows the box each time the practitioner continues. The notice tells
    // the practitioner either way.
    void lineOnlyWhileTonesAreAskedFor()
    {
        notices::SetSoundProblem(kLost);
        FrmEMDR2 &w = StillWindow();
        FrmSettings &settings = *frmSettings;
        QVERIFY(!w.SoundLine.Visible());
        settings.cmdContinue_Click();
        QVERIFY(!w.SoundLine.Visible());
        QCOMPARE(settings.Notice.Caption(), kLost);
        const bool ticked[] = {true, false, true};
        for (bool tones : ticked) {
            w.Pause_Click();
            w.Settings_Click();
            settings.Soundtones.SetValue(tones ? 1 : 0);
            settings.cmdContinue_Click();
            QCOMPARE(w.SoundLine.Visible(), tones);
            QVERIFY(!w.SoundLineTimer.Enabled());
            QVERIFY(settings.Notice.Visible());
        }
        // With the box clear, sound that comes and goes leaves the client's screen alone.
        w.Pause_Click();
        w.Settings_Click();
        settings.Soundtones.SetValue(0);
        settings.cmdContinue_Click();
        notices::SetSoundProblem("");
        QVERIFY(!w.SoundLine.Visible());
        notices::SetSoundProblem(kLost);
        QVERIFY(!w.SoundLine.Visible());
        QCOMPARE(settings.Notice.Caption(), kLost);
    }

    // The line stands in the control row where no track passes, beside the buttons and
    // overlapping none of them, on every pattern.
    void lineCoversNeitherPictureNorButtons_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::newRow("--") << 1;
        QTest::newRow("|") << 2;
        QTest::newRow("\\") << 3;
        QTest::newRow("/") << 4;
    }
    void lineCoversNeitherPictureNorButtons()
    {
        QFETCH(int, pattern);
        Var::MoveType = static_cast<std::int16_t>(pattern);
        FrmEMDR2 &w = StillWindow();
        w.ResetTrack();
        const Box line = BoxOf(w.SoundLine);
        QVERIFY(line.width > 1000); // room for its words
        QCOMPARE(line.top, w.Pause.Top());
        for (const Box &button : {BoxOf(w.Pause), BoxOf(w.Settings), BoxOf(w.Passcount)})
            QVERIFY(!line.Overlaps(button));
        const float pw = w.Picture1.Width();
        const float ph = w.Picture1.Height();
        for (int i = 0; i <= 100; ++i) {
            const float x = static_cast<float>(w.StartX + (w.EndX - w.StartX) * i / 100.0);
            const float y = static_cast<float>(w.StartY + (w.EndY - w.StartY) * i / 100.0);
            QVERIFY2(!line.Overlaps({x, y, pw, ph}), qPrintable(QString("at %1 %").arg(i)));
        }
    }
};

QTEST_MAIN(TstSoundLine)
#include "tst_soundline.moc"
