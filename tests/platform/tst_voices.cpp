// Voices go with their wave-audio controls: a window that is unloaded and freed gives its
// voices back, and each device gives a number given back out again, so that a session in
// which the windows are opened and closed over and over does not grow voices, mixer channels
// or streams.
#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/sound/PulseAudioDevice.h"
#include "platform/sound/SdlAudioDevice.h"
#include "platform/sound/SoundOutput.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTest>

#include <initializer_list>
#include <memory>
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

private:
    std::string tone_;
};

QTEST_MAIN(TestVoices)
#include "tst_voices.moc"
