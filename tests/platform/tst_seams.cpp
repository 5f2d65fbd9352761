// The seams through which tests stand in for the world: what one case puts in place is gone
// when the next case starts, so no case sees what the case before it left behind.
#include "support/TestSupport.h"

#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/sound/AudioDevice.h"
#include "platform/sound/WaveAudio.h"

#include <QtTest>

#include <functional>

namespace seams = platform::seams;
using testsupport::AudioTrace;
using testsupport::EndRequests;
using testsupport::Messages;

namespace {
// A stand-in device that says when it is let go.
class WatchedDevice : public testsupport::RecordingAudioDevice
{
public:
    explicit WatchedDevice(bool &gone) : gone_(gone) {}
    ~WatchedDevice() override { gone_ = true; }

private:
    bool &gone_;
};

// A window with a timer and a wave-audio control, the two things the tick and trace seams
// watch.
class SeamWindow : public platform::Form
{
public:
    SeamWindow() : Form("SeamWindow"), timer(*this, "Timer1"), tone(*this, "MMC1") {}
    void Form_Load() override
    {
        timer.OnTimer([] {});
    }
    platform::Timer timer;
    platform::WaveAudio tone;
};
platform::FormRef<SeamWindow> seamWindow;

// One seam a case leaves in place: `leave` puts it there with a stand-in that sets `reached`
// (or, for the device, when the stand-in is let go); after the next case's start, `use` does
// what the seam stands in for and says whether the program's own behaviour, or the fixture's,
// answered it.
struct Leftover
{
    const char *seam;
    std::function<void(bool &reached)> leave;
    std::function<bool()> use;
};

const std::vector<Leftover> &Leftovers()
{
    static const std::vector<Leftover> rows = {
        {"end", [](bool &reached) { seams::SetEndProgramHook([&reached] { reached = true; }); },
         [] {
             platform::EndProgramAtOnce();
             return EndRequests() == 1;
         }},
        {"message",
         [](bool &reached) {
             seams::SetMessageHook(
                 [&reached](const std::string &, const std::string &) { reached = true; });
         },
         [] {
             platform::ShowMessage("Tarrowin", "a notice");
             return Messages().size() == 1;
         }},
        {"file dialog",
         [](bool &reached) {
             reached = false;
             seams::AnswerFileDialog("/tmp/left-behind.ico");
         },
         [] {
             seams::AnswerFileDialog("/tmp/own.ico");
             platform::CommonDialog dialog("CD1");
             dialog.ShowOpen();
             return dialog.FileName() == "/tmp/own.ico" && seams::FileDialogsShown() == 1;
         }},
        {"audio trace",
         [](bool &reached) {
             seams::SetAudioTraceHook([&reached](const std::string &) { reached = true; });
         },
         [] {
             seamWindow->tone.SetDeviceType("WaveAudio");
             return testsupport::Traced("MMC1.DeviceType=WaveAudio");
         }},
        {"ticks",
         [](bool &reached) {
             seams::SetTickObserver(
                 [&reached](const std::string &, std::chrono::steady_clock::time_point) {
                     reached = true;
                 });
         },
         [] {
             seamWindow->timer.Tick();
             return true;
         }},
        {"audio device",
         [](bool &gone) { seams::SetAudioDevice(std::make_unique<WatchedDevice>(gone)); },
         [] { return true; }},
        {"program folder", [](bool &) { seams::SetProgramFolder("/opt/elsewhere"); },
         [] { return platform::ProgramFolder() != "/opt/elsewhere"; }},
    };
    return rows;
}
} // namespace

class TestSeams : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void fileDialogTakesTheAnswersInTurn()
    {
        seams::AnswerFileDialog("/tmp/first.ico");
        seams::AnswerFileDialog("");
        seams::AnswerFileDialog("/tmp/third.wav");
        platform::CommonDialog dialog("CD1");
        dialog.SetFilter("Pictures (*.bmp;*.ico)|*.bmp;*.ico");
        dialog.ShowOpen();
        QCOMPARE(dialog.FileName(), std::string("/tmp/first.ico"));
        dialog.SetFilter("Tones (*.wav)|*.wav");
        dialog.ShowOpen(); // cancelled: the name stays as it was
        QCOMPARE(dialog.FileName(), std::string("/tmp/first.ico"));
        dialog.SetFileName("");
        dialog.ShowOpen();
        QCOMPARE(dialog.FileName(), std::string("/tmp/third.wav"));
        QCOMPARE(seams::FileDialogsShown(), 3);
        // As it stood when shown, before the answer.
        QCOMPARE(seams::LastFileDialog().Filter(), std::string("Tones (*.wav)|*.wav"));
        QCOMPARE(seams::LastFileDialog().FileName(), std::string());
    }

    void aCaseLeavesNothingBehind_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < Leftovers().size(); ++i)
            QTest::newRow(Leftovers()[i].seam) << int(i);
    }
    void aCaseLeavesNothingBehind()
    {
        QFETCH(int, row);
        const Leftover &leftover = Leftovers()[std::size_t(row)];
        bool reached = false;
        leftover.leave(reached);
        testsupport::FreshProgram(); // the next case's start
        const bool own = leftover.use();
        // The device is let go at the start; every other stand-in must never be reached.
        QCOMPARE(reached, std::string(leftover.seam) == "audio device");
        QVERIFY(own);
    }
};

QTEST_MAIN(TestSeams)
#include "tst_seams.moc"
