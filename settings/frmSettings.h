// The settings window.
//
// Where the practitioner prepares a run: speed (Slider1), pattern (opt1 to opt4), tones
// (Soundtones), pass count (CounterOption), picture and tone (Command1, Command2). Continue
// starts the run on the stimulation window; Quit ends the program at once.
//
// Writes the shared Speed, MoveType, PictureFile, ToneFile, ToneFiles, Paused and PassCount.
// Reaches into the stimulation window (its Passcount label and its Settings and Pause
// buttons) on Continue; the first Continue is what creates and loads that window. The
// stimulation window in turn reads Soundtones and sets Slider1 and opt1 to opt4 here, so this
// window stays loaded, hidden, for as long as the stimulation runs.
#pragma once

#include "forms/frmSettingsForm.h"

#include <cstdint>
#include <string>
#include <vector>

class FrmSettings : public FrmSettingsForm
{
public:
    FrmSettings();

    void Form_Load() override;
    void Form_Unload() override;
    void Form_LostFocus() override;
    void Form_KeyPress(int KeyAscii) override;
    void Form_KeyUp(int KeyCode, int Shift) override;
    void Slider1_Click();
    void opt1_Click();
    void opt2_Click();
    void opt3_Click();
    void opt4_Click();
    void cmdContinue_Click();
    void Quit_Click();
    // Picture and tone choice.
    void Command1_Click();
    void Command2_Click();

    // Position of the first "_" in ToneFile, found by the tone pair rule.
    std::int32_t TonePrefix = 0;

private:
    bool ChooseFile(const std::string &filter, const std::string &folderSuffix);
    void ShowNotices();

    // What the sounding of the chosen tone was found to have wrong.
    std::vector<std::string> toneProblems_;
};

extern platform::FormRef<FrmSettings> frmSettings;

// The slider rule: the speed value of a slider position, 7v + 23.
std::int16_t SpeedOfSlider(int position);
