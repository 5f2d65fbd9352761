// The wave-audio control: a hidden multimedia control driven only by assignments of its
// properties, of which the command carries the action ("Open", "Play", "stop", "close",
// "Sound"). Each control owns one voice of the audio device. Nothing is read back by the
// windows; a failure is passed to the problem handler, which the window decides about.
#pragma once

#include "../Named.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

class AudioDevice;
class Form;

class WaveAudio : public Named
{
public:
    WaveAudio(Form &form, const std::string &name);
    // Gives the control's voice back to the device it came from.
    ~WaveAudio();

    // Property assignments, in the order the caller makes them.
    void SetVisible(bool visible);
    void SetFlag19(bool on);
    void SetFlag14(bool on);
    void SetFlag5(bool on);
    void SetDeviceType(const std::string &deviceType);
    void SetFileName(const std::string &path);
    // "Open" readies the file, silent; "Play" sounds it from its start; "stop" silences the
    // voice; "close" releases it; "Sound" plays the file once with no open or close.
    // Commands are compared exactly; any other text does nothing.
    void SetCommand(const std::string &command);

    // Called with a plain sentence when a file cannot be opened or played, or when there is
    // no sound at all.
    void OnProblem(std::function<void(const std::string &)> handler)
    {
        problem_ = std::move(handler);
    }

private:
    void Trace(const std::string &property, const std::string &value) const;
    void Report(const std::string &text) const;
    std::string fileName_;
    std::string deviceType_;
    int voice_ = -1;
    AudioDevice *device_ = nullptr; // where the voice came from, while it lasts
    std::weak_ptr<const void> deviceLifetime_;
    std::function<void(const std::string &)> problem_;
};

} // namespace platform
