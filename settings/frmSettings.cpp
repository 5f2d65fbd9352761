#include "frmSettings.h"

#include "platform/Platform.h"
#include "platform/ScreenAwake.h"
#include "shared/Convert.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"

platform::FormRef<FrmSettings> frmSettings;

std::int16_t SpeedOfSlider(int position)
{
    return convert::CheckedInt<std::int16_t>(Sub32(Add32(position, 4) * 7LL, 5));
}

FrmSettings::FrmSettings()
{
    Slider1.OnClick([this] { Slider1_Click(); });
    opt1.OnClick([this] { opt1_Click(); });
    opt2.OnClick([this] { opt2_Click(); });
    opt3.OnClick([this] { opt3_Click(); });
    opt4.OnClick([this] { opt4_Click(); });
    cmdContinue.OnClick([this] { cmdContinue_Click(); });
    Quit.OnClick([this] { Quit_Click(); });
    Command1.OnClick([this] { Command1_Click(); });
    Command2.OnClick([this] { Command2_Click(); });
    MMC3.OnProblem([this](const std::string &text) {
        toneProblems_.push_back(text);
        notices::TellOnce(text);
    });
}

void FrmSettings::Form_Load()
{
    Var::PictureFile = platform::InProgramFolder("\\Pictures\\Face.ico");
    Var::MoveType = 1;
    Var::ToneFile = platform::InProgramFolder("\\Tones\\") + "beep_r.wav";
    ShowNotices();
    notices::SetSink([this] { ShowNotices(); });
}

void FrmSettings::Slider1_Click()
{
    Var::Speed = SpeedOfSlider(Slider1.Value());
}

void FrmSettings::opt1_Click()
{
    Var::MoveType = 1;
}

void FrmSettings::opt2_Click()
{
    Var::MoveType = 2;
}

void FrmSettings::opt3_Click()
{
    Var::MoveType = 3;
}

void FrmSettings::opt4_Click()
{
    Var::MoveType = 4;
}

void FrmSettings::cmdContinue_Click()
{
    Var::Speed = SpeedOfSlider(Slider1.Value());
    Var::Paused = 0;
    Var::PassCount = 0;
    TonePrefix = DeriveTonePair(kBeepLeft, kBeepRight);
    frmEMDR2->Passcount.SetVisible(CounterOption.Value() == 1);
    frmEMDR2->Settings.SetVisible(false);
    frmEMDR2->Pause.SetCaption("Pause");
    frmEMDR2->Pause.SetVisible(true);
    frmEMDR2->Show();
    Hide();
    // The client follows the picture now, and nobody touches the computer until the
    // practitioner comes back to the settings.
    platform::HoldScreenAwake(true);
}

void FrmSettings::Quit_Click()
{
    platform::EndProgramAtOnce();
}

void FrmSettings::Form_LostFocus()
{
    TonePrefix = DeriveTonePair(kBeepLeft, kBeepRight);
    Var::Paused = 0;
}

void FrmSettings::Form_Unload()
{
    notices::SetSink(nullptr);
    for (platform::Form *form : platform::Forms())
        platform::Unload(*form);
}

// ---------------------------------------------------------------------------------------
// Keys: the window sees every key before the focused control and passes it on unchanged.

void FrmSettings::Form_KeyPress(int KeyAscii)
{
    if (KeyAscii == 13)
        cmdContinue.Click(); // as a click on Continue, through its click handling

    if (KeyAscii >= 49 && KeyAscii <= 57) {
        // A position set from code is not a click: the key's own speed stands.
        Slider1.SetValue(KeyAscii - 48);
        Var::Speed = Sub16(Mul16(KeyAscii - 48, 10), 5);
    }
    if (KeyAscii == 95 || KeyAscii == 45) {
        opt1.SetValue(true);
        Var::MoveType = 1;
    }
    if (KeyAscii == 124) {
        opt2.SetValue(true);
        Var::MoveType = 2;
    }
    if (KeyAscii == 92) {
        opt3.SetValue(true);
        Var::MoveType = 3;
    }
    if (KeyAscii == 47) {
        opt4.SetValue(true);
        Var::MoveType = 4;
    }
}

void FrmSettings::Form_KeyUp(int KeyCode, int Shift)
{
    (void)Shift; // modifiers make no difference
    if (KeyCode == platform::vbKeyF1)
        opt1.SetValue(true);
    if (KeyCode == platform::vbKeyF2)
        opt2.SetValue(true);
    if (KeyCode == platform::vbKeyF3)
        opt3.SetValue(true);
    if (KeyCode == platform::vbKeyF4)
        opt4.SetValue(true);
}

// ---------------------------------------------------------------------------------------
// Picture and tone choice

// The file dialog opened on a folder beside the program; false when it was cancelled. The
// name is emptied first, since a cancelled dialog leaves it as it was.
bool FrmSettings::ChooseFile(const std::string &filter, const std::string &folderSuffix)
{
    CD1.SetFileName("");
    CD1.SetFilter(filter);
    CD1.SetInitDir(platform::InProgramFolder(folderSuffix));
    CD1.ShowOpen();
    return !CD1.FileName().empty();
}

// A chosen picture is loaded before it is stored: one that cannot be shown leaves the
// previous choice and its preview in place, and the practitioner is told why.
void FrmSettings::Command1_Click()
{
    if (!ChooseFile("Pictures (*.bmp;*.ico)|*.bmp;*.ico", "\\Pictures\\"))
        return;
    const platform::PictureResult result = platform::LoadPicture(CD1.FileName(), *this);
    if (!result.ok) {
        platform::ShowMessage("Picture not used", "The picture \"" + CD1.FileName() +
                                                      "\" cannot be shown: " + result.error +
                                                      ". The previous picture is kept.");
        return;
    }
    Var::PictureFile = CD1.FileName();
    Image1.SetPicture(result.picture);
}

void FrmSettings::Command2_Click()
{
    if (!ChooseFile("Tones (*.wav)|*.wav", "\\Tones\\"))
        return;
    Var::ToneFile = CD1.FileName();
    // What was found wrong with the tone chosen before no longer holds once another is
    // chosen; a problem of the new choice is told as it sounds, the same one again included.
    for (const std::string &text : toneProblems_)
        notices::Withdraw(text);
    toneProblems_.clear();
    MMC3.SetVisible(false);
    MMC3.SetFlag19(true);
    MMC3.SetDeviceType("WaveAudio");
    MMC3.SetFileName(Var::ToneFile);
    MMC3.SetFlag14(true);
    MMC3.SetCommand("Sound");
}

// The problems that hold, the newest first, where the line shows it in full.
void FrmSettings::ShowNotices()
{
    const std::vector<std::string> &holding = notices::Holding();
    std::string caption;
    for (auto text = holding.rbegin(); text != holding.rend(); ++text) {
        if (!caption.empty())
            caption += "\n";
        caption += *text;
    }
    Notice.SetCaption(caption);
    Notice.SetVisible(!holding.empty());
}
