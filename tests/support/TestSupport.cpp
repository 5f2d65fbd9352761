#include "TestSupport.h"

#include "app/Notices.h"
#include "app/Var.h"
#include "platform/Form.h"
#include "platform/Platform.h"
#include "platform/WaveAudio.h"
#include "settings/frmSettings.h"
#include "stimulation/frmEMDR2.h"

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

RecordingAudioDevice &InstallRecordingAudio()
{
    auto device = std::make_unique<RecordingAudioDevice>();
    RecordingAudioDevice &ref = *device;
    platform::SetAudioDevice(std::move(device));
    return ref;
}

std::vector<std::string> &Messages()
{
    static std::vector<std::string> messages;
    return messages;
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
    platform::SetProgramFolder(folder);
    return folder;
}

void FreshProgram()
{
    platform::SetProgramFolder("");
    platform::SetEndProgramHook([] { ++EndRequests(); });
    platform::SetMessageHook(
        [](const std::string &, const std::string &text) { Messages().push_back(text); });
    platform::WaveAudio::SetTraceHook(
        [](const std::string &line) { AudioTrace().push_back(line); });
    for (platform::Form *form : platform::Forms())
        platform::Unload(*form);
    platform::DestroyUnloadedForms();
    Var::Reset();
    notices::Reset();
    Messages().clear();
    EndRequests() = 0;
    AudioTrace().clear();
}

} // namespace testsupport
