// Stored definition of the settings window: its properties and every control, as the window
// stands when it is loaded, before any handler runs.
#pragma once

#include "platform/forms/CommonDialog.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/sound/WaveAudio.h"

class FrmSettingsForm : public platform::Form
{
protected:
    FrmSettingsForm();

private:
    platform::Container client_;

public:
    platform::Frame Frame1;
    platform::OptionButton opt1;
    platform::OptionButton opt2;
    platform::OptionButton opt3;
    platform::OptionButton opt4;
    platform::Label Label6;
    platform::Label Label5;
    platform::Label Label4;
    platform::Label Label3;
    platform::Label Label1;
    platform::Slider Slider1;
    platform::Label Label2;
    platform::CommandButton Command1;
    platform::Image Image1;
    platform::CommandButton Command2;
    platform::CheckBox CounterOption;
    platform::CheckBox Soundtones;
    platform::WaveAudio MMC3;
    platform::CommandButton cmdContinue;
    platform::CommandButton Quit;
    platform::CommonDialog CD1;
    // Problems with the chosen files, shown when the window is next visible. Not part of the
    // stored controls of old; it sits above Continue and is empty until needed.
    platform::Label Notice;
};
