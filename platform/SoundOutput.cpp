#include "SoundOutput.h"

#include "Platform.h"
#include "PulseAudioDevice.h"
#include "SdlAudioDevice.h"

#include <memory>

namespace platform {

SoundOutput::SoundOutput()
{
    // A look posted to the program's thread may run after the output is gone (at the end of
    // the program, or of a test): it holds only a weak reference to the output's token.
    server_ = std::make_unique<PulseAudioDevice>([this, guard = std::weak_ptr<bool>(alive_)] {
        PostToProgram([this, guard] {
            if (!guard.expired())
                Refresh();
        });
    });
    Refresh();
}

SoundOutput::~SoundOutput() = default;

AudioDevice *SoundOutput::Active() const
{
    return active_;
}

std::string SoundOutput::Route() const
{
    if (active_ == server_.get())
        return server_->CurrentLink() == PulseAudioDevice::Link::Ready ? "server" : "none";
    if (card_ && active_ == card_.get())
        return "card";
    return "none";
}

void SoundOutput::Refresh()
{
    switch (server_->CurrentLink()) {
    case PulseAudioDevice::Link::Ready:
        if (card_) {
            // A server appeared: it takes the tones, and the card is let go for it.
            active_ = nullptr;
            card_.reset();
        }
        SwitchTo(server_.get());
        SetProblem({});
        break;
    case PulseAudioDevice::Link::Connecting:
        // The first answer is a few milliseconds away: the server's voices take the files.
        if (!active_)
            SwitchTo(server_.get());
        break;
    case PulseAudioDevice::Link::Lost:
        if (!server_->EverReady() && !cardTried_) {
            // No server at the start: this may be a machine without one, whose sound card is
            // there to be used directly.
            cardTried_ = true;
            auto card = std::make_unique<SdlAudioDevice>(SdlAudioDevice::Output::CardOnly);
            if (card->DeviceError().empty()) {
                card_ = std::move(card);
                for (std::size_t i = 0; i < files_.size(); ++i)
                    card_->AllocateVoice();
                SwitchTo(card_.get());
                SetProblem({});
                return;
            }
        }
        if (card_ && active_ == card_.get())
            return;
        SwitchTo(server_.get());
        // The library's own reason ("Connection refused") says nothing to a practitioner.
        SetProblem(server_->EverReady()
                       ? "No tones can be heard: the sound server stopped answering. The "
                         "program keeps trying to reach it."
                       : "No tones can be heard: no sound server answers. The program keeps "
                         "looking for one.");
        break;
    }
}

// The voices open their files on the device that now sounds, so the next "Play" is heard.
void SoundOutput::SwitchTo(AudioDevice *device)
{
    if (active_ == device)
        return;
    active_ = device;
    for (std::size_t voice = 0; voice < files_.size(); ++voice) {
        if (!files_[voice].empty())
            device->Open(static_cast<int>(voice), files_[voice]);
    }
}

void SoundOutput::SetProblem(const std::string &problem)
{
    if (problem_ == problem)
        return;
    problem_ = problem;
    TellSoundStatus(problem_);
}

int SoundOutput::AllocateVoice()
{
    const int voice = server_->AllocateVoice();
    if (card_)
        card_->AllocateVoice();
    files_.emplace_back();
    return voice;
}

AudioResult SoundOutput::Open(int voice, const std::string &path)
{
    if (voice < 0 || static_cast<std::size_t>(voice) >= files_.size())
        return {false, "there is no such voice"};
    files_[static_cast<std::size_t>(voice)] = path;
    return Active()->Open(voice, path);
}

void SoundOutput::Play(int voice)
{
    Active()->Play(voice);
}

void SoundOutput::Stop(int voice)
{
    Active()->Stop(voice);
}

void SoundOutput::Close(int voice)
{
    if (voice >= 0 && static_cast<std::size_t>(voice) < files_.size())
        files_[static_cast<std::size_t>(voice)].clear();
    Active()->Close(voice);
}

AudioResult SoundOutput::Sound(int voice, const std::string &path)
{
    AudioResult result = Open(voice, path);
    if (result.ok)
        Play(voice);
    return result;
}

} // namespace platform
