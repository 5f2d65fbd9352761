// The sound output behind every wave-audio control.
//
// Each wave-audio control owns one voice of the device, so a tone on one control and a
// tone on another are independent and stopping one leaves the other sounding. The device
// decodes and mixes; the controls only say what to do with their voice. Nothing here
// blocks: a call returns within a fraction of a millisecond whether or not a device exists.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

struct AudioResult
{
    bool ok = true;
    std::string error; // plain words, naming the reason; empty when ok
};

class AudioDevice
{
public:
    virtual ~AudioDevice() = default;

    // A fresh voice for one control.
    virtual int AllocateVoice() = 0;
    // Ready the file on the voice, silent. Reopening an unchanged file reuses its samples.
    virtual AudioResult Open(int voice, const std::string &path) = 0;
    // Sound what the voice has open from its start; nothing when nothing is open.
    virtual void Play(int voice) = 0;
    // Silence the voice; what it has open stays open.
    virtual void Stop(int voice) = 0;
    // Silence the voice and let go of what it has open.
    virtual void Close(int voice) = 0;
    // Play the file once on the voice, without an open or close of the caller's.
    virtual AudioResult Sound(int voice, const std::string &path) = 0;
    // A lasting reason why no file can be opened at all (the device could not be made);
    // empty when files can be opened. The program's real output opens files whether or not
    // sound can be heard at the moment, and tells that through the status handler below.
    virtual std::string DeviceError() const = 0;
};

// The device of the program: the real one, opened on first use, unless tests put their own.
AudioDevice &CurrentAudioDevice();
// Replaces the device (tests put a recording stand-in here). Passing nothing goes back to
// the real device on the next use.
void SetAudioDevice(std::unique_ptr<AudioDevice> device);
// Makes the real device now, unless tests put their own: it starts looking for the sound
// server at once, so that sound is ready before the first tone is asked for.
void PrepareSound();

// Tells the program whether tones can be heard: the problem in plain words while it lasts,
// then an empty text when sound is back. Always called on the program's thread, and only
// when the state changes.
void SetSoundStatusHandler(std::function<void(const std::string &problem)> handler);
// For the devices: passes a change of state to the handler.
void TellSoundStatus(const std::string &problem);

} // namespace platform
