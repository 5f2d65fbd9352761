// Bad pictures and tones, tried for real: every file of the corpus that make_corpus.py writes
// goes through the settings window's Change Picture or Change Tone, then Continue, then the
// stimulation window's ticks to its turns with the tones on, through the real sound device
// (SDL's dummy output unless the environment names another). Nothing may end the program, a
// file that cannot be used is named in plain words, and the stimulation keeps moving.
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/sound/SdlAudioDevice.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#ifndef TARROWIN_CORPUS_SCRIPT
#error "TARROWIN_CORPUS_SCRIPT names make_corpus.py"
#endif

using platform::CommonDialog;
using testsupport::FreshProgram;
using testsupport::Messages;
using testsupport::Q;

namespace {

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when it is not there.
long StatusKb(const std::string &field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Starts the peak resident memory (VmHWM) again from what is resident now.
bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

// What the stimulation did over the ticks of one run.
struct RunResult
{
    int startEndTurns = 0;
    int farEndTurns = 0;
    int ticks = 0;
    bool moved = false;   // the picture changed place between turns
    bool sounded = false; // some voice of the device was sounding right after a tone tick
};

// Ticks the motion and tone timers, as the program's timers would, until the picture has
// turned at each end `turns` times (or a limit of ticks is reached).
RunResult TickToTurns(FrmEMDR2 &w, const platform::SdlAudioDevice &device, int turns)
{
    RunResult run;
    for (; run.ticks < 2000 && (run.startEndTurns < turns || run.farEndTurns < turns);
         ++run.ticks) {
        const float left = w.Picture1.Left();
        const float top = w.Picture1.Top();
        w.Timer1_Timer();
        const std::int16_t request = Var::ToneRequest;
        if (request == 1)
            ++run.startEndTurns;
        if (request == 2)
            ++run.farEndTurns;
        if (request == 0 && (w.Picture1.Left() != left || w.Picture1.Top() != top))
            run.moved = true;
        w.Timer2_Timer();
        if (request != 0) {
            for (int voice = 0; voice < 8; ++voice)
                run.sounded = run.sounded || device.Sounding(voice);
        }
    }
    return run;
}

QString AllNotices()
{
    QStringList all;
    for (const std::string &text : notices::Told())
        all << Q(text);
    return all.join(" | ");
}

// The notice that names a file, if there is one.
std::optional<std::string> NoticeNaming(const std::string &path)
{
    for (const std::string &text : notices::Told()) {
        if (text.find("\"" + path + "\"") != std::string::npos)
            return text;
    }
    return std::nullopt;
}

} // namespace

class TstBadFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> spare_; // the corpus, when the build folder cannot hold it
    QString corpus_;
    platform::SdlAudioDevice *device_ = nullptr;

    std::string Corpus(const QString &relative) const
    {
        return QDir(corpus_).filePath(relative).toStdString();
    }

