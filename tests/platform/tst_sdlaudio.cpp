// The real audio device over SDL2_mixer. Tone files are made here, in a temporary folder.
// Unless the environment names a driver, SDL's dummy output is used: it mixes and keeps
// time like a sound card, so voices really sound and stop, without a sound server. The case
// without a sound server runs this program again with the PulseAudio output pointed at
// nothing.
#include "platform/Seams.h"
#include "platform/sound/SdlAudioDevice.h"
#include "platform/sound/SoundOutput.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

using platform::SdlAudioDevice;

namespace {

const char kChildVariable[] = "TARROWIN_SDLAUDIO_NO_SERVER_CHILD";

void PutLe(QByteArray &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A canonical 16-bit PCM wave file of a sine tone, stereo at the device rate.
QByteArray WaveBytes(double seconds, double frequency = 440.0)
{
    const std::uint32_t rate = SdlAudioDevice::kRate;
    const std::uint32_t channels = 2;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    const std::uint32_t dataBytes = frames * channels * 2;
    QByteArray out;
    out.append("RIFF");
    PutLe(out, 36 + dataBytes, 4);
    out.append("WAVEfmt ");
    PutLe(out, 16, 4);
    PutLe(out, 1, 2); // PCM
    PutLe(out, channels, 2);
    PutLe(out, rate, 4);
    PutLe(out, rate * channels * 2, 4);
    PutLe(out, channels * 2, 2);
    PutLe(out, 16, 2);
    out.append("data");
    PutLe(out, dataBytes, 4);
    for (std::uint32_t f = 0; f < frames; ++f) {
        const double s = std::sin(2.0 * std::numbers::pi * frequency * f / rate);
        const auto sample = static_cast<std::int16_t>(std::lround(8000.0 * s));
        for (std::uint32_t c = 0; c < channels; ++c)
            PutLe(out, static_cast<std::uint16_t>(sample), 2);
    }
    return out;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

std::string Std(const QString &text)
{
    return text.toStdString();
}

// Waits for the mixer thread to take up or let go of a voice. The limit is only reached when
// it never does: it is wide enough for a loaded machine and a sanitized build.
bool SoundingWithin(const SdlAudioDevice &device, int voice, bool wanted, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (device.Sounding(voice) != wanted) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(2);
    }
    return true;
}

} // namespace

class TestSdlAudio : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString Path(const char *name) const { return dir_.filePath(QString::fromLatin1(name)); }
    // A long tone, so that it is still sounding while a test looks at it.
    QString LongTone()
    {
        const QString path = Path("long.wav");
        if (!QFile::exists(path))
            WriteFile(path, WaveBytes(3.0));
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
            qputenv("SDL_AUDIODRIVER", "dummy");
    }
    void init() { testsupport::FreshSeams(); }

    // More voices than the mixer has channels from the start, some made before and some
    // after the device is opened: the last one must still sound.
    void manyVoicesEachSound()
    {
        SdlAudioDevice device;
        std::vector<int> voices;
        for (int i = 0; i < 5; ++i)
            voices.push_back(device.AllocateVoice());
        QCOMPARE(device.DeviceError(), std::string());
        for (int i = 0; i < 10; ++i)
            voices.push_back(device.AllocateVoice());
        for (int i = 0; i < static_cast<int>(voices.size()); ++i)
            QCOMPARE(voices[static_cast<std::size_t>(i)], i);
        const int last = voices.back();
        QVERIFY(device.Open(last, Std(LongTone())).ok);
        device.Play(last);
        QVERIFY(SoundingWithin(device, last, true));
        for (int voice : voices)
            QCOMPARE(device.Sounding(voice), voice == last);
    }

