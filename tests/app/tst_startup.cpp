// Start-up with the title window and the ways the program ends.
#include "app/Title.h"
#include "app/Var.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QTest>
#include <QWidget>

using testsupport::FreshProgram;

class TstStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { testsupport::InstallRecordingAudio(); }
    void init() { FreshProgram(); }
    void cleanupTestCase() { FreshProgram(); }

    void titleWindowAsStored()
    {
        FrmTitle &t = Title.Get();
        QCOMPARE(QString::fromStdString(t.Caption()),
                 QString("Tarrowin (Alternating bilateral visuals and tones for EMDR)"));
        QCOMPARE(t.Surface()->size(), QSize(492, 251)); // 7380 x 3765 twips
        QCOMPARE(QString::fromStdString(t.Command1.Caption()), QString("Continue"));
        QVERIFY(!t.Label1.Caption().empty());
        QVERIFY(!t.Label2.Caption().empty());
        QVERIFY(!t.KeyPreview());
    }

    void startShowsTheTitleAndNothingElse()
    {
        StartProgram();
        QVERIFY(Title.IsLoaded());
        QVERIFY(Title->Visible());
        QVERIFY(!frmSettings.IsLoaded());
        QVERIFY(!frmEMDR2.IsLoaded());
        QVERIFY(!Var::PictureFile.has_value()); // nothing has run but the title
        QCOMPARE(int(Var::MoveType), 0);
    }

    void titleContinueLeadsToTheSettings()
    {
        StartProgram();
        Title->Command1_Click();
        QVERIFY(Title.IsLoaded());
        QVERIFY(!Title->Visible());
        QVERIFY(frmSettings.IsLoaded());
        QVERIFY(frmSettings->Visible());
        QVERIFY(!frmEMDR2.IsLoaded());
        QCOMPARE(int(Var::MoveType), 1);
        QVERIFY(Var::PictureFile.has_value());
    }

    void closingTheTitleFirstEndsWithoutTheSettings()
    {
        StartProgram();
        QVERIFY(Title->Surface()->close());
        QVERIFY(platform::Forms().empty());
        QVERIFY(!frmSettings.IsLoaded());
        QCOMPARE(frmSettings.Peek(), nullptr);
    }

    void closingTheStimulationUnloadsEverything()
    {
        StartProgram();
        Title->Command1_Click();
        frmSettings->cmdContinue_Click();
        frmEMDR2->Timer1.SetEnabled(false);
        frmEMDR2->Timer2.SetEnabled(false);
        QCOMPARE(platform::Forms().size(), std::size_t(3));
        QVERIFY(!frmSettings->Visible());
        QVERIFY(frmEMDR2->Surface()->close());
        QVERIFY(platform::Forms().empty());
        QCOMPARE(testsupport::EndRequests(), 0);
        // Referring to a window after the end would make a new one: nothing here does.
        QVERIFY(!Title.IsLoaded() && !frmSettings.IsLoaded() && !frmEMDR2.IsLoaded());
    }

    void quitWhilePausedEndsAtOnce()
    {
        StartProgram();
        Title->Command1_Click();
        frmSettings->cmdContinue_Click();
        frmEMDR2->Timer1.SetEnabled(false);
        frmEMDR2->Timer2.SetEnabled(false);
        frmEMDR2->Form_KeyPress(27);
        frmEMDR2->Settings_Click();
        frmSettings->Quit_Click();
        QCOMPARE(testsupport::EndRequests(), 1);
        QCOMPARE(platform::Forms().size(), std::size_t(3)); // no unload handling ran
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
