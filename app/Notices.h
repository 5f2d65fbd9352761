// Problems the practitioner is told about without a box in front of a running stimulation:
// each one once, on standard error and in the notice line of the settings window, where it is
// seen when that window is next visible.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace notices {

// Tells a problem, unless the same words were told before in this run.
void TellOnce(const std::string &text);
// Everything told so far, oldest first.
const std::vector<std::string> &Told();
// The settings window shows each new problem through this.
void SetSink(std::function<void(const std::string &)> sink);
// Forgets what was told (tests).
void Reset();

// Whether tones can be heard. The sound output tells each change: the problem while it lasts,
// an empty text once sound is back. A new problem goes to standard error and to the settings
// window's notice; the notice lets it go again when sound is back.
void SetSoundProblem(const std::string &problem);
const std::string &SoundProblem();
// The settings window takes a problem that no longer holds out of its notice through this.
void SetWithdrawSink(std::function<void(const std::string &)> sink);
// The stimulation window shows the sound state on its own line through this: called with the
// problem, or with an empty text when sound is back.
void SetSoundSink(std::function<void(const std::string &)> sink);

} // namespace notices
