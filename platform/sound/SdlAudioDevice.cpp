#include "SdlAudioDevice.h"
#include "WaveCheck.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_mixer.h>
#include <alsa/asoundlib.h>

#include <unistd.h>

#include <string>

namespace platform {

namespace {

std::string SdlReason()
{
    const char *reason = SDL_GetError();
    return reason && *reason ? reason : "no reason was given";
}

// The ALSA library writes every failure of its own to the terminal ("ALSA lib ..."), also
// those of trying an output that is not there; the program says what matters in its own
// words.
void QuietAlsa(const char *, int, const char *, int, const char *, ...) {}

// Opens the sound output; on failure leaves SDL as it was and says why.
bool OpenOutput(SdlAudioDevice::Output output, std::string &error)
{
    snd_lib_error_set_handler(&QuietAlsa);
    if (output == SdlAudioDevice::Output::CardOnly)
        SDL_SetHint(SDL_HINT_AUDIODRIVER, "alsa");
    // The program handles its own interrupt and termination; SDL must not turn them into
    // quit events that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The name the sound server shows for the program's stream.
    SDL_SetHint(SDL_HINT_APP_NAME, "Tarrowin");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error =
            "No tones can be heard: the sound system could not be started (" + SdlReason() + ").";
        return false;
    }
    if (Mix_OpenAudio(SdlAudioDevice::kRate, AUDIO_S16SYS, SdlAudioDevice::kChannels,
                      SdlAudioDevice::kBufferFrames) != 0) {
        error =
            "No tones can be heard: the sound output could not be opened (" + SdlReason() + ").";
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

int MixerChannels()
{
    return Mix_AllocateChannels(-1);
}

void EnsureMixerChannels(std::size_t voices)
{
    const int wanted = static_cast<int>(voices);
    // Only ever grows: shrinking would halt the channels that go.
    if (wanted > MixerChannels())
        Mix_AllocateChannels(wanted);
}

} // namespace

SdlAudioDevice::~SdlAudioDevice()
{
    if (!open_)
        return;
    Mix_HaltChannel(-1);
    for (auto &[path, cached] : cache_)
        Mix_FreeChunk(cached.chunk);
    for (Mix_Chunk *chunk : retired_)
        Mix_FreeChunk(chunk);
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlAudioDevice::Ready()
{
    if (!tried_) {
        tried_ = true;
        open_ = OpenOutput(output_, deviceError_);
        if (open_)
            EnsureMixerChannels(voices_.size());
    }
    return open_;
}

bool SdlAudioDevice::ValidVoice(int voice) const
{
    return voice >= 0 && static_cast<std::size_t>(voice) < voices_.size();
}

std::string SdlAudioDevice::DeviceError()
{
    Ready();
    return deviceError_;
}

int SdlAudioDevice::AllocateVoice()
{
    const int voice = numbers_.Take();
    voices_.resize(numbers_.Count(), nullptr);
    if (open_)
        EnsureMixerChannels(voices_.size());
    return voice;
}

void SdlAudioDevice::ReleaseVoice(int voice)
{
    Close(voice);
    numbers_.Give(voice);
}

AudioResult SdlAudioDevice::Open(int voice, const std::string &path)
{
    if (!Ready())
        return {false, deviceError_};
    if (!ValidVoice(voice))
        return {false, "there is no such voice"};
    // Let go of what the voice had first, so that a changed file's old samples are not
    // held back by the very voice that is replacing them.
    Mix_Chunk *&open = voices_[static_cast<std::size_t>(voice)];
    open = nullptr;
    AudioResult result;
    open = Chunk(path, result);
    return result;
}

// Nothing can be open before the device is, so a voice of a device that is not open has
// nothing to sound or to halt. The voice check matters: channel -1 would halt every voice.
void SdlAudioDevice::Command(int voice, VoiceCommand command)
{
    if (!ValidVoice(voice))
        return;
    Mix_Chunk *&open = voices_[static_cast<std::size_t>(voice)];
    if (command == VoiceCommand::Play) {
        if (open_ && open)
            Mix_PlayChannel(voice, open, 0);
        return;
    }
    if (open_)
        Mix_HaltChannel(voice);
    if (command == VoiceCommand::Close) {
        open = nullptr;
        if (!retired_.empty())
            FreeUnusedRetired();
    }
}

bool SdlAudioDevice::Sounding(int voice) const
{
    return open_ && ValidVoice(voice) && Mix_Playing(voice) != 0;
}

int SdlAudioDevice::HeldChunkCount() const
{
    std::size_t held = retired_.size();
    for (const auto &[path, cached] : cache_)
        held += cached.chunk ? 1 : 0;
    return static_cast<int>(held);
}

Mix_Chunk *SdlAudioDevice::Chunk(const std::string &path, AudioResult &result)
{
    FileStamp stamp;
    std::string problem = StampOf(path, stamp);
    if (problem.empty()) {
        if (auto it = cache_.find(path); it != cache_.end() && it->second.stamp == stamp) {
            if (!it->second.chunk)
                result = {false, it->second.problem};
            return it->second.chunk;
        }
    }
    // Whatever was kept for this path no longer stands for the file.
    Forget(path);
    if (problem.empty() && ::access(path.c_str(), R_OK) != 0)
        problem = "the file cannot be read (no permission)";
    if (!problem.empty()) {
        result = {false, std::move(problem)};
        return nullptr;
    }
    return Decode(path, stamp, result);
}

void SdlAudioDevice::Forget(const std::string &path)
{
    if (auto it = cache_.find(path); it != cache_.end()) {
        Retire(it->second.chunk);
        cache_.erase(it);
    }
}

Mix_Chunk *SdlAudioDevice::Decode(const std::string &path, const FileStamp &stamp,
                                  AudioResult &result)
{
    ++decodeCount_;
    // Some files the library would take and then free twice are turned away first.
    const std::string problem = WaveFileProblem(path);
    Mix_Chunk *chunk = problem.empty() ? Mix_LoadWAV(path.c_str()) : nullptr;
    CachedChunk &cached = cache_[path];
    cached.stamp = stamp;
    cached.chunk = chunk;
    // A file the decoder refused is remembered too: every tone reopens its file, and a large
    // file of another kind must not be read through again each time until it changes.
    if (!chunk) {
        cached.problem =
            problem.empty() ? "not a wave file the program can play: " + SdlReason() : problem;
        result = {false, cached.problem};
    }
    return chunk;
}

void SdlAudioDevice::Retire(Mix_Chunk *chunk)
{
    if (!chunk)
        return;
    retired_.push_back(chunk);
    FreeUnusedRetired();
}

bool SdlAudioDevice::InUse(const Mix_Chunk *chunk) const
{
    for (const Mix_Chunk *open : voices_) {
        if (open == chunk)
            return true;
    }
    const int channels = MixerChannels();
    for (int channel = 0; channel < channels; ++channel) {
        if (Mix_Playing(channel) && Mix_GetChunk(channel) == chunk)
            return true;
    }
    return false;
}

// Freeing a chunk halts any channel still sounding it, so only the ones that are silent and
// open on no voice go; the rest wait for a later look.
void SdlAudioDevice::FreeUnusedRetired()
{
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (InUse(*it)) {
            ++it;
        } else {
            Mix_FreeChunk(*it);
            it = retired_.erase(it);
        }
    }
}

} // namespace platform
