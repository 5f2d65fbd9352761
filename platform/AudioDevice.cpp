#include "AudioDevice.h"

#include "SdlAudioDevice.h"

namespace platform {

namespace {

// The real device is made once and kept until the program ends: the sound output is opened
// once per program, and a failed open is not tried again.
AudioDevice &RealDevice()
{
    static SdlAudioDevice device;
    return device;
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

} // namespace platform
