// The variables that the three windows share. The settings window writes the practitioner's
// choices here, the stimulation window reads them on its ticks and its keys write some of
// them back, and the motion timer hands each tone to the tone timer through ToneRequest.
// Every run starts from the values below; nothing is saved.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace Var {

// Speed value, not the step: a digit key d gives 10d - 5 (5..85), the slider v 7v + 23
// (30..86). Larger is faster.
inline std::int16_t Speed = 0;
// 1 horizontal "--", 2 vertical "|", 3 diagonal "\", 4 diagonal "/"; 0 before the settings
// window has loaded.
inline std::int16_t MoveType = 0;
// Full path of the travelling picture; no value at all until first assigned.
inline std::optional<std::string> PictureFile;
// 0 no tone pending, 1 left, 2 right. A new request replaces one not yet served.
inline std::int16_t ToneRequest = 0;
// 1 paused; any other value runs.
inline std::int16_t Paused = 0;
// Passes completed since the last reset. Held in 32 bits so that a long session at high
// speed counts on past 32767 instead of failing mid-session.
inline std::int32_t PassCount = 0;
// The tone the practitioner chose; its text up to its first "_" names the pair.
inline std::string ToneFile;
// The pair actually played: left, right.
inline std::array<std::string, 2> ToneFiles;

// Back to the start values (for tests, which run many program lives in one process).
void Reset();

} // namespace Var

// The tone pair rule, in two halves so that a window can find the "_" first and build the
// pair later in the same handler.
//
// FindTonePrefix: the 1-based position of the first "_" in ToneFile, 0 when there is none.
std::int32_t FindTonePrefix();
// BuildTonePair: ToneFiles from that position. Without a "_" the pair is the program's folder
// followed by the fallback paths (which begin with "\"); otherwise ToneFile up to and
// including its first "_", followed by "l.wav" and by "r.wav". Entry 0 is written first.
void BuildTonePair(std::int32_t underscore, const std::string &fallbackLeft,
                   const std::string &fallbackRight);
// Both halves; returns the position found.
std::int32_t DeriveTonePair(const std::string &fallbackLeft, const std::string &fallbackRight);

// The fallback pairs.
inline constexpr const char *kBeepLeft = "\\Tones\\beep_l.wav";
inline constexpr const char *kBeepRight = "\\Tones\\beep_r.wav";
inline constexpr const char *kLoadLeft = "\\Tones\\left1.wav";
inline constexpr const char *kLoadRight = "\\Tones\\right1.wav";
