#include "SdlAudioDevice.h"
#include "WaveCheck.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_mixer.h>
#include <alsa/asoundlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string StatProblem(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "the file does not exist";
    case EACCES:
        return "the file cannot be reached (no permission)";
    default:
        return std::string("the file cannot be reached (") + std::strerror(error) + ")";
    }
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

bool SdlAudioDevice::Ready() const
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

std::string SdlAudioDevice::DeviceError() const
{
    Ready();
    return deviceError_;
}

int SdlAudioDevice::AllocateVoice()
{
    voices_.push_back(nullptr);
    if (open_)
        EnsureMixerChannels(voices_.size());
    return static_cast<int>(voices_.size()) - 1;
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

void SdlAudioDevice::Play(int voice)
{
    // Nothing can be open before the device is, so there is nothing to open it for here.
    if (!open_ || !ValidVoice(voice))
        return;
    Mix_Chunk *chunk = voices_[static_cast<std::size_t>(voice)];
    if (chunk)
        Mix_PlayChannel(voice, chunk, 0);
}

void SdlAudioDevice::Stop(int voice)
{
    // The voice check matters: channel -1 would halt every voice.
    if (!open_ || !ValidVoice(voice))
        return;
    Mix_HaltChannel(voice);
}

void SdlAudioDevice::Close(int voice)
{
    if (!ValidVoice(voice))
        return;
    if (open_)
        Mix_HaltChannel(voice);
    voices_[static_cast<std::size_t>(voice)] = nullptr;
    if (!retired_.empty())
        FreeUnusedRetired();
}

AudioResult SdlAudioDevice::Sound(int voice, const std::string &path)
{
    AudioResult result = Open(voice, path);
    if (result.ok)
        Play(voice);
    return result;
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
    const auto fail = [&](std::string why) -> Mix_Chunk * {
        // Whatever was kept for this path no longer stands for the file.
        if (auto it = cache_.find(path); it != cache_.end()) {
            Retire(it->second.chunk);
            cache_.erase(it);
        }
        result = {false, std::move(why)};
        return nullptr;
    };

    if (path.empty())
        return fail("no file was named");
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return fail(StatProblem(errno));
    if (S_ISDIR(info.st_mode))
        return fail("it is a folder, not a file");
    // A pipe or a device would make the decoder wait for data that may never come.
    if (!S_ISREG(info.st_mode))
        return fail("it is not an ordinary file");
    if (info.st_size == 0)
        return fail("the file is empty");

    const FileStamp stamp{static_cast<std::uintmax_t>(info.st_size),
                          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                              static_cast<std::int64_t>(info.st_mtim.tv_nsec),
                          static_cast<std::uintmax_t>(info.st_dev),
                          static_cast<std::uintmax_t>(info.st_ino)};
    if (auto it = cache_.find(path); it != cache_.end()) {
        if (it->second.stamp == stamp) {
            if (!it->second.chunk)
                result = {false, it->second.problem};
            return it->second.chunk;
        }
        Retire(it->second.chunk);
        cache_.erase(it);
    }

    if (::access(path.c_str(), R_OK) != 0)
        return fail("the file cannot be read (no permission)");
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
