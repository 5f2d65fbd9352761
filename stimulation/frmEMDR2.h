// The stimulation window.
//
// A full-screen window in which the picture Picture1 travels back and forth along the track
// of the chosen pattern, with a tone at each turn: the left tone at the start end, the right
// tone at the far end. Two timers drive it: Timer1, the motion tick, moves the picture one
// step, turns it at the ends and leaves a tone request; Timer2, the tone tick, plays the
// requested tone on that side's channel (MMC left, MMC2 right).
//
// Reads the shared Speed, MoveType, PictureFile, ToneFile, Paused and ToneRequest; writes
// ToneRequest, PassCount, Paused and ToneFiles, and Speed and MoveType from its keys. Reaches
// into the settings window for its tone switch (Soundtones), its slider (Slider1) and its
// pattern buttons (opt1 to opt4), so that the settings window shows what the keys chose.
//
// Positions are twips. The track variables are 32-bit: a 2560-pixel-wide screen is 38400
// twips and would not fit in 16 bits.
#pragma once

#include "forms/frmEMDR2Form.h"

#include <cstdint>
#include <set>
#include <string>

class FrmEMDR2 : public FrmEMDR2Form
{
public:
    FrmEMDR2();

    // Layout and track.
    void Form_Load() override;
    void Form_Resize() override;
    void ResetTrack();
    // Start of a run on every activation.
    void Form_Activate() override;
    // Motion.
    void Timer1_Timer();
    // Tones.
    void OpenToneChannels();
    void Timer2_Timer();
    void PlayTone(int side);
    // Operator controls.
    void Form_KeyPress(int KeyAscii) override;
    void Form_KeyUp(int KeyCode, int Shift) override;
    void Form_GotFocus() override;
    void Form_LostFocus() override;
    void Form_Unload() override;
    void Pause_Click();
    void Settings_Click();
    // The sound line.
    void ShowSoundState(const std::string &problem);
    void SoundLineTimer_Timer();

    // The track: Left and Top of the picture at the start end and at the far end, the signed
    // move per tick, and the ticks per leg.
    std::int32_t StartX = 0;
    std::int32_t StartY = 0;
    std::int32_t EndX = 0;
    std::int32_t EndY = 0;
    std::int32_t StepX = 0;
    std::int32_t StepY = 0;
    std::int32_t Steps = 0;
    // Position of the first "_" in ToneFile, found by the tone pair rule.
    std::int32_t TonePrefix = 0;

private:
    void FarEndTurn();
    void StartEndTurn(bool toStartEnd);
    void SelectPattern(int pattern);
    void LoadChosenPicture();
    void ReportToneProblem(const std::string &text);
    void PlaceSoundLine();
    void HideSoundLine();

    std::set<std::string> refusedPictures_; // the pictures refused, each told about once
};

extern platform::FormRef<FrmEMDR2> frmEMDR2;
