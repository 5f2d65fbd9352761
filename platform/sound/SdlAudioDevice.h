// The sound output straight to the sound card, over SDL2_mixer, for a machine that has no
// sound server: the library decodes the tone files and mixes the voices; this class only maps
// voices to mixer channels and keeps decoded tones.
//
// The sound device is opened once, on the first call that needs it. When it cannot be
// opened the reason is kept and every later call does nothing; the program's output then
// keeps looking for a sound server instead (SoundOutput.h).
//
// Decoded tones are kept by path. A tone is played over and over during a session and each
// one reopens its file, so an open of a file whose size, modification time and identity are
// unchanged costs one stat and no decode. A file that changed is decoded again; the samples
// of the old one are let go as soon as no voice has them open or sounding.
//
// All calls come from the program's one thread; the mixer's own thread only reads samples.
#pragma once

#include "AudioDevice.h"
#include "ToneFile.h"

#include <map>
#include <string>
#include <vector>

struct Mix_Chunk;

namespace platform {

class SdlAudioDevice : public AudioDevice
{
public:
    // Any: whatever output SDL finds first (a sound server included). CardOnly: the sound
    // card through ALSA, for when no sound server answers; SDL_AUDIODRIVER set by the user
    // (or by tests, to its dummy output) still stands.
    enum class Output { Any, CardOnly };

    // The mixer's output: the common rate and channels. Its buffer, in frames: a tone starts
    // at the next buffer the mixer fills, 11.6 ms apart at 512 frames; 256 frames did not
    // keep up, roughly one tone in twenty did not come out intact, and a broken tone is worse
    // for the client than a steady few milliseconds more.
    static constexpr int kRate = kCommonRate;
    static constexpr int kChannels = kCommonChannels;
    static constexpr int kBufferFrames = 512;

    explicit SdlAudioDevice(Output output = Output::Any) : output_(output) {}
    ~SdlAudioDevice() override;

    int AllocateVoice() override;
    void ReleaseVoice(int voice) override;
    AudioResult Open(int voice, const std::string &path) override;
    void Command(int voice, VoiceCommand command) override;
    // Opens the device if that has not been tried yet, so the answer is true from the start.
    std::string DeviceError() override;

    // For tests and measurements; none of these opens the device.
    // How many times a file was read to be decoded (checked, then handed to the decoder),
    // whether it was accepted or not.
    int DecodeCount() const { return decodeCount_; }
    // Decoded tones held in memory: the current one of each path plus old ones still in use.
    int HeldChunkCount() const;
    // Whether the voice is sounding right now.
    bool Sounding(int voice) const;

private:
    struct CachedChunk
    {
        FileStamp stamp;
        Mix_Chunk *chunk = nullptr; // nullptr: the decoder refused the file
        std::string problem;        // why, when it did
    };

    // True when the device is open; opens it on the first call.
    bool Ready();
    bool ValidVoice(int voice) const;
    // The decoded tone of the file, from the cache when the file is unchanged.
    Mix_Chunk *Chunk(const std::string &path, AudioResult &result);
    // Lets go of what was kept for the path.
    void Forget(const std::string &path);
    // Decodes the file and keeps it, or why it was refused, under its stamp.
    Mix_Chunk *Decode(const std::string &path, const FileStamp &stamp, AudioResult &result);
    // Moves a tone out of the cache; it is freed once nothing uses it.
    void Retire(Mix_Chunk *chunk);
    void FreeUnusedRetired();
    bool InUse(const Mix_Chunk *chunk) const;

    Output output_;
    // Opened on the first call that needs it.
    bool tried_ = false;
    bool open_ = false;
    std::string deviceError_;

    // What each voice has open (nullptr: nothing); the voice number is the mixer channel.
    std::vector<Mix_Chunk *> voices_;
    VoiceNumbers numbers_;
    std::map<std::string, CachedChunk> cache_;
    std::vector<Mix_Chunk *> retired_;
    int decodeCount_ = 0;
};

} // namespace platform
