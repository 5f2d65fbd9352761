#include "WaveAudio.h"

#include "AudioDevice.h"
#include "SeamState.h"

namespace platform {

namespace {

const char *Bool(bool on)
{
    return on ? "True" : "False";
}
} // namespace

WaveAudio::WaveAudio(Form &, const std::string &name) : Named(name) {}

WaveAudio::~WaveAudio()
{
    if (voice_ >= 0 && !deviceLifetime_.expired())
        device_->ReleaseVoice(voice_);
}

void WaveAudio::Trace(const std::string &property, const std::string &value) const
{
    if (const auto &hook = seams::detail::AudioTraceHook())
        hook(Name() + "." + property + "=" + value);
}

void WaveAudio::Report(const std::string &text) const
{
    if (problem_)
        problem_(text);
}

// The control is never shown; the flags carry no meaning for this device.
void WaveAudio::SetVisible(bool visible)
{
    Trace("Visible", Bool(visible));
}

void WaveAudio::SetFlag19(bool on)
{
    Trace("Flag19", Bool(on));
}

void WaveAudio::SetFlag14(bool on)
{
    Trace("Flag14", Bool(on));
}

void WaveAudio::SetFlag5(bool on)
{
    Trace("Flag5", Bool(on));
}

void WaveAudio::SetDeviceType(const std::string &deviceType)
{
    Trace("DeviceType", deviceType);
    deviceType_ = deviceType;
}

void WaveAudio::SetFileName(const std::string &path)
{
    Trace("FileName", path);
    fileName_ = path;
}

void WaveAudio::SetCommand(const std::string &command)
{
    Trace("Command", command);
    const bool opens = command == "Open" || command == "Sound";
    if (!opens && command != "Play" && command != "stop" && command != "close")
        return;
    AudioDevice &device = CurrentAudioDevice();
    if (voice_ < 0) {
        voice_ = device.AllocateVoice();
        device_ = &device;
        deviceLifetime_ = device.Lifetime();
    }
    if (opens) {
        const std::string deviceProblem = device.DeviceError();
        if (!deviceProblem.empty()) {
            Report(deviceProblem);
            return;
        }
        const AudioResult result =
            command == "Open" ? device.Open(voice_, fileName_) : device.Sound(voice_, fileName_);
        if (!result.ok)
            Report("The tone file \"" + fileName_ + "\" cannot be played: " + result.error + ".");
    } else {
        device.Command(voice_, command == "Play"   ? VoiceCommand::Play
                               : command == "stop" ? VoiceCommand::Stop
                                                   : VoiceCommand::Close);
    }
}

} // namespace platform
