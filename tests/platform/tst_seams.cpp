// The seams through which tests stand in for the world: each one is taken away by one reset,
// so no test case sees what the case before it put in place.
#include "support/TestSupport.h"

#include "platform/AudioDevice.h"
#include "platform/CommonDialog.h"
#include "platform/Platform.h"
#include "platform/Seams.h"

#include <QtTest>

namespace seams = platform::seams;

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

void PutEverySeamInPlace()
{
    seams::SetEndProgramHook([] {});
    seams::SetMessageHook([](const std::string &, const std::string &) {});
    seams::AnswerFileDialog("/tmp/a.ico");
    seams::SetAudioTraceHook([](const std::string &) {});
    seams::SetTickObserver([](const std::string &, std::chrono::steady_clock::time_point) {});
    seams::SetAudioDevice(std::make_unique<testsupport::RecordingAudioDevice>());
    seams::SetProgramFolder("/opt/elsewhere");
}
} // namespace

class TestSeams : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { testsupport::FreshProgram(); }

    void resetTakesEverySeamAway()
    {
        seams::Reset();
        QVERIFY(seams::InPlace().empty());
        PutEverySeamInPlace();
        const std::vector<std::string> all = {"end",           "message", "file dialog",
                                              "audio trace",   "ticks",   "audio device",
                                              "program folder"};
        QCOMPARE(seams::InPlace(), all);
        seams::Reset();
        QVERIFY(seams::InPlace().empty());
    }

    // What a case leaves behind is gone at the next case's start: only the seams every case
    // starts with are in place.
    void aFreshProgramStartsFromTheSameSeams()
    {
        const std::vector<std::string> atStart = seams::InPlace();
        PutEverySeamInPlace();
        testsupport::FreshProgram();
        QCOMPARE(seams::InPlace(), atStart);
        QVERIFY(std::find(atStart.begin(), atStart.end(), "ticks") == atStart.end());
        QVERIFY(std::find(atStart.begin(), atStart.end(), "file dialog") == atStart.end());
    }

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
        seams::Reset();
        QCOMPARE(seams::FileDialogsShown(), 0);
    }

    void programFolderAndSoundOutputComeBack()
    {
        const std::string own = (seams::Reset(), platform::ProgramFolder());
        seams::SetProgramFolder("/opt/elsewhere");
        QCOMPARE(platform::ProgramFolder(), std::string("/opt/elsewhere"));
        bool gone = false;
        seams::SetAudioDevice(std::make_unique<WatchedDevice>(gone));
        QVERIFY(dynamic_cast<WatchedDevice *>(&platform::CurrentAudioDevice()));
        seams::Reset();
        QVERIFY(gone);
        QCOMPARE(platform::ProgramFolder(), own);
    }
};

QTEST_MAIN(TestSeams)
#include "tst_seams.moc"
