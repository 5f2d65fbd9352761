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
#include <vector>

namespace platform {

// The most common kind of tone, 44.1 kHz stereo: the sound card's mixer runs at it, and the
// sound server keeps a stream of it ready.
constexpr int kCommonRate = 44100;
constexpr int kCommonChannels = 2;

struct AudioResult
{
    bool ok = true;
    std::string error; // plain words, naming the reason; empty when ok
};

// What a voice is told to do with the file it has open.
enum class VoiceCommand {
    Play,  // sound it from its start; nothing when nothing is open
    Stop,  // silence the voice; what it has open stays open
    Close, // silence the voice and let go of what it has open
};

class AudioDevice
{
public:
    AudioDevice() = default;
    AudioDevice(const AudioDevice &) = delete;
    AudioDevice &operator=(const AudioDevice &) = delete;
    virtual ~AudioDevice() = default;

    // A fresh voice for one control: the number of a voice given back earlier, if any.
    virtual int AllocateVoice() = 0;
    // The control is gone: its voice falls silent, lets go of what it has open and of what
    // the device keeps for it, and its number is given out again.
    virtual void ReleaseVoice(int voice) = 0;
    // Ready the file on the voice, silent. Reopening an unchanged file reuses its samples.
    virtual AudioResult Open(int voice, const std::string &path) = 0;
    virtual void Command(int voice, VoiceCommand command) = 0;
    void Play(int voice) { Command(voice, VoiceCommand::Play); }
    void Stop(int voice) { Command(voice, VoiceCommand::Stop); }
    void Close(int voice) { Command(voice, VoiceCommand::Close); }
    // Play the file once on the voice, without an open or close of the caller's.
    virtual AudioResult Sound(int voice, const std::string &path);
    // A lasting reason why no file can be opened at all (the device could not be made);
    // empty when files can be opened. A device made on first use is made here if that was
    // not tried yet. The program's real output opens files whether or not sound can be heard
    // at the moment, and tells that through the status handler below.
    virtual std::string DeviceError() { return {}; }

    // Expires with the device: a control that outlives it has no voice to give back.
    std::weak_ptr<const void> Lifetime() const { return lifetime_; }

private:
    std::shared_ptr<const bool> lifetime_ = std::make_shared<const bool>(true);
};

// The voice numbers a device has given out. A number given back is the next one given out
// again, so that windows opened and closed over and over do not grow the voices.
class VoiceNumbers
{
public:
    int Take();
    void Give(int voice);
    bool InUse(int voice) const;
    // How many numbers were ever given out: every number in use is below it.
    std::size_t Count() const { return used_.size(); }

private:
    std::vector<bool> used_;
};

// The device of the program: the real one, opened on first use, unless tests put their own
// in its place (Seams.h).
AudioDevice &CurrentAudioDevice();
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
