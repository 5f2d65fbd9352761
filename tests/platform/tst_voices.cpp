// Voices go with their wave-audio controls: a window that is unloaded and freed gives its
// voices back, and each device gives a number given back out again, so that a session in
// which the windows are opened and closed over and over does not grow voices, mixer channels
// or streams.
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/sound/PulseAudioDevice.h"
#include "platform/sound/ReadClock.h"
#include "platform/sound/SdlAudioDevice.h"
#include "platform/sound/SoundOutput.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTest>

#include <chrono>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <set>
#include <string>

using testsupport::FreshProgram;

namespace {

// Opens both windows as the program does, sounds the settings window's preview, and frees
// them again.
void OpenAndCloseWindows(const std::string &tone)
{
    testsupport::StillWindow();
    platform::seams::AnswerFileDialog(tone);
    frmSettings->Command2_Click();
    testsupport::CloseWindows();
}

// The numbers the device gives out next, one call each, as expected.
bool GivesOut(platform::AudioDevice &device, std::initializer_list<int> expected)
{
    for (int number : expected) {
        if (device.AllocateVoice() != number)
            return false;
    }
    return true;
}

std::unique_ptr<platform::AudioDevice> MakeDevice(const QString &kind)
{
    if (kind == "card")
        return std::make_unique<platform::SdlAudioDevice>();
    if (kind == "server")
        return std::make_unique<platform::PulseAudioDevice>();
    return std::make_unique<platform::SoundOutput>();
}

// A sound server as the reports show it: from `firstRead` on it takes a cycle of `cycle`
// frames at a time at 44.1 kHz, except for the cycles it misses from `stall` on; each report
// reaches the program some time after the moment it describes.
struct ServerModel
{
    using Clock = platform::ReadClock::Clock;
    static constexpr int kRate = 44100;
    Clock::time_point firstRead;
    int cycle = 1024;
    Clock::time_point stall = Clock::time_point::max();
    int missed = 0;
    // How long it stands still before it reads the cycle then due, at once.
    Clock::duration frozen{};

