// The tone decoder and its cache: every kind of wave file a practitioner may choose, the bad
// files of the corpus (tests/data/make_corpus.py), and headers made here that claim what is
// not there. No sound server is needed: decoding does not depend on one.
#include "platform/sound/ToneFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#ifndef TARROWIN_CORPUS_SCRIPT
#error "TARROWIN_CORPUS_SCRIPT names make_corpus.py"
#endif

namespace {

void Put16(std::vector<unsigned char> &out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
}

void Put32(std::vector<unsigned char> &out, unsigned value)
{
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

// A 16-bit PCM wave file whose data chunk says `claimed` bytes and holds `held` bytes.
std::vector<unsigned char> Wave(unsigned rate, unsigned channels, unsigned claimed, unsigned held)
{
    std::vector<unsigned char> out;
    const unsigned block = channels * 2;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, 36 + held);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, channels);
    Put32(out, rate);
    Put32(out, rate * block);
    Put16(out, block);
    Put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, claimed);
    for (unsigned i = 0; i < held; ++i)
        out.push_back(static_cast<unsigned char>((i * 37) & 0x7f));
    return out;
}

bool WriteFile(const QString &path, const std::vector<unsigned char> &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

} // namespace

class TstToneFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString corpus_;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        corpus_ = dir_.filePath("corpus");
        QProcess script;
        script.start("python3", {TARROWIN_CORPUS_SCRIPT, corpus_});
        QVERIFY(script.waitForFinished(120'000));
        QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0,
                 script.readAllStandardError().constData());
    }
    void init() { testsupport::FreshSeams(); }

    // Each tone of the corpus decodes to its own rate, channels and length, or is refused
    // with a reason in words.
    void corpus_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rate"); // 0 when refused
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("reason");
        QTest::newRow("16-bit") << "good_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("8-bit") << "pcm8_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("24-bit") << "pcm24_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("float") << "float32_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("mono") << "mono_l.wav" << 44100 << 1 << 8820 << "";
        QTest::newRow("22.05 kHz") << "rate22050_l.wav" << 22050 << 2 << 4410 << "";
        QTest::newRow("96 kHz") << "rate96000_l.wav" << 96000 << 2 << 19200 << "";
        QTest::newRow("five minutes") << "five-minutes_l.wav" << 22050 << 1 << 22050 * 300 << "";
        // The header claims 10 MB; what follows is 10 ms, and only that is kept.
        QTest::newRow("claims more data") << "claims-more-data_l.wav" << 44100 << 2 << 441 << "";
        QTest::newRow("blanks") << "with blanks/my tone_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("non-ASCII") << "Ångström ü/Ångström ü_l.wav" << 44100 << 2 << 8820 << "";
        QTest::newRow("empty") << "empty_l.wav" << 0 << 0 << 0 << "the file is empty";
        QTest::newRow("cut header")
            << "truncated-header_l.wav" << 0 << 0 << 0 << "not a wave file the program can play";
        QTest::newRow("text") << "text_l.wav" << 0 << 0 << 0
                              << "not a wave file the program can play";
        QTest::newRow("no such file") << "none_l.wav" << 0 << 0 << 0 << "the file does not exist";
        QTest::newRow("a folder") << "with blanks" << 0 << 0 << 0 << "it is a folder, not a file";
    }
    void corpus()
    {
        QFETCH(QString, file);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, frames);
        QFETCH(QString, reason);
        platform::ToneCache cache;
        platform::AudioResult result;
        const auto tone = cache.Get(QDir(corpus_ + "/tones").filePath(file).toStdString(), result);
        if (rate == 0) {
            QVERIFY(!tone);
            QVERIFY(!result.ok);
            QVERIFY2(result.error.rfind(reason.toStdString(), 0) == 0, result.error.c_str());
            return;
        }
        QVERIFY2(tone && result.ok, result.error.c_str());
        QCOMPARE(tone->rate, rate);
        QCOMPARE(tone->channels, channels);
        QCOMPARE(static_cast<int>(tone->Frames()), frames);
        QCOMPARE(tone->samples.size() % static_cast<std::size_t>(channels), std::size_t(0));
        // A sine at 0.3 of full scale in every format: the peak lands near 9830 in 16 bits.
        short peak = 0;
        for (short s : tone->samples)
            peak = std::max<short>(peak, static_cast<short>(std::abs(s)));
        QVERIFY2(peak > 9500 && peak < 10100, qPrintable(QString::number(peak)));
    }

    // Headers whose data chunk holds nothing, at rates and channel counts that a sound
    // library would convert: refused by name, never handed on.
    void emptyData_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("claimed");
        QTest::newRow("22050 Hz") << 22050 << 2 << 0;
        QTest::newRow("48000 Hz") << 48000 << 2 << 0;
        QTest::newRow("mono 44100 Hz") << 44100 << 1 << 0;
        QTest::newRow("44100 Hz stereo") << 44100 << 2 << 0;
        QTest::newRow("claims data, holds none") << 22050 << 2 << 1'000'000;
    }
    void emptyData()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, claimed);
        const auto bytes = Wave(static_cast<unsigned>(rate), static_cast<unsigned>(channels),
                                static_cast<unsigned>(claimed), 0);
        const QString path = dir_.filePath(QString("empty-%1-%2_l.wav").arg(rate).arg(channels));
        QVERIFY(WriteFile(path, bytes));
        platform::ToneCache cache;
        platform::AudioResult result;
        QVERIFY(!cache.Get(path.toStdString(), result));
        QCOMPARE(result.error, std::string("the file holds no sound"));
        std::string problem;
        QVERIFY(!platform::DecodeToneBytes(bytes.data(), bytes.size(), problem));
        QCOMPARE(problem, std::string("the file holds no sound"));
    }

    // Headers that claim what no tone has.
    void impossibleHeaders()
    {
        std::string problem;
        auto channels = Wave(44100, 2, 400, 400);
        channels[22] = 200; // 200 channels
        QVERIFY(!platform::DecodeToneBytes(channels.data(), channels.size(), problem));
        QVERIFY2(!problem.empty(), "refused without a reason");
        auto rate = Wave(44100, 2, 400, 400);
        rate[24] = rate[25] = rate[26] = 0;
        rate[27] = 0x40; // about a gigahertz
        problem.clear();
        QVERIFY(!platform::DecodeToneBytes(rate.data(), rate.size(), problem));
        QVERIFY2(!problem.empty(), "refused without a reason");
    }

    // The side a tone sounds on is found as it is decoded: a stereo tone with one channel
    // silent throughout is that side's, down to its last frame; anything else sounds on both.
    void sideIsFoundAsTheToneIsDecoded_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("silentLeft");
        QTest::addColumn<bool>("silentRight");
        QTest::addColumn<bool>("lastFrameLeft"); // a sound on the left in the last frame only
        QTest::addColumn<int>("side");
        using platform::ToneSide;
        QTest::newRow("left") << 2 << false << true << false << int(ToneSide::Left);
        QTest::newRow("right") << 2 << true << false << false << int(ToneSide::Right);
        QTest::newRow("both") << 2 << false << false << false << int(ToneSide::Both);
        QTest::newRow("silence") << 2 << true << true << false << int(ToneSide::Both);
        QTest::newRow("mono") << 1 << false << false << false << int(ToneSide::Both);
        QTest::newRow("right, left at the end")
            << 2 << true << false << true << int(ToneSide::Both);
    }
    void sideIsFoundAsTheToneIsDecoded()
    {
        QFETCH(int, channels);
        QFETCH(bool, silentLeft);
        QFETCH(bool, silentRight);
        QFETCH(bool, lastFrameLeft);
        QFETCH(int, side);
        const unsigned frames = 1000;
        const auto block = static_cast<unsigned>(channels) * 2;
        auto bytes = Wave(44100, static_cast<unsigned>(channels), frames * block, frames * block);
        constexpr std::size_t kData = 44;
        for (std::size_t frame = 0; frame < frames && channels == 2; ++frame) {
            const std::size_t at = kData + frame * block;
            if (silentLeft && !(lastFrameLeft && frame + 1 == frames))
                bytes[at] = bytes[at + 1] = 0;
            if (silentRight)
                bytes[at + 2] = bytes[at + 3] = 0;
        }
        std::string problem;
        const auto tone = platform::DecodeToneBytes(bytes.data(), bytes.size(), problem);
        QVERIFY2(tone, problem.c_str());
        QCOMPARE(int(tone->side), side);
    }

    // The same bytes decode the same from memory as from a file.
    void bytesAndFileAgree()
    {
        const auto bytes = Wave(22050, 1, 2000, 2000);
        const QString path = dir_.filePath("agree.wav");
        QVERIFY(WriteFile(path, bytes));
        std::string fileProblem, bytesProblem;
        const auto fromFile = platform::DecodeTone(path.toStdString(), fileProblem);
        const auto fromBytes = platform::DecodeToneBytes(bytes.data(), bytes.size(), bytesProblem);
        QVERIFY2(fromFile && fromBytes, (fileProblem + bytesProblem).c_str());
        QCOMPARE(fromFile->samples, fromBytes->samples);
        QCOMPARE(fromFile->Frames(), std::size_t(1000));
        // The samples are the file's, in order.
        QCOMPARE(fromFile->samples[1], static_cast<short>((2 * 37) | ((3 * 37 & 0x7f) << 8)));
    }

    // An unchanged file is decoded once; a changed one again; a refused one is not read
    // through again until it changes.
    void cacheFollowsTheFile()
    {
        const QString path = dir_.filePath("cached.wav");
        QVERIFY(WriteFile(path, Wave(44100, 2, 400, 400)));
        platform::ToneCache cache;
        platform::AudioResult result;
        const auto first = cache.Get(path.toStdString(), result);
        QVERIFY(first);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(cache.Get(path.toStdString(), result), first);
        QCOMPARE(cache.DecodeCount(), 1);

        QVERIFY(WriteFile(path, Wave(44100, 2, 800, 800)));
        const auto second = cache.Get(path.toStdString(), result);
        QVERIFY(second && second != first);
        QCOMPARE(second->Frames(), std::size_t(200));
        QCOMPARE(cache.DecodeCount(), 2);
        // The voice that still holds the old tone keeps it whole.
        QCOMPARE(first->Frames(), std::size_t(100));

        QVERIFY(WriteFile(path, {'n', 'o', 't', 'e', 's'}));
        for (int i = 0; i < 3; ++i) {
            platform::AudioResult refused;
            QVERIFY(!cache.Get(path.toStdString(), refused));
            QVERIFY(!refused.ok && !refused.error.empty());
        }
        QCOMPARE(cache.DecodeCount(), 3);

        QVERIFY(QFile::remove(path));
        platform::AudioResult gone;
        QVERIFY(!cache.Get(path.toStdString(), gone));
        QCOMPARE(gone.error, std::string("the file does not exist"));
    }

    void unreadableAndSpecialFiles()
    {
        platform::AudioResult result;
        platform::ToneCache cache;
        QVERIFY(!cache.Get("", result));
        QCOMPARE(result.error, std::string("no file was named"));
        const QString fifo = dir_.filePath("pipe.wav");
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        result = {};
        QVERIFY(!cache.Get(fifo.toStdString(), result));
        QCOMPARE(result.error, std::string("it is not an ordinary file"));
        if (::geteuid() == 0)
            return; // root reads every file
        const QString locked = dir_.filePath("locked.wav");
        QVERIFY(WriteFile(locked, Wave(44100, 2, 400, 400)));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        result = {};
        QVERIFY(!cache.Get(locked.toStdString(), result));
        QCOMPARE(result.error, std::string("the file cannot be read (no permission)"));
    }
};

QTEST_GUILESS_MAIN(TstToneFile)
#include "tst_tonefile.moc"
