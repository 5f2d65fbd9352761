#include "TestSupport.h"

#include "platform/Platform.h"
#include "platform/Seams.h"
#include "platform/forms/CommonDialog.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/forms/Toolkit.h"
#include "platform/sound/WaveAudio.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace testsupport {

platform::AudioResult RecordingAudioDevice::Open(int voice, const std::string &path)
{
    calls.push_back("Open " + std::to_string(voice) + " " + path);
    if (std::find(failing.begin(), failing.end(), path) != failing.end())
        return {false, "the file is not a wave file"};
    return {};
}

void RecordingAudioDevice::Command(int voice, platform::VoiceCommand command)
{
    const char *name = command == platform::VoiceCommand::Play   ? "Play "
                       : command == platform::VoiceCommand::Stop ? "Stop "
                                                                 : "Close ";
    calls.push_back(name + std::to_string(voice));
}

platform::AudioResult RecordingAudioDevice::Sound(int voice, const std::string &path)
{
    calls.push_back("Sound " + std::to_string(voice) + " " + path);
    if (std::find(failing.begin(), failing.end(), path) != failing.end())
        return {false, "the file is not a wave file"};
    return {};
}

FrmEMDR2 &StillWindow()
{
    frmSettings.Get();
    FrmEMDR2 &window = frmEMDR2.Get();
    window.Timer1.SetEnabled(false);
    window.Timer2.SetEnabled(false);
    return window;
}

void HoldStimulationStill()
{
    if (frmEMDR2.IsLoaded()) {
        frmEMDR2->Timer1.SetEnabled(false);
        frmEMDR2->Timer2.SetEnabled(false);
    }
}

Track TrackOf(const FrmEMDR2 &window)
{
    return {window.StartX, window.StartY, window.EndX, window.EndY};
}

char *toString(const Track &track)
{
    return QTest::toString(QString("(%1, %2) to (%3, %4)")
                               .arg(track.startX)
                               .arg(track.startY)
                               .arg(track.endX)
                               .arg(track.endY));
}

void TextRows(const char *column, std::initializer_list<std::pair<const char *, const char *>> rows)
{
    QTest::addColumn<QString>(column);
    for (const auto &[name, value] : rows)
        QTest::newRow(name) << QString(value);
}

void YesNoRows(const char *column, const char *whenNo, const char *whenYes)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenNo) << false;
    QTest::newRow(whenYes) << true;
}

RecordingAudioDevice &InstallRecordingAudio()
{
    auto device = std::make_unique<RecordingAudioDevice>();
    RecordingAudioDevice &ref = *device;
    platform::seams::SetAudioDevice(std::move(device));
    return ref;
}

std::vector<std::string> &Messages()
{
    static std::vector<std::string> messages;
    return messages;
}

std::vector<bool> &ScreenHolds()
{
    static std::vector<bool> holds;
    return holds;
}

int &EndRequests()
{
    static int count = 0;
    return count;
}

std::vector<std::string> &AudioTrace()
{
    static std::vector<std::string> trace;
    return trace;
}

std::string UseFixedProgramFolder()
{
#ifdef _WIN32
    const std::string folder = "C:\\Program Files\\Tarrowin";
#else
    const std::string folder = "/opt/tarrowin";
#endif
    platform::seams::SetProgramFolder(folder);
    return folder;
}

void FreshSeams()
{
    platform::seams::Reset();
}

namespace {
// Nothing modal or final happens: messages are collected, the end of the program is counted,
// every assignment of a wave-audio control is traced, and the screen is held awake on paper.
void HoldTheWorld()
{
    platform::seams::SetEndProgramHook([] { ++EndRequests(); });
    platform::seams::SetMessageHook(
        [](const std::string &, const std::string &text) { Messages().push_back(text); });
    platform::seams::SetAudioTraceHook(
        [](const std::string &line) { AudioTrace().push_back(line); });
    platform::seams::SetScreenAwakeHook([](bool hold) { ScreenHolds().push_back(hold); });
}
} // namespace

void CloseWindows()
{
    for (platform::Form *form : platform::Forms())
        platform::Unload(*form);
    platform::DestroyUnloadedForms();
}

void FreshProgram()
{
    // The windows go while the case's sound device is still in place, and with hooks of
    // this file's own, so that nothing a case left behind runs as they unload.
    HoldTheWorld();
    CloseWindows();
    FreshSeams();
    HoldTheWorld();
    Var::Reset();
    notices::Reset();
    Messages().clear();
    EndRequests() = 0;
    AudioTrace().clear();
    ScreenHolds().clear();
}

RecordingAudioDevice &FreshCase()
{
    FreshProgram();
    return InstallRecordingAudio();
}

std::vector<std::string> TraceOf(const std::string &prefix)
{
    std::vector<std::string> lines;
    for (const std::string &line : AudioTrace())
        if (line.starts_with(prefix))
            lines.push_back(line);
    return lines;
}

bool Traced(const std::string &line)
{
    const auto &trace = AudioTrace();
    return std::find(trace.begin(), trace.end(), line) != trace.end();
}

QString InFolder(const QString &suffix)
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + suffix);
}

QString InProgram(const QString &row)
{
    if (!row.startsWith("P/"))
        return row;
    QString suffix = row.mid(1);
    suffix.replace('/', '\\');
    return Q(platform::InProgramFolder(suffix.toStdString()));
}

QStringList TonePair()
{
    return {Q(Var::ToneFiles[0]), Q(Var::ToneFiles[1])};
}

bool ShowActive(platform::Form &form)
{
    form.Show();
    QWidget *window = platform::SurfaceOf(form)->window();
    window->activateWindow();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; });
}

void RunEventLoop(int milliseconds)
{
    QTimer::singleShot(milliseconds, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

platform::OptionButton &PatternButton(int pattern)
{
    platform::OptionButton *buttons[] = {&frmSettings->opt1, &frmSettings->opt2, &frmSettings->opt3,
                                         &frmSettings->opt4};
    return *buttons[pattern - 1];
}

int SelectedPattern()
{
    int selected = 0;
    for (int n = 1; n <= 4; ++n)
        if (PatternButton(n).Value())
            selected = selected == 0 ? n : -1;
    return selected;
}

platform::Control *SettingsControl(const QString &name)
{
    FrmSettings &w = frmSettings.Get();
    platform::Control *all[] = {&w.Frame1,     &w.opt1,        &w.opt2,     &w.opt3,
                                &w.opt4,       &w.Label6,      &w.Label5,   &w.Label4,
                                &w.Label3,     &w.Label1,      &w.Slider1,  &w.Label2,
                                &w.Command1,   &w.Image1,      &w.Command2, &w.CounterOption,
                                &w.Soundtones, &w.cmdContinue, &w.Quit,     &w.Notice};
    for (platform::Control *control : all)
        if (Q(control->Name()) == name)
            return control;
    return nullptr;
}

QWidget *FocusSettingsControl(const QString &name)
{
    platform::Control *control = SettingsControl(name);
    if (!control || !ShowActive(frmSettings.Get()))
        return nullptr;
    control->SetFocus();
    return QApplication::focusWidget() == platform::WidgetOf(*control)
               ? platform::WidgetOf(*control)
               : nullptr;
}

} // namespace testsupport
