#include "AudioDevice.h"

#include "SeamState.h"

#include "SoundOutput.h"

namespace platform {

namespace {

// The real device is made once and kept until the program ends; it finds its way back to
// sound by itself when the sound server goes and comes.
AudioDevice &RealDevice()
{
    static SoundOutput device;
    return device;
}

std::function<void(const std::string &)> &StatusHandler()
{
    static std::function<void(const std::string &)> handler;
    return handler;
}

} // namespace

AudioResult AudioDevice::Sound(int voice, const std::string &path)
{
    AudioResult result = Open(voice, path);
    if (result.ok)
        Play(voice);
    return result;
}

int VoiceNumbers::Take()
{
    for (std::size_t voice = 0; voice < used_.size(); ++voice) {
        if (!used_[voice]) {
            used_[voice] = true;
            return static_cast<int>(voice);
        }
    }
    used_.push_back(true);
    return static_cast<int>(used_.size()) - 1;
}

void VoiceNumbers::Give(int voice)
{
    if (InUse(voice))
        used_[static_cast<std::size_t>(voice)] = false;
}

bool VoiceNumbers::InUse(int voice) const
{
    return voice >= 0 && static_cast<std::size_t>(voice) < used_.size() &&
           used_[static_cast<std::size_t>(voice)];
}

AudioDevice &CurrentAudioDevice()
{
    if (AudioDevice *standIn = seams::detail::ReplacementAudioDevice())
        return *standIn;
    return RealDevice();
}

void PrepareSound()
{
    CurrentAudioDevice();
}

void SetSoundStatusHandler(std::function<void(const std::string &)> handler)
{
    StatusHandler() = std::move(handler);
}

void TellSoundStatus(const std::string &problem)
{
    if (StatusHandler())
        StatusHandler()(problem);
}

} // namespace platform
