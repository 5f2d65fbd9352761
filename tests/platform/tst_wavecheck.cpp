// The look at a tone file's wave header before the sound library gets it: files that are not
// wave files, and wave files whose data chunk holds no whole sample frame or less than a
// millisecond of sound, are refused with a reason; every other file passes and is left to the
// library. The same bytes give the same answer
// from memory and from a file.
#include "platform/sound/WaveCheck.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>

namespace {

void PutLe(QByteArray &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

QByteArray Chunk(const char *id, const QByteArray &payload)
{
    QByteArray out(id, 4);
    PutLe(out, static_cast<std::uint32_t>(payload.size()), 4);
    out += payload;
    if (payload.size() % 2)
        out.append('\0');
    return out;
}

QByteArray Fmt(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
               std::uint16_t blockAlign = 0)
{
    if (blockAlign == 0)
        blockAlign = static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
    QByteArray fmt;
    PutLe(fmt, format, 2);
    PutLe(fmt, channels, 2);
    PutLe(fmt, rate, 4);
    PutLe(fmt, rate * blockAlign, 4);
    PutLe(fmt, blockAlign, 2);
    PutLe(fmt, bits, 2);
    return fmt;
}

// The extensible form of a format: the real one sits at the start of the sub-format.
QByteArray FmtExtensible(std::uint16_t realFormat, std::uint16_t channels, std::uint32_t rate,
                         std::uint16_t bits)
{
    QByteArray fmt = Fmt(0xFFFE, channels, rate, bits);
    PutLe(fmt, 22, 2);   // size of the extension
    PutLe(fmt, bits, 2); // valid bits
    PutLe(fmt, 3, 4);    // channel mask
    PutLe(fmt, realFormat, 2);
    fmt += QByteArray::fromHex("000000001000800000aa00389b71");
    return fmt;
}

QByteArray Riff(const QByteArray &chunks)
{
    QByteArray out("RIFF");
    PutLe(out, static_cast<std::uint32_t>(4 + chunks.size()), 4);
    return out + "WAVE" + chunks;
}

QByteArray Wave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, int dataBytes)
{
    return Riff(Chunk("fmt ", Fmt(1, channels, rate, bits)) +
                Chunk("data", QByteArray(dataBytes, '\x10')));
}

// A data chunk whose header claims `claimed` bytes, followed by `held` bytes.
QByteArray WaveClaiming(std::uint32_t claimed, int held)
{
    QByteArray data("data");
    PutLe(data, claimed, 4);
    return Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + data + QByteArray(held, '\x10'));
}

} // namespace

class TstWaveCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { testsupport::FreshSeams(); }

    void check_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason"); // empty: the file passes

        const QString empty = "the file holds no sound: its data chunk is empty";
        const QString partial =
            "the file holds no sound: its data chunk is shorter than one sample";
        const QString notWave =
            "not a wave file the program can play: it does not start as a wave file does";
        const QString tooShort =
            "the file holds less than a millisecond of sound, too short for a tone";
        const QString tooFew = "the file holds fewer than 16 samples of sound, too few for a tone";

        // The files that SDL2_mixer 2.8 frees twice, and their kin that need no conversion.
        QTest::newRow("empty data, 22050 Hz stereo") << Wave(2, 22050, 16, 0) << empty;
        QTest::newRow("empty data, 48000 Hz stereo") << Wave(2, 48000, 16, 0) << empty;
        QTest::newRow("empty data, 44100 Hz mono") << Wave(1, 44100, 16, 0) << empty;
        QTest::newRow("empty data, 44100 Hz stereo") << Wave(2, 44100, 16, 0) << empty;
        QTest::newRow("empty data, 8-bit") << Wave(1, 8000, 8, 0) << empty;
        QTest::newRow("data claiming bytes the file does not hold")
            << WaveClaiming(40000, 0) << empty;
        QTest::newRow("data claiming more, three bytes there") << WaveClaiming(40000, 3) << partial;
        QTest::newRow("data claiming more, one frame there") << WaveClaiming(40000, 4) << tooShort;
        QTest::newRow("3 bytes of 16-bit stereo") << Wave(2, 22050, 16, 3) << partial;
        QTest::newRow("5 bytes of 24-bit stereo") << Wave(2, 48000, 24, 5) << partial;
        QTest::newRow("empty data, extensible float")
            << Riff(Chunk("fmt ", FmtExtensible(3, 2, 48000, 32)) + Chunk("data", {})) << empty;
        QTest::newRow("7 bytes of extensible 32-bit float stereo")
            << Riff(Chunk("fmt ", FmtExtensible(3, 2, 48000, 32)) +
                    Chunk("data", QByteArray(7, '\x01')))
            << partial;
        QTest::newRow("empty data after an odd-sized chunk and its pad byte")
            << Riff(Chunk("fmt ", Fmt(1, 2, 22050, 16)) + Chunk("LIST", QByteArray(5, 'x')) +
                    Chunk("data", {}))
            << empty;
        // The library reads a file that starts with "WAVE" as one without its RIFF header.
        QTest::newRow("no RIFF header, empty data")
            << QByteArray("WAVE") + Chunk("fmt ", Fmt(1, 2, 22050, 16)) + Chunk("data", {})
            << empty;
        QTest::newRow("no RIFF header, one byte of 8-bit stereo")
            << QByteArray("WAVE") + Chunk("fmt ", Fmt(1, 2, 24644, 8)) +
                   Chunk("data", QByteArray(1, '\0'))
            << partial;
        // It plays the first data chunk after the format chunk.
        QTest::newRow("a full data chunk before the format, an empty one after")
            << Riff(Chunk("data", QByteArray(400, '\x10')) + Chunk("fmt ", Fmt(1, 2, 22050, 16)) +
                    Chunk("data", {}))
            << empty;
        QTest::newRow("empty first data chunk, a full one after")
            << Riff(Chunk("fmt ", Fmt(1, 2, 22050, 16)) + Chunk("data", {}) +
                    Chunk("data", QByteArray(400, '\x10')))
            << empty;
        // Frames that come to less than one at 44.1 kHz, which SDL2_mixer 2.8 frees twice too,
        // and other tones of less than a millisecond.
        QTest::newRow("1 frame at 48 kHz") << Wave(2, 48000, 16, 4) << tooShort;
        QTest::newRow("2 frames at 96 kHz") << Wave(2, 96000, 16, 8) << tooShort;
        QTest::newRow("1 frame at 44.1 kHz") << Wave(2, 44100, 16, 4) << tooShort;
        QTest::newRow("44 frames at 44.1 kHz") << Wave(2, 44100, 16, 44 * 4) << tooShort;
        QTest::newRow("1 frame of 8-bit mono at 8 kHz") << Wave(1, 8000, 8, 1) << tooShort;
        // Few frames of more than two channels, or at a low rate, which are longer than a
        // millisecond: one frame of 3 channels at 196 Hz was converted to nothing.
        QTest::newRow("1 frame of 3 channels at 196 Hz, no RIFF header")
            << QByteArray("WAVE") + Chunk("fmt ", Fmt(1, 3, 196, 8)) +
                   Chunk("data", QByteArray(3, '\x10'))
            << tooFew;
        QTest::newRow("15 frames at 8 kHz") << Wave(2, 8000, 16, 15 * 4) << tooFew;
        QTest::newRow("3 frames of 6 channels at 1 kHz") << Wave(6, 1000, 16, 3 * 12) << tooFew;
        // Compressed formats decode whole blocks, of at least their bits per sample each.
        QTest::newRow("ADPCM, less than a block") << Riff(Chunk("fmt ", Fmt(2, 2, 22050, 4, 1024)) +
                                                          Chunk("data", QByteArray(100, '\x10')))
                                                  << partial;
        QTest::newRow("ADPCM, one small block at 192 kHz")
            << Riff(Chunk("fmt ", Fmt(17, 2, 192000, 4, 36)) +
                    Chunk("data", QByteArray(36, '\x10')))
            << tooShort;

        QTest::newRow("45 frames at 44.1 kHz") << Wave(2, 44100, 16, 45 * 4) << "";
        QTest::newRow("48 frames at 48 kHz") << Wave(2, 48000, 16, 48 * 4) << "";
        QTest::newRow("96 frames at 96 kHz") << Wave(2, 96000, 16, 96 * 4) << "";
        QTest::newRow("16 frames of 8-bit mono at 8 kHz") << Wave(1, 8000, 8, 16) << "";
        QTest::newRow("16 frames of 3 channels at 196 Hz") << Wave(3, 196, 8, 48) << "";
        QTest::newRow("a tenth of a second at 48000 Hz") << Wave(2, 48000, 16, 19200) << "";
        QTest::newRow("32-bit float, a millisecond at 48 kHz")
            << Riff(Chunk("fmt ", FmtExtensible(3, 2, 48000, 32)) +
                    Chunk("data", QByteArray(48 * 8, '\0')))
            << "";
        QTest::newRow("ADPCM, two blocks") << Riff(Chunk("fmt ", Fmt(2, 2, 22050, 4, 1024)) +
                                                   Chunk("data", QByteArray(2048, '\x10')))
                                           << "";
        QTest::newRow("data claiming more, 50 frames there") << WaveClaiming(40000, 200) << "";
        QTest::newRow("a full data chunk after an odd-sized chunk")
            << Riff(Chunk("fmt ", Fmt(1, 1, 22050, 16)) + Chunk("LIST", QByteArray(5, 'x')) +
                    Chunk("data", QByteArray(100, '\x10')))
            << "";
        // What is not judged here passes, and the library refuses it with its own words.
        QTest::newRow("no data chunk") << Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16))) << "";
        QTest::newRow("no format chunk") << Riff(Chunk("data", {})) << "";
        QTest::newRow("no RIFF header, a full data chunk")
            << QByteArray("WAVE") + Chunk("fmt ", Fmt(1, 2, 22050, 16)) +
                   Chunk("data", QByteArray(400, '\x10'))
            << "";
        QTest::newRow("cut inside the RIFF header") << Wave(2, 44100, 16, 0).left(10) << notWave;
        QTest::newRow("cut inside the data chunk's header") << Wave(2, 44100, 16, 0).left(40) << "";
        // The library would hand these to other decoders.
        QTest::newRow("text") << QByteArray("These are notes, not a tone.\n") << notWave;
        QTest::newRow("no bytes") << QByteArray() << notWave;
        QTest::newRow("RIFF of another form")
            << QByteArray("RIFF\x04\0\0\0AVI ", 12) + Chunk("data", {}) << notWave;
        QTest::newRow("AIFF") << QByteArray("FORM\0\0\0\x04AIFF", 12) << notWave;
        QTest::newRow("Ogg") << QByteArray("OggS\0\x02\0\0\0\0\0\0\0\0", 14) << notWave;
        QTest::newRow("a chunk claiming 4 GB before the data")
            << Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16)) + QByteArray("LIST\xff\xff\xff\xff", 8) +
                    Chunk("data", {}))
            << "";
    }
    void check()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QCOMPARE(QString::fromStdString(platform::WaveBytesProblem(
                     bytes.constData(), static_cast<std::size_t>(bytes.size()))),
                 reason);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("tone.wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        QCOMPARE(QString::fromStdString(platform::WaveFileProblem(path.toStdString())), reason);
    }

    // A file that cannot be opened passes: the device's own open names what is wrong.
    void unreadableFilePasses()
    {
        QCOMPARE(platform::WaveFileProblem("/nonexistent/tone.wav"), std::string());
        QCOMPARE(platform::WaveFileProblem(""), std::string());
    }
};

QTEST_GUILESS_MAIN(TstWaveCheck)
#include "tst_wavecheck.moc"