    void badFileIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("make"); // "nothing", "file" with the content, or "folder"
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("decodes");
        const QString notWave = QStringLiteral("not a wave file the program can play: ");
        QTest::newRow("missing") << "missing.wav"
                                 << "nothing" << QByteArray() << "the file does not exist" << 0;
        QTest::newRow("missing folder")
            << "nowhere/tone.wav"
            << "nothing" << QByteArray() << "the file does not exist" << 0;
        QTest::newRow("no name") << ""
                                 << "nothing" << QByteArray() << "no file was named" << 0;
        QTest::newRow("empty") << "empty.wav"
                               << "file" << QByteArray() << "the file is empty" << 0;
        QTest::newRow("text") << "text.wav"
                              << "file" << QByteArray("This is not a tone.\n") << notWave << 1;
        QTest::newRow("cut short") << "short.wav"
                                   << "file" << WaveBytes(0.1).left(30) << notWave << 1;
        QTest::newRow("folder") << "folder.wav"
                                << "folder" << QByteArray() << "it is a folder, not a file" << 0;
    }

    // The reason is in plain words, nothing is left open on the voice, and Play stays silent
    // even when a good file was open on the voice before.
    void badFileIsRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, make);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QFETCH(int, decodes);
        const QString path = name.isEmpty() ? QString() : Path(qPrintable(name));
        if (make == QLatin1String("file"))
            QVERIFY(WriteFile(path, content));
        else if (make == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));

        SdlAudioDevice device;
        const int fresh = device.AllocateVoice();
        const int used = device.AllocateVoice();
        QVERIFY(device.Open(used, Std(LongTone())).ok);

        const platform::AudioResult result = device.Open(fresh, Std(path));
        QVERIFY(!result.ok);
        QVERIFY2(QString::fromStdString(result.error).startsWith(reason), result.error.c_str());
        if (reason.endsWith(QLatin1String(": ")))
            QVERIFY2(result.error.size() > static_cast<std::size_t>(reason.size()),
                     "no reason after the colon");
        QCOMPARE(device.DecodeCount(), 1 + decodes);
        device.Play(fresh);
        QTest::qWait(30);
        QVERIFY(!device.Sounding(fresh));

        QVERIFY(!device.Open(used, Std(path)).ok);
        device.Play(used);
        QTest::qWait(30);
        QVERIFY(!device.Sounding(used));

        const platform::AudioResult sound = device.Sound(fresh, Std(path));
        QVERIFY(!sound.ok);
        QVERIFY2(QString::fromStdString(sound.error).startsWith(reason), sound.error.c_str());
        QVERIFY(!device.Sounding(fresh));
    }

    // A refused file is not read through again on every tone; once it is put right it opens.
    void refusedFileIsRememberedUntilItChanges()
    {
        const QString path = Path("fixed-later.wav");
        QVERIFY(WriteFile(path, QByteArray(4000, 'x')));
        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        const platform::AudioResult first = device.Open(voice, Std(path));
        QVERIFY(!first.ok);
        for (int i = 0; i < 5; ++i) {
            const platform::AudioResult again = device.Open(voice, Std(path));
            QVERIFY(!again.ok);
            QCOMPARE(again.error, first.error);
        }
        QCOMPARE(device.DecodeCount(), 1);
        QCOMPARE(device.HeldChunkCount(), 0);

        QVERIFY(WriteFile(path, WaveBytes(0.2)));
        QVERIFY(device.Open(voice, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 2);
        QCOMPARE(device.HeldChunkCount(), 1);
        device.Play(voice);
        QVERIFY(SoundingWithin(device, voice, true));

        // Gone again: the voice has nothing open, and the old samples are let go.
        QVERIFY(QFile::remove(path));
        const platform::AudioResult gone = device.Open(voice, Std(path));
        QVERIFY(!gone.ok);
        QCOMPARE(gone.error, std::string("the file does not exist"));
        device.Close(voice);
        QCOMPARE(device.HeldChunkCount(), 0);
    }

    // Open is silent; Play sounds from the start; Stop silences but keeps the file open;
    // Close lets it go.
    void openPlayStopClose()
    {
        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        const platform::AudioResult result = device.Open(voice, Std(LongTone()));
        QVERIFY(result.ok);
        QCOMPARE(result.error, std::string());
        QTest::qWait(30);
        QVERIFY(!device.Sounding(voice));
        device.Play(voice);
        QVERIFY(SoundingWithin(device, voice, true));
        device.Stop(voice);
        QVERIFY(!device.Sounding(voice));
        device.Play(voice);
        QVERIFY(SoundingWithin(device, voice, true));
        device.Close(voice);
        QVERIFY(!device.Sounding(voice));
        device.Play(voice);
        QTest::qWait(30);
        QVERIFY(!device.Sounding(voice));
    }

    // A tone plays once and ends by itself.
    void toneEndsByItself()
    {
        const QString path = Path("blip.wav");
        QVERIFY(WriteFile(path, WaveBytes(0.05)));
        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        QVERIFY(device.Sound(voice, Std(path)).ok);
        QVERIFY(SoundingWithin(device, voice, true, 2000));
        QVERIFY(SoundingWithin(device, voice, false, 10000));
    }

    void unchangedFileIsServedFromCache()
    {
        const QString path = Path("cached.wav");
        QVERIFY(WriteFile(path, WaveBytes(0.1)));
        SdlAudioDevice device;
        const int a = device.AllocateVoice();
        const int b = device.AllocateVoice();
        for (int i = 0; i < 20; ++i) {
            device.Close(i % 2 ? b : a);
            QVERIFY(device.Open(i % 2 ? b : a, Std(path)).ok);
        }
        for (int i = 0; i < 5; ++i) {
            QVERIFY(device.Sound(a, Std(path)).ok);
            QVERIFY(SoundingWithin(device, a, true));
        }
        QCOMPARE(device.DecodeCount(), 1);
        QCOMPARE(device.HeldChunkCount(), 1);
        // A second file is a second entry, not a replacement of the first.
        QVERIFY(device.Open(b, Std(LongTone())).ok);
        QVERIFY(device.Open(a, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 2);
        QCOMPARE(device.HeldChunkCount(), 2);
    }

    void changedFileIsDecodedAgain_data()
    {
        testsupport::TextRows("how", {{"different size", "size"},
                                      {"same size, later time", "time"},
                                      {"replaced by another file, same size and time", "replace"}});
    }

    void changedFileIsDecodedAgain()
    {
        QFETCH(QString, how);
        const QString path = Path("changing.wav");
        QFile::remove(path);
        QVERIFY(WriteFile(path, WaveBytes(0.1, 440)));
        // A whole second, so that the replacement below can be given exactly the same time.
        const QDateTime stamp =
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 60);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        }

        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        QVERIFY(device.Open(voice, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 1);

        if (how == QLatin1String("size")) {
            QVERIFY(WriteFile(path, WaveBytes(0.2, 440)));
        } else if (how == QLatin1String("time")) {
            QVERIFY(WriteFile(path, WaveBytes(0.1, 660)));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(stamp.addSecs(5), QFileDevice::FileModificationTime));
        } else {
            const QString other = Path("other.wav");
            QVERIFY(WriteFile(other, WaveBytes(0.1, 660)));
            QFile file(other);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
            file.close();
            QVERIFY(QFileInfo(other).lastModified() == stamp);
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::rename(other, path));
        }

        QVERIFY(device.Open(voice, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 2);
        // The voice let go of the old samples when it opened the new ones.
        QCOMPARE(device.HeldChunkCount(), 1);
        QVERIFY(device.Open(voice, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 2);
    }

    // A file that changes while its old samples are still sounding on another voice: that
    // tone goes on to its end, and the old samples are let go once it is closed.
    void oldSamplesOutliveTheirTone()
    {
        const QString path = Path("edited.wav");
        QVERIFY(WriteFile(path, WaveBytes(3.0, 440)));
        SdlAudioDevice device;
        const int a = device.AllocateVoice();
        const int b = device.AllocateVoice();
        QVERIFY(device.Sound(a, Std(path)).ok);
        QVERIFY(SoundingWithin(device, a, true));

        QVERIFY(WriteFile(path, WaveBytes(2.0, 660)));
        QVERIFY(device.Open(b, Std(path)).ok);
        QCOMPARE(device.DecodeCount(), 2);
        QCOMPARE(device.HeldChunkCount(), 2);
        QTest::qWait(50);
        QVERIFY(device.Sounding(a));

        device.Close(a);
        QCOMPARE(device.HeldChunkCount(), 1);
        device.Play(b);
        QVERIFY(SoundingWithin(device, b, true));
    }

    void voicesAreIndependent()
    {
        SdlAudioDevice device;
        const int a = device.AllocateVoice();
        const int b = device.AllocateVoice();
        QVERIFY(device.Sound(a, Std(LongTone())).ok);
        QVERIFY(device.Sound(b, Std(LongTone())).ok);
        QVERIFY(SoundingWithin(device, a, true));
        QVERIFY(SoundingWithin(device, b, true));

        // Voices that do not exist touch nothing, least of all every voice at once.
        for (int bogus : {-1, -2, 2, 99}) {
            device.Stop(bogus);
            device.Close(bogus);
            device.Play(bogus);
            QVERIFY(!device.Open(bogus, Std(LongTone())).ok);
            QVERIFY(!device.Sound(bogus, Std(LongTone())).ok);
        }
        QVERIFY(device.Sounding(a));
        QVERIFY(device.Sounding(b));

        device.Stop(a);
        QVERIFY(!device.Sounding(a));
        QVERIFY(device.Sounding(b));
        device.Play(a);
        QVERIFY(SoundingWithin(device, a, true));
        device.Close(b);
        QVERIFY(!device.Sounding(b));
        QVERIFY(device.Sounding(a));
    }

    void voicesNeverOpened_data()
    {
        testsupport::YesNoRows("deviceOpenedFirst", "before the device is opened",
                               "after the device is opened");
    }

    void voicesNeverOpened()
    {
        QFETCH(bool, deviceOpenedFirst);
        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        if (deviceOpenedFirst)
            QCOMPARE(device.DeviceError(), std::string());
        device.Play(voice);
        device.Stop(voice);
        device.Close(voice);
        device.Play(voice);
        QTest::qWait(20);
        QVERIFY(!device.Sounding(voice));
        QCOMPARE(device.DecodeCount(), 0);
        QCOMPARE(device.HeldChunkCount(), 0);
    }

    // Every call of a running stimulation stays far below a millisecond: nothing waits for a
    // tone, the device or the disk beyond a stat.
    void callsDoNotWait()
    {
        SdlAudioDevice device;
        const int a = device.AllocateVoice();
        const int b = device.AllocateVoice();
        const std::string path = Std(LongTone());
        QVERIFY(device.Open(a, path).ok);
        QVERIFY(device.Open(b, path).ok);
        std::vector<qint64> ns;
        QElapsedTimer timer;
        for (int i = 0; i < 200; ++i) {
            const int voice = i % 2 ? b : a;
            timer.start();
            device.Stop(i % 2 ? a : b);
            device.Close(voice);
            const bool ok = device.Open(voice, path).ok;
            device.Play(voice);
            ns.push_back(timer.nsecsElapsed());
            QVERIFY(ok);
        }
        QCOMPARE(device.DecodeCount(), 1);
        std::sort(ns.begin(), ns.end());
        const qint64 median = ns[ns.size() / 2];
        const qint64 ninetieth = ns[ns.size() * 9 / 10];
        qInfo("stop+close+open+play: median %lld us, 90th percentile %lld us, worst %lld us",
              median / 1000, ninetieth / 1000, ns.back() / 1000);
        // Ten times what they take on a quiet machine: a call that waited for the mixer, a
        // decode or the disk would still take longer. The figures themselves are the bench's.
        QVERIFY2(median < 2'500'000, "a tone's calls took 2.5 milliseconds or more");
        QVERIFY2(ninetieth < 10'000'000, "a tone's calls often took 10 milliseconds or more");
    }

    void withoutSoundServer()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("noServerChild")});
        QVERIFY(child.waitForStarted(10'000));
        const bool finished = child.waitForFinished(30'000);
        const QByteArray output = child.readAll();
        if (!finished)
            child.kill();
        QVERIFY2(finished, "the device waited for a sound server that is not there");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
        QVERIFY2(output.contains("PASS   : TestSdlAudio::noServerChild()"), output.constData());
    }

    // Run by withoutSoundServer in a program of its own, with no sound server to reach.
    void noServerChild()
    {
        if (qEnvironmentVariableIsEmpty(kChildVariable))
            QSKIP("run by withoutSoundServer");
        const QString good = Path("good.wav");
        QVERIFY(WriteFile(good, WaveBytes(0.1)));

        SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        QCOMPARE(voice, 0);
        QElapsedTimer timer;
        timer.start();
        const std::string problem = device.DeviceError();
        qInfo("device error: %s", problem.c_str());
        QVERIFY(timer.elapsed() < 5'000);
        QVERIFY(!problem.empty());
        QVERIFY2(problem.find("No tones can be heard") == 0, problem.c_str());
        // A sentence that carries the library's reason in brackets.
        QVERIFY2(problem.size() > 3 && problem.substr(problem.size() - 2) == ").", problem.c_str());
        QVERIFY2(problem.find(" ()") == std::string::npos, "the reason is missing");
        QVERIFY2(problem.find("no reason was given") == std::string::npos, "the reason is missing");

        // There is no second try, not even once an output would be there.
        qputenv("SDL_AUDIODRIVER", "dummy");
        timer.start();
        for (int i = 0; i < 20; ++i) {
            const platform::AudioResult opened = device.Open(voice, Std(good));
            QVERIFY(!opened.ok);
            QCOMPARE(opened.error, problem);
            const platform::AudioResult sounded = device.Sound(voice, Std(good));
            QVERIFY(!sounded.ok);
            QCOMPARE(sounded.error, problem);
            device.Play(voice);
            device.Stop(voice);
            device.Close(voice);
            QVERIFY(!device.Sounding(voice));
            QCOMPARE(device.DeviceError(), problem);
        }
        // A hundred calls that each tried the device again would take seconds.
        QVERIFY2(timer.elapsed() < 2000, "calls without a device are not instant");
        QCOMPARE(device.AllocateVoice(), 1);
        QCOMPARE(device.DecodeCount(), 0);
        QCOMPARE(device.HeldChunkCount(), 0);
    }

    // The program's device is one real device kept for the program's life; a stand-in put in
    // by a test replaces it until it is taken out again.
    void currentDevice()
    {
        struct StandIn : platform::AudioDevice
        {
            int AllocateVoice() override { return 7; }
            void ReleaseVoice(int) override {}
            platform::AudioResult Open(int, const std::string &) override { return {}; }
            void Command(int, platform::VoiceCommand) override {}
            platform::AudioResult Sound(int, const std::string &) override { return {}; }
            std::string DeviceError() override { return "stand-in"; }
        };
        platform::AudioDevice &real = platform::CurrentAudioDevice();
        QVERIFY(dynamic_cast<platform::SoundOutput *>(&real) != nullptr);
        QCOMPARE(&platform::CurrentAudioDevice(), &real);
        const int realVoice = real.AllocateVoice();

        auto standIn = std::make_unique<StandIn>();
        platform::AudioDevice *standInAddress = standIn.get();
        platform::seams::SetAudioDevice(std::move(standIn));
        QCOMPARE(&platform::CurrentAudioDevice(), standInAddress);
        QCOMPARE(platform::CurrentAudioDevice().DeviceError(), std::string("stand-in"));

        platform::seams::SetAudioDevice(nullptr);
        QCOMPARE(&platform::CurrentAudioDevice(), &real);
        QCOMPARE(platform::CurrentAudioDevice().AllocateVoice(), realVoice + 1);
    }
};

QTEST_GUILESS_MAIN(TestSdlAudio)
#include "tst_sdlaudio.moc"