    // The settings window as the practitioner has it, and the stimulation started from it
    // with its timers held still.
    FrmEMDR2 &StartRun(FrmSettings &settings)
    {
        // The tone of a choice may still be sounding; what sounds from here on is the run's.
        for (int voice = 0; voice < 8; ++voice)
            device_->Stop(voice);
        settings.Soundtones.SetValue(1);
        settings.cmdContinue_Click();
        FrmEMDR2 &w = frmEMDR2.Get();
        w.Timer1.SetEnabled(false);
        w.Timer2.SetEnabled(false);
        return w;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The real device, without a sound server: SDL's dummy output mixes and keeps time
        // like a sound card.
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
            qputenv("SDL_AUDIODRIVER", "dummy");
        // The corpus goes beside the test program. A "_" in that folder's path would come
        // before the one of each tone pair's name and make every pair point elsewhere, so
        // then it goes into a temporary folder instead.
        corpus_ = QDir(QCoreApplication::applicationDirPath()).filePath("corpus");
        if (corpus_.contains('_')) {
            spare_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tarrowin-corpus-XXXXXX");
            QVERIFY(spare_->isValid());
            corpus_ = spare_->path();
            QVERIFY2(!corpus_.contains('_'), qPrintable("no folder without a \"_\": " + corpus_));
        }
        QProcess script;
        script.start("python3", {TARROWIN_CORPUS_SCRIPT, corpus_});
        QVERIFY(script.waitForFinished(120'000));
        QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0,
                 script.readAllStandardError().constData());
        // The windows once, so that what they load on first use (fonts and the like) does
        // not count as memory taken by the first file tried.
        init();
        frmSettings->cmdContinue_Click();
        cleanup();
    }

    void init()
    {
        FreshProgram();
        auto device = std::make_unique<platform::SdlAudioDevice>();
        device_ = device.get();
        platform::seams::SetAudioDevice(std::move(device));
        QVERIFY2(device_->DeviceError().empty(), device_->DeviceError().c_str());
    }
    void cleanup()
    {
        FreshProgram();
        device_ = nullptr;
    }

    // ------------------------------------------------------------------------------------
    // Pictures

    void pictures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("width"); // in pixels when shown; 0 when it is refused
        QTest::addColumn<QString>("reason");
        const QString longName =
            QString("a very long name of a file chosen by the practitioner ").repeated(4);
        QTest::newRow("bitmap") << "pictures/good.bmp" << 32 << "";
        QTest::newRow("icon") << "pictures/good.ico" << 32 << "";
        QTest::newRow("icon of three sizes") << "pictures/several-sizes.ico" << 32 << "";
        QTest::newRow("wide bitmap") << "pictures/wide-48x24.bmp" << 48 << "";
        QTest::newRow("blanks in the path")
            << "pictures/with blanks/my own picture.bmp" << 32 << "";
        QTest::newRow("letters beyond ASCII") << "pictures/Ångström ü/Ångström ü.ico" << 32 << "";
        QTest::newRow("\"_\" in a folder") << "pictures/under_score folder/face.bmp" << 32 << "";
        QTest::newRow("names of 200 and more characters")
            << "pictures/" + longName.trimmed().left(200) + "/" + longName.left(210) + ".bmp" << 32
            << "";
        QTest::newRow("empty bitmap") << "pictures/empty.bmp" << 0 << "the file is empty";
        QTest::newRow("empty icon") << "pictures/empty.ico" << 0 << "the file is empty";
        QTest::newRow("bitmap cut in its header")
            << "pictures/truncated-header.bmp" << 0 << "header is damaged";
        QTest::newRow("bitmap cut in its pixels")
            << "pictures/truncated-pixels.bmp" << 0
            << "the file is cut short (it holds 354 of the 3126 bytes";
        QTest::newRow("icon cut short") << "pictures/truncated.ico" << 0 << "cannot be decoded";
        QTest::newRow("icon with no image") << "pictures/no-image.ico" << 0 << "holds no image";
        QTest::newRow("text named .bmp") << "pictures/text.bmp" << 0 << "not a bitmap or icon file";
        QTest::newRow("header claiming 60000 x 60000")
            << "pictures/claims-60000x60000.bmp" << 0 << "60000 x 60000 pixels, larger than";
        QTest::newRow("larger than the screen")
            << "pictures/larger-than-screen.bmp" << 0 << "2500 x 1500 pixels, larger than";
        QTest::newRow("PNG named .ico")
            << "pictures/png-named.ico" << 0 << "it is a PNG file, not a bitmap or icon file";
        QTest::newRow("no such file") << "pictures/not-there.bmp" << 0 << "the file does not exist";
        QTest::newRow("a folder") << "pictures/with blanks" << 0 << "it is a folder";
    }
    void pictures()
    {
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(QString, reason);
        const std::string path = Corpus(file);
        QVERIFY(ResetPeakMemory());
        const long residentBefore = StatusKb("VmRSS");

        FrmSettings &settings = frmSettings.Get();
        const std::string before = Var::PictureFile.value();
        platform::seams::AnswerFileDialog(path);
        settings.Command1_Click();
        if (width > 0) {
            QCOMPARE(Q(*Var::PictureFile), Q(path));
            QCOMPARE(settings.Image1.GetPicture().WidthPixels(), width);
            QVERIFY(Messages().empty());
        } else {
            QCOMPARE(Q(*Var::PictureFile), Q(before));
            QCOMPARE(Messages().size(), std::size_t(1));
            const QString message = Q(Messages().front());
            QVERIFY2(message.contains("\"" + Q(path) + "\""), qPrintable(message));
            QVERIFY2(message.contains(reason), qPrintable(message));
        }

        FrmEMDR2 &w = StartRun(settings);
        // The run shows the chosen picture, or the one it had before a refused one.
        const int shown = width > 0 ? width : 32;
        QCOMPARE(w.Picture1.GetPicture().WidthPixels(), shown);
        QCOMPARE(w.Picture1.Width(), float(shown * platform::TwipsPerPixel()));
        const RunResult run = TickToTurns(w, *device_, 2);
        QVERIFY(run.moved);
        QCOMPARE(run.startEndTurns, 2);
        QCOMPARE(run.farEndTurns, 2);
        QVERIFY(run.sounded);
        // A refused picture is told about once, at the choice; the run does not repeat it.
        QCOMPARE(Messages().size(), std::size_t(width > 0 ? 0 : 1));

        // Whatever a header claims, nothing near its size is ever allocated.
        const long peak = StatusKb("VmHWM");
        QVERIFY(peak > 0 && residentBefore > 0);
        // 12 MB: less than one decoded copy of the 2500 x 1500 picture (15 MB).
        QVERIFY2(peak - residentBefore < 12 * 1024,
                 qPrintable(QStringLiteral("peak resident memory %1 kB, %2 kB before")
                                .arg(peak)
                                .arg(residentBefore)));
    }

