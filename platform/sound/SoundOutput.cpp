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
        if (!server_->EverReady() && !cardTried_ && TryCard())
            return;
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

// No server at the start: this may be a machine without one, whose sound card is there to
// be used directly. True when the card sounds the tones from now on.
bool SoundOutput::TryCard()
{
    cardTried_ = true;
    auto card = std::make_unique<SdlAudioDevice>(SdlAudioDevice::Output::CardOnly);
    if (!card->DeviceError().empty())
        return false;
    card_ = std::move(card);
    // The card's voices take the numbers the server's have.
    for (std::size_t i = 0; i < numbers_.Count(); ++i)
        card_->AllocateVoice();
    for (std::size_t i = 0; i < numbers_.Count(); ++i) {
        if (!numbers_.InUse(static_cast<int>(i)))
            card_->ReleaseVoice(static_cast<int>(i));
    }
    SwitchTo(card_.get());
    SetProblem({});
    return true;
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
    const int voice = numbers_.Take();
    server_->AllocateVoice();
    if (card_)
        card_->AllocateVoice();
    files_.resize(numbers_.Count());
    return voice;
}

void SoundOutput::ReleaseVoice(int voice)
{
    if (!numbers_.InUse(voice))
        return;
    files_[static_cast<std::size_t>(voice)].clear();
    server_->ReleaseVoice(voice);
    if (card_)
        card_->ReleaseVoice(voice);
    numbers_.Give(voice);
}

AudioResult SoundOutput::Open(int voice, const std::string &path)
{
    if (voice < 0 || static_cast<std::size_t>(voice) >= files_.size())
        return {false, "there is no such voice"};
    files_[static_cast<std::size_t>(voice)] = path;
    return Active()->Open(voice, path);
}

void SoundOutput::Command(int voice, VoiceCommand command)
{
    if (command == VoiceCommand::Close && voice >= 0 &&
        static_cast<std::size_t>(voice) < files_.size())
        files_[static_cast<std::size_t>(voice)].clear();
    Active()->Command(voice, command);
}

} // namespace platform
