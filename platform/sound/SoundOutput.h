// The program's real sound output: the desktop's sound server when one answers, the sound
// card directly (through SDL2_mixer) on a machine that has no sound server at all.
//
// The server is looked for as soon as the output is made, at the start of the program, so
// that it is ready before the first preview and the first turn. When no server answers at
// the start, the sound card is tried; when neither gives sound the tones are silent, the
// practitioner is told once, and the server is looked for again every second: the moment one
// answers, its tones are heard. When a server goes away during a session the same holds, and
// when it is back the voices are given their files again so that the next turn sounds.
//
// The state is told to the program on its own thread through the status handler (see
// AudioDevice.h): the problem while it lasts, then empty when sound is heard again.
#pragma once

#include "AudioDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

class PulseAudioDevice;
class SdlAudioDevice;

class SoundOutput : public AudioDevice
{
public:
    SoundOutput();
    ~SoundOutput() override;

    // Both outputs hold the same voices under the same numbers, so that either can sound
    // them. There is no device error: files are opened whether or not sound can be heard
    // now; see Problem().
    int AllocateVoice() override;
    void ReleaseVoice(int voice) override;
    AudioResult Open(int voice, const std::string &path) override;
    void Command(int voice, VoiceCommand command) override;

    // Why no tones can be heard now; empty while they can (or while the server is still
    // being reached at the start).
    const std::string &Problem() const { return problem_; }
    // Which output sounds the tones: "server", "card" or "none".
    std::string Route() const;
    // Looks again at the server's state and acts on it. Runs on the program's thread, posted
    // there whenever the server's state changes; tests may call it directly.
    void Refresh();

private:
    AudioDevice *Active() const;
    bool TryCard();
    void SwitchTo(AudioDevice *device);
    void SetProblem(const std::string &problem);

    std::unique_ptr<PulseAudioDevice> server_;
    std::unique_ptr<SdlAudioDevice> card_;
    bool cardTried_ = false;
    AudioDevice *active_ = nullptr;
    VoiceNumbers numbers_;
    std::vector<std::string> files_; // what each voice has open, to give it again
    std::string problem_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform
