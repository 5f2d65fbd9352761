// Stored definition of the stimulation window: its properties and every control, as the
// window stands when it is loaded, before any handler runs.
#pragma once

#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/sound/WaveAudio.h"

class FrmEMDR2Form : public platform::Form
{
protected:
    FrmEMDR2Form();

private:
    platform::Container client_;

public:
    platform::CommandButton Settings;
    platform::CommandButton Pause;
    platform::Timer Timer2;
    platform::Timer Timer1;
    platform::WaveAudio MMC;
    platform::WaveAudio MMC2;
    platform::Label Passcount;
    // Shown only while no tones can be heard, and briefly when they are back.
    platform::Label SoundLine;
    platform::Timer SoundLineTimer;
    platform::Image Picture1;
};
