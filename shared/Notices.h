// Problems the practitioner is told about without a box in front of a running stimulation:
// each one once on standard error, and in the notice line of the settings window for as long
// as it holds, where it is seen when that window is next visible.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace notices {

// Tells a problem: it joins the problems that hold, unless it is among them already. It is
// written to standard error the first time only, however often it comes back.
void TellOnce(const std::string &text);
// A problem that no longer holds: it leaves the problems that hold.
void Withdraw(const std::string &text);
// Everything told so far, oldest first, withdrawn or not.
const std::vector<std::string> &Told();
// The problems that hold, oldest first.
const std::vector<std::string> &Holding();
// The settings window follows the problems that hold through this: it is called after each
// change of them.
void SetSink(std::function<void()> sink);
// Forgets what was told (tests).
void Reset();

// Whether tones can be heard. The sound output tells each change: the problem while it lasts,
// an empty text once sound is back. A problem holds, and is written to standard error, each
// time sound is lost; it stops holding when sound is back.
void SetSoundProblem(const std::string &problem);
const std::string &SoundProblem();
// The stimulation window shows the sound state on its own line through this: called with the
// problem, or with an empty text when sound is back.
void SetSoundSink(std::function<void(const std::string &)> sink);

} // namespace notices
