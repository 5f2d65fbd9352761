// Long sessions: a million motion and tone ticks of the stimulation window with the operator
// changing speed, pattern, pause, picture and window size at random (always the same random
// choices, so that a failure can be replayed), and the pass counter beyond 16 bits.
#include "platform/Seams.h"
#include "platform/forms/Picture.h"
#include "platform/sound/AudioDevice.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer's runtime (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

using testsupport::FreshProgram;
using testsupport::StillWindow;

namespace {

// A sound device that keeps nothing but counts: which file each voice has open and how many
// times each file was played. A session of a million ticks must not grow a trace.
class CountingAudioDevice : public platform::AudioDevice
{
public:
    int AllocateVoice() override
    {
        open_.emplace_back();
        return static_cast<int>(open_.size()) - 1;
    }
    platform::AudioResult Open(int voice, const std::string &path) override
    {
        open_.at(static_cast<std::size_t>(voice)) = path;
        return {};
    }
    void ReleaseVoice(int) override {}
    void Command(int voice, platform::VoiceCommand command) override
    {
        if (command == platform::VoiceCommand::Stop)
            return;
        std::string &path = open_.at(static_cast<std::size_t>(voice));
        if (command == platform::VoiceCommand::Close)
            path.clear();
        else if (path == left)
            ++leftPlays;
        else if (path == right)
            ++rightPlays;
        else
            ++otherPlays;
    }
    platform::AudioResult Sound(int voice, const std::string &path) override
    {
        Open(voice, path);
        Play(voice);
        return {};
    }
    std::string DeviceError() override { return {}; }

    std::string left;
    std::string right;
    long long leftPlays = 0;
    long long rightPlays = 0;
    long long otherPlays = 0;

private:
    std::vector<std::string> open_;
};

CountingAudioDevice &InstallCountingAudio()
{
    auto device = std::make_unique<CountingAudioDevice>();
    CountingAudioDevice &ref = *device;
    platform::seams::SetAudioDevice(std::move(device));
    return ref;
}

// Memory this process holds, in kB: resident memory from the kernel's own account; under
// AddressSanitizer the heap still allocated instead, since its allocator keeps freed blocks
// resident (in quarantine, to catch late uses) and resident memory grows for that alone.
long HeldKb()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
#endif
}

// How far the picture's corner is from the track, per axis: the offsets to the nearest point
// of the segment between the start end and the far end.
struct Offset
{
    double x = 0;
    double y = 0;
};

Offset OffTrack(const FrmEMDR2 &w)
{
    const double x = w.Picture1.Left();
    const double y = w.Picture1.Top();
    const double x0 = w.StartX, y0 = w.StartY, x1 = w.EndX, y1 = w.EndY;
    const double dx = x1 - x0, dy = y1 - y0;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return {std::fabs(x - (x0 + t * dx)), std::fabs(y - (y0 + t * dy))};
}

// The most ticks a leg can take: Steps is round((120 - Speed) / 6), 19 at the slowest key
// speed, and a leg takes at most one tick more than its Steps.
constexpr double kLongestLeg = 20;

// How far off its track the picture may be on one axis: one step and the one twip by which a
// step can overshoot an end before the turn puts it back. An axis whose step is one twip or
// less never turns of its own (its turn threshold |step| - 1 is 0), so it drifts by up to a
// twip a tick for a whole leg: the vertical pattern's sideways axis, for one, and what it
// drifted stays after a turn at the start end (which leaves the picture where it is), even
// when the next leg's step is larger, until a turn at the far end puts it back on the end.
double Tolerance(std::int32_t step)
{
    return std::max(std::abs(static_cast<double>(step)), kLongestLeg) + 1;
}

QString WritePicture(const QTemporaryDir &dir, const QString &name, int width, int height,
                     const char *format, Qt::GlobalColor colour)
{
    const QString path = dir.filePath(name);
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    if (!image.save(path, format))
        qFatal("cannot write the test picture %s", qPrintable(path));
    return path;
}

} // namespace

class TstSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        FreshProgram();
        // The trace of every control assignment would grow by a few lines a tone for the
        // whole session; these tests count plays on their own device instead.
        platform::seams::SetAudioTraceHook(nullptr);
    }
    void cleanup() { FreshProgram(); }

    void millionTicks()
    {
        constexpr long long kTicks = 1'000'000;
        // Before this many ticks every picture has been loaded and every path taken at least
        // once, so the memory measured afterwards is what a long session adds.
        constexpr long long kWarmUp = 100'000;
        // One stretch without any reset at the fastest speed, so that the pass counter goes
        // past 32767 on its own.
        constexpr long long kQuietFrom = 450'000;
        constexpr long long kQuietTo = 900'000;
        constexpr std::uint32_t kSeed = 20'240'611;

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        std::vector<std::string> pictures;
        pictures.push_back(WritePicture(dir, "small.bmp", 16, 16, "BMP", Qt::red).toStdString());
        pictures.push_back(WritePicture(dir, "wide.bmp", 120, 40, "BMP", Qt::green).toStdString());
        pictures.push_back(WritePicture(dir, "tall.ico", 32, 64, "ICO", Qt::blue).toStdString());
        pictures.push_back(
            WritePicture(dir, "large.bmp", 400, 300, "BMP", Qt::yellow).toStdString());
        // One the window refuses: the previous picture stays and the run goes on.
        const QString refused = dir.filePath("refused.bmp");
        {
            QFile empty(refused);
            QVERIFY(empty.open(QIODevice::WriteOnly));
        }
        pictures.push_back(refused.toStdString());

        CountingAudioDevice &device = InstallCountingAudio();
        FrmEMDR2 &w = StillWindow();
        frmSettings->Soundtones.SetValue(1);
        device.left = Var::ToneFiles[0];
        device.right = Var::ToneFiles[1];
        // Through Form_Activate the pair becomes the beep pair of the settings window's tone.
        w.Form_Activate();
        device.left = Var::ToneFiles[0];
        device.right = Var::ToneFiles[1];

        std::mt19937 random(kSeed);
        // A whole number below n; the modulo keeps the sequence the same on every library.
        const auto below = [&random](std::uint32_t n) { return random() % n; };
        const float sizes[][2] = {{28800, 16200}, {19200, 10800}, {12000, 9000}, {28800, 10800}};
        const int patternKeys[] = {45, 95, 124, 92, 47};

        long long startTurns = 0; // since the last reset of the pass count
        long long farTurns = 0;   // the whole session
        long long allStartTurns = 0;
        long long expectedLeft = 0;
        long long expectedRight = 0;
        std::int32_t highestPassCount = 0;
        double worstX = 0, worstY = 0;
        long rssBefore = 0;
        QElapsedTimer clock;
        clock.start();

        for (long long tick = 0; tick < kTicks; ++tick) {
            if (tick == kWarmUp)
                rssBefore = HeldKb();
            if (tick == kQuietFrom) {
                w.Form_KeyPress('9');
                w.Form_KeyPress(124); // the vertical pattern's 5-tick legs at this speed
                frmSettings->Soundtones.SetValue(1);
                if (w.Pause.Caption() == "Resume") {
                    w.Pause_Click();
                    startTurns = 0;
                }
            }
            const bool quiet = tick >= kQuietFrom && tick < kQuietTo;
            if (!quiet && below(400) == 0) {
                switch (below(9)) {
                case 0:
                case 1:
                    w.Form_KeyPress(static_cast<int>('1' + below(9)));
                    break;
                case 2:
                    w.Form_KeyPress(patternKeys[below(5)]);
                    break;
                case 3:
                    w.Form_KeyUp(static_cast<int>(platform::vbKeyF1 + below(4)), 0);
                    break;
                case 4:
                    // Esc and the button do the same; either way the count starts again.
                    if (below(2) == 0)
                        w.Form_KeyPress(27);
                    else
                        w.Pause_Click();
                    startTurns = 0;
                    break;
                case 5:
                    Var::PictureFile = pictures[below(static_cast<std::uint32_t>(pictures.size()))];
                    w.Form_Activate();
                    startTurns = 0;
                    break;
                case 6: {
                    const auto &size = sizes[below(4)];
                    w.HandleResized(size[0], size[1]);
                    break;
                }
                case 7:
                    frmSettings->Soundtones.SetValue(frmSettings->Soundtones.Value() ? 0 : 1);
                    break;
                default:
                    // Focus lost to another window: the next tick goes on while the button
                    // reads "Pause".
                    w.Form_LostFocus();
                    break;
                }
            }

            Var::ToneRequest = 0;
            try {
                w.Timer1_Timer();
                const std::int16_t request = Var::ToneRequest;
                if (request == 1) {
                    ++startTurns;
                    ++allStartTurns;
                    std::string caption = " ";
                    caption += std::to_string(startTurns);
                    if (w.Passcount.Caption() != caption) {
                        QFAIL(qPrintable(QStringLiteral("tick %1: caption \"%2\" after %3 passes")
                                             .arg(tick)
                                             .arg(QString::fromStdString(w.Passcount.Caption()))
                                             .arg(startTurns)));
                    }
                } else if (request == 2) {
                    ++farTurns;
                }
                const bool sounds = Var::Paused != 1 && frmSettings->Soundtones.Value() != 0;
                if (sounds && request == 1)
                    ++expectedLeft;
                if (sounds && request == 2)
                    ++expectedRight;
                w.Timer2_Timer();
            } catch (const std::exception &error) {
                QFAIL(qPrintable(QStringLiteral("tick %1 (seed %2): %3")
                                     .arg(tick)
                                     .arg(kSeed)
                                     .arg(QString::fromUtf8(error.what()))));
            }

            if (Var::PassCount != startTurns) {
                QFAIL(qPrintable(QStringLiteral("tick %1: PassCount %2, counted %3 passes")
                                     .arg(tick)
                                     .arg(Var::PassCount)
                                     .arg(startTurns)));
            }
            highestPassCount = std::max(highestPassCount, Var::PassCount);
            const Offset off = OffTrack(w);
            worstX = std::max(worstX, off.x);
            worstY = std::max(worstY, off.y);
            if (off.x > Tolerance(w.StepX) || off.y > Tolerance(w.StepY)) {
                QFAIL(qPrintable(QStringLiteral("tick %1: picture at (%2, %3) is (%4, %5) off the "
                                                "track (%6, %7) - (%8, %9), steps (%10, %11)")
                                     .arg(tick)
                                     .arg(double(w.Picture1.Left()))
                                     .arg(double(w.Picture1.Top()))
                                     .arg(off.x)
                                     .arg(off.y)
                                     .arg(w.StartX)
                                     .arg(w.StartY)
                                     .arg(w.EndX)
                                     .arg(w.EndY)
                                     .arg(w.StepX)
                                     .arg(w.StepY)));
            }
        }
        const long rssAfter = HeldKb();
        const qint64 elapsed = clock.elapsed();

        qInfo("%lld ticks in %lld ms: %lld start-end and %lld far-end turns, highest pass count "
              "%d, %lld left and %lld right tones, farthest off the track (%g, %g) twips, "
              "memory held %ld kB after the warm-up and %ld kB at the end",
              kTicks, static_cast<long long>(elapsed), allStartTurns, farTurns,
              static_cast<int>(highestPassCount), device.leftPlays, device.rightPlays, worstX,
              worstY, rssBefore, rssAfter);

        // The session really was long and really turned, both ways, and counted beyond
        // 16 bits without a reset.
        QVERIFY(allStartTurns > 50'000);
        QVERIFY(farTurns > 50'000);
        QVERIFY(highestPassCount > 32'767);
        // Every turn's tone was played on its side while the tones were on, and no other.
        QCOMPARE(device.leftPlays, expectedLeft);
        QCOMPARE(device.rightPlays, expectedRight);
        QCOMPARE(device.otherPlays, 0LL);
        QVERIFY(expectedLeft > 10'000);
        // The refused picture was told about once however often it was chosen.
        QCOMPARE(std::count_if(testsupport::Messages().begin(), testsupport::Messages().end(),
                               [&refused](const std::string &m) {
                                   return m.find(refused.toStdString()) != std::string::npos;
                               }),
                 1L);
        // Flat memory: what the session added after the warm-up, within a few MB.
        QVERIFY(rssBefore > 0 && rssAfter > 0);
        QVERIFY2(rssAfter - rssBefore < 4096,
                 qPrintable(QStringLiteral("memory held grew from %1 kB to %2 kB")
                                .arg(rssBefore)
                                .arg(rssAfter)));
    }
};

QTEST_MAIN(TstSoak)
#include "tst_soak.moc"
