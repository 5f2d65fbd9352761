// What the platform layer reads of the seams (Seams.h) where it would otherwise reach the
// world. Only the platform layer's own files include this.
#pragma once

#include "Seams.h"

#include <optional>

namespace platform::seams::detail {

const std::function<void()> &EndProgramHook();
const MessageHook &MessageBoxHook();
// Counts a showing of the dialog, keeps it as the last one shown, and hands over the next
// answer given to the dialog, if any.
std::optional<std::string> TakeFileDialogAnswer(const CommonDialog &shown);
const std::function<void(const std::string &)> &AudioTraceHook();
const TickObserver &TickObserverHook();
AudioDevice *ReplacementAudioDevice();
const std::function<void(bool)> &ScreenAwakeHook();
const std::string &ProgramFolder();

} // namespace platform::seams::detail