    // A good picture that is gone by the time the run starts: the stimulation window tells
    // which one and runs with the picture it had.
    void pictureGoneBeforeContinue()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("soon gone.bmp");
        QVERIFY(QFile::copy(Q(Corpus("pictures/wide-48x24.bmp")), path));
        FrmSettings &settings = frmSettings.Get();
        platform::seams::AnswerFileDialog(path.toStdString());
        settings.Command1_Click();
        QCOMPARE(Q(*Var::PictureFile), path);
        QVERIFY(QFile::remove(path));
        FrmEMDR2 &w = StartRun(settings);
        QCOMPARE(Messages().size(), std::size_t(1));
        QVERIFY2(Q(Messages().front()).contains("\"" + path + "\""), Messages().front().c_str());
        QVERIFY2(Q(Messages().front()).contains("does not exist"), Messages().front().c_str());
        QCOMPARE(Q(*Var::PictureFile), path);
        QCOMPARE(w.Picture1.GetPicture().WidthPixels(), 32);
        const RunResult run = TickToTurns(w, *device_, 2);
        QVERIFY(run.moved);
        QCOMPARE(run.startEndTurns, 2);
        QCOMPARE(run.farEndTurns, 2);
    }

    // ------------------------------------------------------------------------------------
    // Tones

    void tones_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("left"); // the pair the run plays
        QTest::addColumn<QString>("right");
        QTest::addColumn<bool>("chosenPlays"); // the chosen file sounds when it is chosen
        QTest::addColumn<bool>("plays");       // the pair sounds at the turns
        QTest::addColumn<QString>("reason");   // otherwise, the words of the notices
        const auto pair = [](const QString &stem) {
            return std::make_tuple("tones/" + stem + "_l.wav", "tones/" + stem + "_l.wav",
                                   "tones/" + stem + "_r.wav");
        };
        const auto row = [&](const char *name, const QString &stem, bool plays,
                             const QString &reason) {
            const auto [file, left, right] = pair(stem);
            QTest::newRow(name) << file << left << right << plays << plays << reason;
        };
        row("16-bit stereo 44.1 kHz", "good", true, "");
        row("8-bit", "pcm8", true, "");
        row("24-bit", "pcm24", true, "");
        row("32-bit floating point", "float32", true, "");
        row("mono", "mono", true, "");
        row("22.05 kHz", "rate22050", true, "");
        row("96 kHz", "rate96000", true, "");
        row("five minutes", "five-minutes", true, "");
        row("data chunk claiming more than follows", "claims-more-data", true, "");
        row("blanks in the path", "with blanks/my tone", true, "");
        row("letters beyond ASCII", "Ångström ü/Ångström ü", true, "");
        const QString longName =
            QString("a very long name of a file chosen by the practitioner ").repeated(4);
        row("names of 200 and more characters",
            longName.trimmed().left(200) + "/" + longName.left(210), true, "");
        row("empty", "empty", false, "the file is empty");
        // Files that SDL2_mixer 2.8 would free twice, ending the program: refused before it
        // sees them.
        row("empty data chunk, 22.05 kHz", "empty-data-22050", false,
            "the file holds no sound: its data chunk is empty");
        row("empty data chunk, 48 kHz", "empty-data-48000", false,
            "the file holds no sound: its data chunk is empty");
        row("empty data chunk, mono 44.1 kHz", "empty-data-mono", false,
            "the file holds no sound: its data chunk is empty");
        row("data chunk shorter than one sample", "data-shorter-than-a-sample", false,
            "the file holds no sound: its data chunk is shorter than one sample");
        row("one frame at 48 kHz", "one-frame-48000", false,
            "the file holds less than a millisecond of sound");
        row("cut in its header", "truncated-header", false, "not a wave file the program can play");
        row("text named .wav", "text", false, "not a wave file the program can play");
        row("no such pair", "not-there", false, "the file does not exist");
        // The first "_" of the whole path names the pair, here the folder's: the chosen file
        // sounds, the pair it names does not exist.
        QTest::newRow("\"_\" in a folder")
            << "tones/under_score folder/tone.wav"
            << "tones/under_l.wav"
            << "tones/under_r.wav" << true << false << "the file does not exist";
    }
    void tones()
    {
        QFETCH(QString, file);
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(bool, chosenPlays);
        QFETCH(bool, plays);
        QFETCH(QString, reason);
        const std::string path = Corpus(file);

        FrmSettings &settings = frmSettings.Get();
        platform::seams::AnswerFileDialog(path);
        settings.Command2_Click();
        // The choice stands whether or not the file can be played.
        QCOMPARE(Q(Var::ToneFile), Q(path));
        const std::optional<std::string> choiceNotice = NoticeNaming(path);
        if (chosenPlays) {
            QVERIFY2(!choiceNotice, choiceNotice.value_or("").c_str());
        } else {
            QVERIFY2(choiceNotice, qPrintable("no notice names " + Q(path)));
            QVERIFY2(Q(*choiceNotice).contains(reason), choiceNotice->c_str());
        }

        FrmEMDR2 &w = StartRun(settings);
        QCOMPARE(Q(Var::ToneFiles[0]), Q(Corpus(left)));
        QCOMPARE(Q(Var::ToneFiles[1]), Q(Corpus(right)));
        const RunResult run = TickToTurns(w, *device_, 3);
        QVERIFY(run.moved);
        QCOMPARE(run.startEndTurns, 3);
        QCOMPARE(run.farEndTurns, 3);
        if (plays) {
            QVERIFY2(notices::Told().empty(), qPrintable(AllNotices()));
            QVERIFY(run.sounded);
        } else {
            // Each file that cannot be played is named once, with the reason, however many
            // turns asked for it.
            for (const std::string &named : {Var::ToneFiles[0], Var::ToneFiles[1]}) {
                const std::optional<std::string> notice = NoticeNaming(named);
                QVERIFY2(notice, qPrintable("no notice names " + Q(named)));
                QVERIFY2(Q(*notice).contains(reason), notice->c_str());
            }
            QVERIFY(notices::Told().size() <= 3);
            QVERIFY(!run.sounded);
            QVERIFY(settings.Notice.Visible());
        }
        // A file is handed to the decoder once, not at every turn: a five-minute tone decoded
        // at each turn would hold the picture still for as long as the decoding takes.
        QVERIFY2(device_->DecodeCount() <= 3, qPrintable(QString::number(device_->DecodeCount())));
    }

    // A tone pair deleted between its choice and Continue: the choice stands, the run goes on
    // silent and names the files.
    void toneGoneBeforeContinue()
    {
        QTemporaryDir dir(QDir::tempPath() + "/tarrowin-tones-XXXXXX");
        QVERIFY(dir.isValid());
        if (dir.path().contains('_'))
            QSKIP("the temporary folder's path holds a \"_\"");
        const QString leftFile = dir.filePath("gone_l.wav");
        const QString rightFile = dir.filePath("gone_r.wav");
        QVERIFY(QFile::copy(Q(Corpus("tones/good_l.wav")), leftFile));
        QVERIFY(QFile::copy(Q(Corpus("tones/good_r.wav")), rightFile));
        FrmSettings &settings = frmSettings.Get();
        platform::seams::AnswerFileDialog(rightFile.toStdString());
        settings.Command2_Click();
        QVERIFY(notices::Told().empty());
        QVERIFY(QFile::remove(leftFile));
        QVERIFY(QFile::remove(rightFile));
        FrmEMDR2 &w = StartRun(settings);
        QCOMPARE(Q(Var::ToneFile), rightFile);
        const RunResult run = TickToTurns(w, *device_, 2);
        QVERIFY(run.moved);
        QCOMPARE(run.startEndTurns, 2);
        QCOMPARE(run.farEndTurns, 2);
        QVERIFY(!run.sounded);
        for (const QString &gone : {leftFile, rightFile}) {
            const std::optional<std::string> notice = NoticeNaming(gone.toStdString());
            QVERIFY2(notice, qPrintable("no notice names " + gone));
            QVERIFY2(Q(*notice).contains("does not exist"), notice->c_str());
        }
    }
};

QTEST_MAIN(TstBadFiles)
#include "tst_badfiles.moc"
