#include "AudioDevice.h"

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

std::unique_ptr<AudioDevice> &ReplacementDevice()
{
    static std::unique_ptr<AudioDevice> device;
    return device;
}

} // namespace

AudioDevice &CurrentAudioDevice()
{
    if (const std::unique_ptr<AudioDevice> &replacement = ReplacementDevice())
        return *replacement;
    return RealDevice();
}

void SetAudioDevice(std::unique_ptr<AudioDevice> device)
{
    ReplacementDevice() = std::move(device);
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
