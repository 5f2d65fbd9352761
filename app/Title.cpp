#include "Title.h"

#include "settings/frmSettings.h"

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
    Title->Show();
}
