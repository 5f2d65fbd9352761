// Start-up with the title window and the ways the program ends: in this process through the
// windows' own handlers, and as whole programs whose exit status and output are checked. Also
// where the labels of the three windows set their text in their boxes.
#include "app/Title.h"
#include "platform/forms/Toolkit.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using testsupport::InFolder;
using testsupport::Q;

namespace {

// Whether a label's whole caption stands inside the label as the toolkit lays it out.
bool LabelCaptionFits(const platform::Label &label)
{
    auto *widget = qobject_cast<QLabel *>(platform::WidgetOf(label));
    if (!widget)
        return false;
    const QRect area = widget->contentsRect();
    const int flags = int(widget->alignment()) | (widget->wordWrap() ? Qt::TextWordWrap : 0);
    return area.contains(QFontMetrics(widget->font()).boundingRect(area, flags, widget->text()));
}

// The first row of a picture of text that holds ink: a pixel well darker than the background.
int FirstInkRow(const QImage &image, QRgb background)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(background) - qGray(image.pixel(x, y)) > 100)
                return y;
    return -1;
}

// The first row of ink of a label as the toolkit draws it, and of its text set at the top of
// the same box with the same horizontal alignment and wrapping.
std::pair<int, int> FirstLineOfLabel(QLabel *label)
{
    const QImage drawn = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor background = label->palette().color(QPalette::Window);
    QImage atTop(drawn.size(), QImage::Format_RGB32);
    atTop.fill(background);
    {
        QPainter painter(&atTop);
        painter.setFont(label->font());
        painter.setPen(label->palette().color(QPalette::WindowText));
        const int flags = int(label->alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                          (label->wordWrap() ? Qt::TextWordWrap : 0);
        painter.drawText(label->contentsRect(), flags, label->text());
    }
    return {FirstInkRow(drawn, background.rgb()), FirstInkRow(atTop, background.rgb())};
}

// A program of the build beside this test, run headless with the dummy sound driver.
struct Run
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QString out;
    QString err;
};

QProcessEnvironment HeadlessEnvironment(const QString &runtimeDir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_LOGGING_RULES", "qt.qpa.*=false");
    environment.insert("SDL_AUDIODRIVER", "dummy");
    // The toolkit complains on standard error about a missing runtime folder, which says
    // nothing about the program.
    if (!environment.contains("XDG_RUNTIME_DIR"))
        environment.insert("XDG_RUNTIME_DIR", runtimeDir);
    return environment;
}

// The stand-in for the desktop's screen services (tests/harness/awake_service.py) on a bus of
// its own, and what it recorded.
class ScreenServices
{
public:
    ~ScreenServices()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Empty once the stand-in is ready; else why not, and whether because it cannot run
    // here at all (its tools are not installed).
    QString Start(const QStringList &options, bool *cannotRun)
    {
        record_ = dir_.filePath("record");
        process_.start("/usr/bin/python3",
                       QStringList{TARROWIN_HARNESS "/awake_service.py", record_} + options);
        QByteArray said;
        while (!said.contains("ready\n")) {
            if (!process_.waitForReadyRead(10000)) {
                process_.waitForFinished(1000);
                *cannotRun =
                    process_.error() == QProcess::FailedToStart ||
                    (process_.state() == QProcess::NotRunning && process_.exitCode() == 77);
                return "the stand-in for the screen services did not start: " +
                       process_.errorString() + " " + process_.readAllStandardError();
            }
            said += process_.readAllStandardOutput();
        }
        const QRegularExpressionMatch address =
            QRegularExpression("^address (\\S+)$", QRegularExpression::MultilineOption)
                .match(QString::fromUtf8(said));
        address_ = address.captured(1);
        return address.hasMatch() ? QString() : "no bus address in " + QString::fromUtf8(said);
    }

    QString Address() const { return address_; }