    Clock::duration CycleLength() const
    {
        return std::chrono::nanoseconds(static_cast<long long>(cycle) * 1'000'000'000 / kRate);
    }
    // Frames read by `when`: each cycle takes its frames at its start.
    long long ReadBy(Clock::time_point when) const
    {
        if (when < firstRead)
            return 0;
        const auto cyclesBy = [&](Clock::time_point t) -> long long {
            return (t - firstRead) / CycleLength() + 1;
        };
        long long cycles = cyclesBy(when);
        // It stands still for the cycles it misses, then reads on; one that was held up reads
        // the cycle due at once when it wakes, then keeps to its new pace.
        const long long woken = frozen > Clock::duration{} ? 1 : 0;
        if (when >= stall + frozen)
            cycles = std::max(cycles - missed, cyclesBy(stall) + woken);
        else if (when >= stall)
            cycles = cyclesBy(stall);
        return cycles * cycle;
    }
    // The frame read at `when`, by the same count (the end of the cycle that reads it).
    double FrameAt(Clock::time_point when) const
    {
        const auto shift = when >= stall ? missed * CycleLength() : Clock::duration{};
        return std::chrono::duration<double>(when - firstRead - shift).count() * kRate + cycle;
    }
};

} // namespace

class TestVoices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The real devices on SDL's silent output: nothing is heard, no sound server needed.
        qputenv("SDL_AUDIODRIVER", "dummy");
        tone_ = platform::InProgramFolder("\\Tones\\chime_l.wav");
        QVERIFY2(QFile::exists(QString::fromStdString(tone_)), tone_.c_str());
    }
    void init() { FreshProgram(); }
    void cleanup() { FreshProgram(); }

    // Every voice the windows took is given back when they are freed, each one once.
    void freedWindowsGiveTheirVoicesBack()
    {
        testsupport::RecordingAudioDevice &device = testsupport::InstallRecordingAudio();
        for (int round = 0; round < 5; ++round)
            OpenAndCloseWindows(tone_);
        QCOMPARE(device.AllocatedVoices(), 15); // two tone channels and the preview, each time
        const std::set<int> released(device.released.begin(), device.released.end());
        QCOMPARE(device.released.size(), std::size_t{15});
        QCOMPARE(released.size(), std::size_t{15});
        QCOMPARE(*released.rbegin(), 14);
    }

    // On the real sound card, windows opened and closed many times keep using the same few
    // voices.
    void voicesDoNotGrowOverManyWindows()
    {
        auto owned = std::make_unique<platform::SdlAudioDevice>();
        platform::SdlAudioDevice &device = *owned;
        platform::seams::SetAudioDevice(std::move(owned));
        QCOMPARE(device.DeviceError(), std::string());
        OpenAndCloseWindows(tone_);
        // One decoded tone a file, whatever the number of rounds.
        const int heldAfterOne = device.HeldChunkCount();
        for (int round = 0; round < 30; ++round)
            OpenAndCloseWindows(tone_);
        QCOMPARE(device.HeldChunkCount(), heldAfterOne);
        // All three voices are free again: the next one is the first.
        QVERIFY(GivesOut(device, {0, 1, 2, 3}));
    }

    void numbersGivenBackAreGivenOutAgain_data()
    {
        QTest::addColumn<QString>("kind");
        const char *const rows[][2] = {
            {"sound card", "card"}, {"sound server", "server"}, {"program's output", "output"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]);
    }
    void numbersGivenBackAreGivenOutAgain()
    {
        QFETCH(QString, kind);
        std::unique_ptr<platform::AudioDevice> device = MakeDevice(kind);
        QVERIFY(GivesOut(*device, {0, 1, 2}));
        device->ReleaseVoice(1);
        device->ReleaseVoice(1); // a second time changes nothing
        QVERIFY(GivesOut(*device, {1, 3}));
        for (int round = 0; round < 100; ++round) {
            const int voice = device->AllocateVoice();
            QCOMPARE(voice, 4);
            QVERIFY(device->Open(voice, tone_).ok);
            device->Play(voice);
            device->ReleaseVoice(voice);
        }
    }

    // A voice given back while it sounds falls silent at once.
    void releasedVoiceFallsSilent()
    {
        platform::SdlAudioDevice device;
        const int voice = device.AllocateVoice();
        QVERIFY(device.Open(voice, tone_).ok);
        device.Play(voice);
        QVERIFY(device.Sounding(voice));
        device.ReleaseVoice(voice);
        QVERIFY(!device.Sounding(voice));
        QCOMPARE(device.AllocateVoice(), voice);
    }

    // The program's output takes the sound card where no server answers: the card's voices
    // then carry the same numbers as the voices already given out and given back.
    void cardTakesTheNumbersInUse()
    {
        platform::SoundOutput output;
        QVERIFY(GivesOut(output, {0, 1, 2}));
        output.ReleaseVoice(1);
        QVERIFY(QTest::qWaitFor([&] { return output.Route() != "none"; }, 5000));
        QVERIFY(GivesOut(output, {1, 3}));
        QVERIFY(output.Open(3, tone_).ok);
        QVERIFY(output.Open(1, tone_).ok);
    }

    // The frame that the sound server reads at a given moment, as learnt from its timing
    // reports, however the reports fall: never one that it reads later than that moment (the
    // tone placed there would sound late), and less than a millisecond before it. A report
    // comes back some time after the moment it tells of, so it can only put reading late.
    void readClockFindsWhereTheServerReads_data()
    {
        QTest::addColumn<int>("cycle");
        QTest::addColumn<int>("firstReadMs");
        QTest::addColumn<int>("reportUs");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("missed");
        QTest::addColumn<int>("frozenMs");
        QTest::addColumn<int>("checkMs");
        // A desktop's cycle, asked every 10 ms as a running stream is.
        QTest::newRow("cycles of 1024, reports every 10 ms")
            << 1024 << 20 << 10000 << -1 << 0 << 0 << 3000;
        QTest::newRow("cycles of 2048, reports every 10 ms")
            << 2048 << 40 << 10000 << -1 << 0 << 0 << 3000;
        // Asked every millisecond from the moment the stream starts, and read first a little
        // more than a cycle later: the first few reports come before any reading, and must not
        // put its start at their own moments.
        QTest::newRow("young stream, first read after a cycle")
            << 1024 << 27 << 1000 << -1 << 0 << 0 << 300;
        QTest::newRow("young stream, first read after two")
            << 1024 << 52 << 1000 << -1 << 0 << 0 << 300;
        // A server that missed two cycles reads everything two cycles later from then on.
        QTest::newRow("server fell behind") << 1024 << 20 << 10000 << 1500 << 2 << 0 << 3000;
        // A server held up for 30 ms (a busy machine) reads the cycle then due as it wakes and
        // goes on a cycle later: the reports of its waking lie between its old pace and its
        // new one, and must not hold the tones there once it is seen to have fallen behind.
        QTest::newRow("server held up 30 ms") << 1024 << 20 << 10000 << 1512 << 1 << 30 << 2200;
        QTest::newRow("server held up 60 ms, cycles of 2048")
            << 2048 << 40 << 10000 << 1500 << 1 << 60 << 2200;
    }
    void readClockFindsWhereTheServerReads()
    {
        QFETCH(int, cycle);
        QFETCH(int, firstReadMs);
        QFETCH(int, reportUs);
        QFETCH(int, stallMs);
        QFETCH(int, missed);
        QFETCH(int, frozenMs);
        QFETCH(int, checkMs);
        using namespace std::chrono;
        using Clock = platform::ReadClock::Clock;
        const Clock::time_point start = Clock::time_point{} + hours(1);
        ServerModel server;
        server.cycle = cycle;
        server.firstRead = start + milliseconds(firstReadMs);
        if (stallMs >= 0) {
            server.stall = start + milliseconds(stallMs);
            server.missed = missed;
            server.frozen = milliseconds(frozenMs);
        }
        std::mt19937 draw(7);
        std::uniform_int_distribution<int> lateness(20, 300); // µs on the way back
        platform::ReadClock clock;
        clock.Restart(start);
        // Asked as the device asks: every millisecond while the clock learns afresh.
        const auto wait = [&](Clock::time_point at) {
            using Device = platform::PulseAudioDevice;
            const int mean = at - clock.Since() < milliseconds(Device::kYoungMs)
                                 ? Device::kYoungTimingUs
                                 : reportUs;
            return microseconds(
                std::uniform_int_distribution<int>(mean / 2, mean + mean / 2)(draw));
        };
        double earliestMs = 0;
        double latestMs = 0;
        for (Clock::time_point at = start; at < start + milliseconds(checkMs + 1000);
             at += wait(at)) {
            clock.Take(at + microseconds(lateness(draw)), server.ReadBy(at), 0, ServerModel::kRate);
            if (at < start + milliseconds(checkMs))
                continue;
            const std::optional<long long> frame = clock.FrameAt(at, ServerModel::kRate);
            QVERIFY(frame);
            const double offMs =
                (static_cast<double>(*frame) - server.FrameAt(at)) * 1000.0 / ServerModel::kRate;
            earliestMs = std::min(earliestMs, offMs);
            latestMs = std::max(latestMs, offMs);
        }
        QVERIFY2(earliestMs > -1.0 && latestMs < 0.1,
                 qPrintable(QString("from %1 to %2 ms off").arg(earliestMs).arg(latestMs)));
    }

private:
    std::string tone_;
};

QTEST_MAIN(TestVoices)
#include "tst_voices.moc"
