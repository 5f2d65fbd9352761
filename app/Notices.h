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

} // namespace notices
