#include "Title.h"

#include "platform/sound/AudioDevice.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"

platform::FormRef<FrmTitle> Title;

FrmTitle::FrmTitle()
{
    Command1.OnClick([this] { Command1_Click(); });
}

void FrmTitle::Command1_Click()
{
    Hide();
    frmSettings->Show();
}

void StartProgram()
{
    // The sound server is looked for while the practitioner reads the title, so that the
    // first preview and the first turn find the output ready.
    platform::SetSoundStatusHandler(
        [](const std::string &problem) { notices::SetSoundProblem(problem); });
    platform::PrepareSound();
    Title->Show();
}