    // Each line's first two words: "hold portal", "release screensaver" and the like.
    QStringList Events() const
    {
        QFile file(record_);
        QStringList events;
        if (file.open(QIODevice::ReadOnly))
            for (const QString &line :
                 QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                events << line.section(' ', 0, 1);
        return events;
    }

private:
    QTemporaryDir dir_;
    QString record_;
    QString address_;
    QProcess process_;
};

} // namespace

class TstStartup : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        testsupport::InstallRecordingAudio();
        QVERIFY(runtimeDir_.isValid());
        QFile::setPermissions(runtimeDir_.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // ---- The title window ----------------------------------------------------------------

    void titleWindowAsStored()
    {
        FrmTitle &t = Title.Get();
        QCOMPARE(QString::fromStdString(t.Caption()),
                 QString("Tarrowin (Alternating bilateral visuals and tones for EMDR)"));
        QCOMPARE(platform::SurfaceOf(t)->size(), QSize(492, 251)); // 7380 x 3765 twips
        QCOMPARE(QString::fromStdString(t.Command1.Caption()), QString("Continue"));
        QVERIFY(!t.Label1.Caption().empty());
        QVERIFY(!t.Label2.Caption().empty());
        QVERIFY(!t.KeyPreview());
    }

    // The notice says where news of updates is to be found: one of its sentences speaks of
    // updates and names a place for them, the project's web page or a package's channel.
    void noticeSaysWhereUpdatesAreFound()
    {
        const QString notice = QString::fromStdString(Title->Label1.Caption());
        const QStringList sentences = notice.split(QRegularExpression("(?<=\\.)\\s+"));
        const QRegularExpression place("web page|web site|website|package");
        bool told = false;
        for (const QString &sentence : sentences)
            told = told ||
                   (sentence.contains("update", Qt::CaseInsensitive) && sentence.contains(place));
        QVERIFY2(told, qPrintable(notice));
    }

    void titleCanBeRead()
    {
        StartProgram();
        FrmTitle &t = *Title;
        QVERIFY(QTest::qWaitForWindowActive(platform::SurfaceOf(t)));
        auto *notice = qobject_cast<QLabel *>(platform::WidgetOf(t.Label1));
        auto *credit = qobject_cast<QLabel *>(platform::WidgetOf(t.Label2));
        QVERIFY(notice && credit);
        QVERIFY(notice->wordWrap());
        QVERIFY2(LabelCaptionFits(t.Label1), "the notice is cut");
        QVERIFY(credit->alignment().testFlag(Qt::AlignHCenter));
        QVERIFY2(LabelCaptionFits(t.Label2), "the credit line is cut");
        auto *button = qobject_cast<QPushButton *>(platform::WidgetOf(t.Command1));
        QVERIFY(button);
        QVERIFY(button->sizeHint().width() <= button->width());
        // Continue has the focus: Enter or the space bar leads on at once.
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Command1"));
        QTest::keyClick(button, Qt::Key_Return);
        QVERIFY(frmSettings.IsLoaded());
        QVERIFY(frmSettings->Visible());
        QVERIFY(!t.Visible());
    }

    // Every label of the three windows starts its text at the top of its box, the centred
    // ones too; none is set in the middle of its height.
    void labelsStartAtTheTop_data()
    {
        testsupport::TextRows("label", {{"title notice", "Title.Label1"},
                                        {"credit line, centred", "Title.Label2"},
                                        {"Speed", "frmSettings.Label1"},
                                        {"slider hint, centred", "frmSettings.Label2"},
                                        {"F1", "frmSettings.Label6"},
                                        {"settings notice", "frmSettings.Notice"},
                                        {"pass count, centred", "frmEMDR2.Passcount"},
                                        {"sound line", "frmEMDR2.SoundLine"}});
    }
    void labelsStartAtTheTop()
    {
        QFETCH(QString, label);
        const QString window = label.section('.', 0, 0);
        platform::Form &form = window == "Title" ? static_cast<platform::Form &>(Title.Get())
                               : window == "frmSettings"
                                   ? static_cast<platform::Form &>(frmSettings.Get())
                                   : testsupport::StillWindow();
        auto *widget = platform::SurfaceOf(form)->findChild<QLabel *>(label.section('.', 1));
        QVERIFY(widget);
        // The notice and the sound line are empty until there is something to tell.
        if (widget->text().isEmpty())
            widget->setText("No tones can be heard: the sound server does not answer");
        widget->setVisible(true);
        const auto [drawn, atTop] = FirstLineOfLabel(widget);
        QVERIFY(atTop >= 0 && atTop < QFontMetrics(widget->font()).height());
        QCOMPARE(drawn, atTop);
    }

    // ---- Start-up --------------------------------------------------------------------------

    void startShowsTheTitleAndNothingElse()
    {
        StartProgram();
        QVERIFY(Title.IsLoaded());
        QVERIFY(Title->Visible());
        QCOMPARE(platform::Forms(), std::vector<platform::Form *>{Title.Peek()});
        QCOMPARE(frmSettings.Peek(), nullptr);
        QCOMPARE(frmEMDR2.Peek(), nullptr);
        QVERIFY(!Var::PictureFile.has_value()); // nothing has run but the title
        QCOMPARE(int(Var::MoveType), 0);
        QVERIFY(Var::ToneFile.empty());
    }

    void titleContinueLeadsToTheSettings()
    {
        StartProgram();
        FrmTitle *title = Title.Peek();
        Title->Command1_Click();
        QCOMPARE(Title.Peek(), title);
        QVERIFY(title->IsLoaded());
        QVERIFY(!title->Visible());
        QVERIFY(frmSettings.IsLoaded());
        QVERIFY(frmSettings->Visible());
        QCOMPARE(frmEMDR2.Peek(), nullptr);
        // The settings window's load set the defaults.
        QCOMPARE(int(Var::MoveType), 1);
        QVERIFY(Var::PictureFile.has_value());
        QCOMPARE(Q(*Var::PictureFile), InFolder("/Pictures/Face.ico"));
        QCOMPARE(Q(Var::ToneFile), InFolder("/Tones/beep_r.wav"));
        QCOMPARE(int(Var::Speed), 0);
    }

    // ---- Ends, in this process -------------------------------------------------------------

    void closingTheTitleFirstEndsWithoutTheSettings()
    {
        StartProgram();
        QVERIFY(platform::SurfaceOf(*Title)->close());
        QVERIFY(platform::Forms().empty());
        QVERIFY(!frmSettings.IsLoaded());
        QCOMPARE(frmSettings.Peek(), nullptr);
        QCOMPARE(frmEMDR2.Peek(), nullptr);
    }

    void closingTheSettingsUnloadsTheHiddenTitle()
    {
        StartProgram();
        FrmTitle *title = Title.Peek();
        Title->Command1_Click();
        QCOMPARE(platform::Forms().size(), std::size_t(2));
        QVERIFY(platform::SurfaceOf(*frmSettings)->close());
        QVERIFY(platform::Forms().empty());
        QVERIFY(!title->IsLoaded());
        QCOMPARE(Title.Peek(), title); // unloaded, not made anew
        QCOMPARE(frmEMDR2.Peek(), nullptr);
        QCOMPARE(testsupport::EndRequests(), 0);
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
        QVERIFY(platform::SurfaceOf(*frmEMDR2)->close());
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
        QCOMPARE(testsupport::ScreenHolds(), (std::vector<bool>{true, false}));
        QCOMPARE(platform::Forms().size(), std::size_t(3)); // no unload handling ran
    }

    // ---- Ends, as whole programs -----------------------------------------------------------

    // The program itself, with nobody to click: it shows its title and waits there, saying
    // nothing on standard error.
    void programWaitsOnItsTitle()
    {
        QProcess process;
        process.setProcessEnvironment(HeadlessEnvironment(runtimeDir_.path()));
        process.start(QCoreApplication::applicationDirPath() + "/tarrowin", QStringList());
        QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
        const bool ended = process.waitForFinished(1500);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
        }
        QVERIFY2(!ended, qPrintable("it ended by itself with status " +
                                    QString::number(process.exitCode())));
        QVERIFY2(err.isEmpty(), qPrintable(err));
    }

    // Every way the program ends, each run on a bus of its own with the stand-in for the
    // desktop's screen services, which records what the program holds awake: nothing before
    // the first run, and nothing left held at the end. Where the portal refuses, the screen
    // saver service is asked instead and the refusal told once on standard error; where the
    // bus ends under the program, it goes on without a word.
    void endPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("services"); // the stand-in's options
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("events"); // what the stand-in recorded
        QTest::addColumn<QString>("problem");    // what standard error says, as a pattern
        const QString ended = "ended 0, no window loaded, settings window created\n";
        const QStringList heldOnce = {"hold portal", "release portal"};
        QTest::newRow("title closed before Continue")
            << "close-title" << QStringList()
            << "ended 0, no window loaded, settings window never created\n"
            << QStringList() << "";
        QTest::newRow("settings closed")
            << "close-settings" << QStringList() << ended << QStringList() << "";
        QTest::newRow("stimulation closed")
            << "close-stimulation" << QStringList() << ended << heldOnce << "";
        QTest::newRow("stimulation closed during a turn")
            << "close-during-turn" << QStringList() << "closing in a turn\n" + ended << heldOnce
            << "";
        // Quit ends at once: the event loop never gets back to report.
        QTest::newRow("quit while paused") << "quit" << QStringList() << "quitting\n"
                                           << heldOnce << "";
        QTest::newRow("settings and back")
            << "settings-and-back" << QStringList() << ended
            << QStringList{"hold portal", "release portal", "hold portal", "release portal"} << "";
        // The bus lets go of what a program held when the signal has ended it.
        QTest::newRow("ended by a signal")
            << "signal" << QStringList() << "" << QStringList{"hold portal", "drop portal"} << "";
        QTest::newRow("no portal: the screen saver service")
            << "settings-and-back" << QStringList{"--without", "portal"} << ended
            << QStringList{"hold screensaver", "release screensaver", "hold screensaver",
                           "release screensaver"}
            << "";
        QTest::newRow("the portal refuses")
            << "settings-and-back" << QStringList{"--refuse", "portal"} << ended
            << QStringList{"refuse portal", "hold screensaver", "release screensaver",
                           "refuse portal", "hold screensaver", "release screensaver"}
            << "^tarrowin: The screen may dim or lock during the stimulation: the desktop did "
               "not hold it awake \\(org.freedesktop.DBus.Error.AccessDenied: [^\\n]+\\)\\n$";
        QTest::newRow("the bus ends during the run")
            << "settings-and-back" << QStringList{"--end-bus-after-hold"} << ended
            << QStringList{"hold portal", "bus ended"} << "";
    }
    void endPaths()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, services);
        QFETCH(QString, output);
        QFETCH(QStringList, events);
        QFETCH(QString, problem);
        ScreenServices standIn;
        bool cannotRun = false;
        if (const QString why = standIn.Start(services, &cannotRun); !why.isEmpty()) {
            if (cannotRun)
                QSKIP(qPrintable(why));
            QFAIL(qPrintable(why));
        }
        QProcessEnvironment environment = HeadlessEnvironment(runtimeDir_.path());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", standIn.Address());
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationDirPath() + "/endpaths", {path});
        QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
        const bool finished = process.waitForFinished(20000);
        if (!finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(finished, qPrintable("it did not end; " + err));
        if (path == "signal") {
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        } else {
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
        }
        if (problem.isEmpty())
            QVERIFY2(err.isEmpty(), qPrintable(err));
        else
            QVERIFY2(QRegularExpression(problem).match(err).hasMatch(), qPrintable(err));
        QCOMPARE(out, output);
        // A caller's leaving reaches the stand-in after the program has ended.
        // (A plain wait: newer Qt's retrying compare narrows its own timeout and fails a build
        // with warnings as errors.)
        (void)QTest::qWaitFor([&] { return standIn.Events() == events; }, 5000);
        QCOMPARE(standIn.Events(), events);
    }

private:
    QTemporaryDir runtimeDir_;
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
