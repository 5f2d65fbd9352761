// Feeds arbitrary bytes to the real sound device as a tone file: opened on a voice, played,
// stopped and closed, as the stimulation window does at every turn. SDL's dummy output stands
// in for a sound card. Whatever the bytes, the device must answer: the tone is ready, or a
// reason in words; and nothing of a tone may stay held once its file is gone.
#include "FuzzInput.h"
#include "platform/sound/SdlAudioDevice.h"
#include "platform/sound/ToneFile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::unique_ptr<platform::SdlAudioDevice> g_device;
int g_voice = -1;
std::string g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    g_device = std::make_unique<platform::SdlAudioDevice>();
    g_voice = g_device->AllocateVoice();
    if (!g_device->DeviceError().empty()) {
        std::fprintf(stderr, "fuzz_tone: %s\n", g_device->DeviceError().c_str());
        std::abort();
    }
    g_path = fuzzinput::ScratchFolder("fuzz_tone") + "/input.wav";
    return 0;
}

namespace {

// The decoder of the sound-server output, from the same bytes: a tone it accepts is whole
// frames of a rate and channel count the output takes; a refusal says why.
void DecodeForServer(const std::uint8_t *data, std::size_t size)
{
    std::string problem;
    const auto tone = platform::DecodeToneBytes(data, size, problem);
    if (!tone) {
        if (problem.empty())
            __builtin_trap();
        return;
    }
    if (tone->channels < 1 || tone->channels > 32 || tone->rate < 1 || tone->rate > 384000 ||
        tone->samples.empty() || tone->samples.size() % static_cast<std::size_t>(tone->channels))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    DecodeForServer(data, size);
    fuzzinput::WriteInput(g_path, data, size);
    const int decodedBefore = g_device->DecodeCount();
    const platform::AudioResult result = g_device->Open(g_voice, g_path);
    if (!result.ok && result.error.empty())
        __builtin_trap(); // a refusal always says why
    // Every non-empty file is handed to the decoder afresh: each input has its own name's
    // cache entry dropped below, so nothing may be answered from an earlier input.
    if (size > 0 && g_device->DecodeCount() != decodedBefore + 1)
        __builtin_trap();
    if (result.ok) {
        g_device->Play(g_voice);
        g_device->Stop(g_voice);
    }
    g_device->Close(g_voice);
    // Gone from the disk, the file's tone is let go at its next open.
    std::remove(g_path.c_str());
    if (g_device->Open(g_voice, g_path).ok)
        __builtin_trap();
    g_device->Close(g_voice);
    if (g_device->HeldChunkCount() != 0)
        __builtin_trap();
    return 0;
}
