// The title window: presents the program; its one button leads on to the settings window.
// It reads and writes no shared state.
#pragma once

#include "forms/TitleForm.h"

class FrmTitle : public TitleForm
{
public:
    FrmTitle();
    void Command1_Click();
};

extern platform::FormRef<FrmTitle> Title;

// The start of a run of the program: starts looking for the sound output, whose state the
// notices follow from then on, and shows the title window.
void StartProgram();
