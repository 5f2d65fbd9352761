// The stimulation window: layout and track, motion, and the start of a run.
#include "app/Var.h"
#include "platform/Platform.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QTest>

using testsupport::FreshProgram;

namespace {

// A loaded stimulation window with its timers held still, so that the test drives every tick.
FrmEMDR2 &StillWindow()
{
    frmSettings.Get(); // the settings window is always loaded first
    FrmEMDR2 &window = frmEMDR2.Get();
    window.Timer1.SetEnabled(false);
    window.Timer2.SetEnabled(false);
    return window;
}

} // namespace

class TstStimulation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { testsupport::InstallRecordingAudio(); }
    void init() { FreshProgram(); }
    void cleanupTestCase() { FreshProgram(); }

    void loadLaysOutTheWindow()
    {
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QVERIFY(!w.Settings.Visible());
        QCOMPARE(w.WindowState(), int(platform::vbMaximized));
        QCOMPARE(w.Width(), platform::ScreenWidthTwips());
        QCOMPARE(w.Height(), platform::ScreenHeightTwips());
        const float W = w.Width(), H = w.Height();
        QCOMPARE(w.Pause.Top(), H - 2.5f * 495);
        QCOMPARE(w.Pause.Left(), W / 3 - 1455);
        QCOMPARE(w.Passcount.Left(), 2 * W / 3 - 1215 / 2.0f);
        QCOMPARE(w.Settings.Left(), W / 2 - 1215 / 2.0f);
        QCOMPARE(w.Passcount.Top(), w.Pause.Top());
        QCOMPARE(w.Settings.Top(), w.Pause.Top());
        QCOMPARE(w.Passcount.Caption(), std::string(" 0 passes"));
    }
};

QTEST_MAIN(TstStimulation)
#include "tst_stimulation.moc"
