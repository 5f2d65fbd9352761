#include "frmEMDR2.h"

#include "platform/Platform.h"
#include "platform/ScreenAwake.h"
#include "settings/frmSettings.h"
#include "shared/Convert.h"
#include "shared/Notices.h"
#include "shared/Var.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

platform::FormRef<FrmEMDR2> frmEMDR2;

namespace {

// The turn test: the picture is within one step of an end on one axis when its distance to
// that end is below the step minus one. An axis whose step is -1, 0 or 1 never turns.
bool WithinStep(float position, std::int32_t end, std::int32_t step)
{
    const float distance = std::fabs(position - static_cast<float>(end));
    const auto threshold = static_cast<float>(Sub32(std::abs(static_cast<long long>(step)), 1));
    return distance < threshold;
}

std::int32_t StepFor(std::int32_t from, std::int32_t to, std::int32_t steps)
{
    return CLng(static_cast<double>(Sub32(to, from)) / static_cast<double>(steps));
}

// Whether a tick of the tone timer would do anything, by the tests Timer2_Timer makes: nothing
// while paused, nothing with the tones off, nothing without a tone waiting. Its first look at
// the settings window would load that window, which counts.
bool ToneTickHasWork()
{
    if (Var::Paused == 1)
        return false;
    if (!frmSettings.IsLoaded())
        return true;
    if (frmSettings->Soundtones.Value() == 0)
        return false;
    return Var::ToneRequest == 1 || Var::ToneRequest == 2;
}

} // namespace

FrmEMDR2::FrmEMDR2()
{
    Timer1.OnTimer([this] { Timer1_Timer(); });
    Timer2.OnTimer([this] { Timer2_Timer(); });
    // Between turns the tone tick has nothing to do: it sleeps rather than wake the laptop a
    // thousand times a second, and a turn's tone request wakes it within the turn.
    Timer2.SetIdleWhile([] { return !ToneTickHasWork(); });
    Pause.OnClick([this] { Pause_Click(); });
    Settings.OnClick([this] { Settings_Click(); });
    MMC.OnProblem([this](const std::string &text) { ReportToneProblem(text); });
    MMC2.OnProblem([this](const std::string &text) { ReportToneProblem(text); });
    SoundLineTimer.OnTimer([this] { SoundLineTimer_Timer(); });
}

// ---------------------------------------------------------------------------------------
// Layout and track

void FrmEMDR2::Form_Load()
{
    TonePrefix = FindTonePrefix();
    Pause.SetCaption("Pause");
    Settings.SetVisible(false);
    BuildTonePair(TonePrefix, kLoadLeft, kLoadRight);
    // The first Continue loads this window: it opens on the screen where the settings window
    // stands, the screen the practitioner has just worked on, and takes that screen's size.
    if (frmSettings.IsLoaded())
        StandOnScreenOf(*frmSettings.Peek());
    SetWindowState(platform::vbMaximized);
    SetTop(0);
    SetHeight(ScreenHeight());
    SetWidth(ScreenWidth());
    Form_Resize();
    const double W = Width();
    const double H = Height();
    Pause.SetTop(static_cast<float>(H - 2.5 * Pause.Height()));
    Pause.SetLeft(static_cast<float>(W / 3 - Pause.Width()));
    Passcount.SetLeft(static_cast<float>(2 * W / 3 - Passcount.Width() / 2.0));
    Settings.SetLeft(static_cast<float>(W / 2 - Settings.Width() / 2.0));
    Passcount.SetTop(Pause.Top());
    Settings.SetTop(Pause.Top());
    PlaceSoundLine();
    Var::Paused = 0;
    Var::PassCount = 0;
    OpenToneChannels();
    platform::DoEvents();
}

void FrmEMDR2::Form_Resize()
{
    Timer1.SetInterval(Mul16(Sub16(100, Var::Speed), 2));
    Steps = 15;
    ResetTrack();
}

void FrmEMDR2::ResetTrack()
{
    const float W = Width();
    const float H = Height();
    const float w = Picture1.Width();
    const float h = Picture1.Height();
    switch (Var::MoveType) {
    case 1:
        StartX = 0;
        StartY = CLng((H - h) / 2.0);
        EndX = CLng(W - w - 10);
        EndY = CLng((H - h) / 2.0);
        break;
    case 2:
        StartX = CLng(W / 2.0);
        StartY = 0;
        EndX = CLng(W / 2.0 - 10);
        EndY = CLng(H - h);
        break;
    case 3:
        StartX = 0;
        StartY = 0;
        EndX = CLng(W - w - 10);
        EndY = CLng(H - h - 10);
        break;
    case 4:
        StartX = 0;
        StartY = CLng(H - h - 10);
        EndX = CLng(W - w - 10);
        EndY = 0;
        break;
    default:
        break; // no pattern: the ends stay as they were
    }
    Picture1.SetTop(static_cast<float>(StartY));
    Picture1.SetLeft(static_cast<float>(StartX));
    StepX = StepFor(StartX, EndX, Steps);
    StepY = StepFor(StartY, EndY, Steps);
}

// ---------------------------------------------------------------------------------------
// Start of a run

void FrmEMDR2::Form_Activate()
{
    LoadChosenPicture();
    Settings.SetVisible(false);
    Pause.SetCaption("Pause");
    Pause.SetVisible(true);
    TonePrefix = DeriveTonePair(kBeepLeft, kBeepRight);
    ResetTrack();
    Var::Paused = 0;
    Var::PassCount = 0;
    Form_Resize();
    // The tone box may have changed while the settings window was in front.
    ShowSoundState(notices::SoundProblem());
}

// A picture that cannot be shown leaves the previous one in place: the run starts as usual
// and the practitioner is told once which file failed and why.
void FrmEMDR2::LoadChosenPicture()
{
    if (!Var::PictureFile)
        return;
    const std::string &path = *Var::PictureFile;
    const platform::PictureResult result = platform::LoadPicture(path, *this);
    if (result.ok) {
        Picture1.SetPicture(result.picture);
        return;
    }
    // Told once per file: not again at the next activation, nor after another file was tried.
    if (!refusedPictures_.insert(path).second)
        return;
    platform::ShowMessage("Picture not shown", "The picture \"" + path +
                                                   "\" cannot be shown: " + result.error +
                                                   ". The previous picture is used instead.");
}

// ---------------------------------------------------------------------------------------
// Motion

void FrmEMDR2::Timer1_Timer()
{
    if (Pause.Caption() == "Pause")
        Var::Paused = 0;
    if (Var::Paused == 1)
        return;
    Timer1.SetInterval(CLng(static_cast<double>(Sub16(100, Var::Speed)) * 1.5));
    Steps = CLng(static_cast<double>(Sub16(120, Var::Speed)) / 6.0);
    const float left = Picture1.Left() + static_cast<float>(StepX);
    const float top = Picture1.Top() + static_cast<float>(StepY);
    Picture1.Move(left, top, Picture1.Width(), Picture1.Height());
    if (WithinStep(Picture1.Top(), EndY, StepY) || WithinStep(Picture1.Left(), EndX, StepX)) {
        FarEndTurn();
        return;
    }
    if (WithinStep(Picture1.Top(), StartY, StepY)) {
        StartEndTurn(false);
        return;
    }
    if (WithinStep(Picture1.Left(), StartX, StepX))
        StartEndTurn(true);
}

void FrmEMDR2::FarEndTurn()
{
    StepX = StepFor(EndX, StartX, Steps);
    StepY = StepFor(EndY, StartY, Steps);
    Picture1.SetTop(static_cast<float>(EndY));
    Picture1.SetLeft(static_cast<float>(EndX));
    Var::ToneRequest = 2;
    platform::DoEvents();
}

void FrmEMDR2::StartEndTurn(bool toStartEnd)
{
    StepX = StepFor(StartX, EndX, Steps);
    StepY = StepFor(StartY, EndY, Steps);
    Var::ToneRequest = 1;
    Var::PassCount = Add32(Var::PassCount, 1);
    // Appended rather than " " + text, which GCC 12 warns about falsely at -O3.
    std::string caption = " ";
    caption += std::to_string(Var::PassCount);
    Passcount.SetCaption(caption);
    platform::DoEvents();
    // The window may have been closed while events were handled.
    if (!IsLoaded())
        return;
    if (toStartEnd) {
        Picture1.SetTop(static_cast<float>(StartY));
        Picture1.SetLeft(static_cast<float>(StartX));
    }
}

// ---------------------------------------------------------------------------------------
// Tones

void FrmEMDR2::OpenToneChannels()
{
    for (platform::WaveAudio *channel : {&MMC, &MMC2}) {
        channel->SetVisible(false);
        channel->SetFlag19(true);
        channel->SetDeviceType("WaveAudio");
    }
    MMC.SetFileName(Var::ToneFiles[0]);
    MMC.SetFlag14(false);
    MMC.SetFlag5(false);
    MMC.SetCommand("Open");
    MMC2.SetFileName(Var::ToneFiles[1]);
    MMC2.SetFlag14(false);
    MMC2.SetFlag5(false);
    MMC2.SetCommand("Open");
}

void FrmEMDR2::Timer2_Timer()
{
    if (Var::Paused == 1)
        return;
    if (frmSettings->Soundtones.Value() == 0)
        return;
    if (Var::ToneRequest == 1) {
        Var::ToneRequest = 0;
        PlayTone(1);
    } else if (Var::ToneRequest == 2) {
        Var::ToneRequest = 0;
        PlayTone(2);
    }
}

void FrmEMDR2::PlayTone(int side)
{
    platform::WaveAudio &channel = side == 1 ? MMC : MMC2;
    platform::WaveAudio &other = side == 1 ? MMC2 : MMC;
    const std::string &file = Var::ToneFiles[side == 1 ? 0 : 1];
    other.SetCommand("stop");
    channel.SetCommand("close");
    channel.SetFileName(file);
    channel.SetFlag14(false);
    channel.SetFlag5(false);
    channel.SetCommand("Open");
    channel.SetDeviceType("WaveAudio");
    channel.SetCommand("Play");
}

// The sound line stands in the control row between the Pause button and the place of the
// Settings button, where none of the four tracks passes: the practitioner sees it beside the
// buttons they use, and the client's picture is never covered.
void FrmEMDR2::PlaceSoundLine()
{
    const double W = Width();
    SoundLine.SetTop(Pause.Top());
    SoundLine.SetHeight(Pause.Height());
    SoundLine.SetLeft(static_cast<float>(W / 3 + 120));
    SoundLine.SetWidth(static_cast<float>(std::max(0.0, W / 6 - Settings.Width() / 2.0 - 240)));
    ShowSoundState(notices::SoundProblem());
    notices::SetSoundSink([this](const std::string &problem) { ShowSoundState(problem); });
}

// While no tones can be heard the line says so; when they are back it says that for a few
// seconds and goes. This window is the client's screen: a run without tones shows no word of
// them, and the settings window's notice tells the practitioner in any case.
void FrmEMDR2::ShowSoundState(const std::string &problem)
{
    const bool tonesAskedFor = frmSettings.IsLoaded() && frmSettings->Soundtones.Value() != 0;
    if (!tonesAskedFor) {
        HideSoundLine();
    } else if (!problem.empty()) {
        SoundLineTimer.SetEnabled(false);
        SoundLine.SetCaption("No tones can be heard: the sound server does not answer");
        SoundLine.SetVisible(true);
    } else if (SoundLine.Visible()) {
        SoundLine.SetCaption("Sound is back");
        SoundLineTimer.SetEnabled(true);
    }
}

void FrmEMDR2::SoundLineTimer_Timer()
{
    HideSoundLine();
}

void FrmEMDR2::HideSoundLine()
{
    SoundLineTimer.SetEnabled(false);
    SoundLine.SetVisible(false);
    SoundLine.SetCaption("");
}

// A tone that cannot be played stays silent; the practitioner is told once per problem,
// never with a box in front of the running stimulation.
void FrmEMDR2::ReportToneProblem(const std::string &text)
{
    notices::TellOnce(text);
}

// ---------------------------------------------------------------------------------------
// Operator controls

void FrmEMDR2::Form_KeyPress(int KeyAscii)
{
    if (KeyAscii == 27)
        Pause_Click();
    if (KeyAscii >= 49 && KeyAscii <= 57) {
        frmSettings->Slider1.SetValue(KeyAscii - 48);
        Var::Speed = Sub16(Mul16(KeyAscii - 48, 10), 5);
    }
    if (KeyAscii == 45 || KeyAscii == 95)
        SelectPattern(1);
    if (KeyAscii == 124)
        SelectPattern(2);
    if (KeyAscii == 92)
        SelectPattern(3);
    if (KeyAscii == 47)
        SelectPattern(4);
}

void FrmEMDR2::Form_KeyUp(int KeyCode, int Shift)
{
    (void)Shift; // modifiers make no difference
    if (KeyCode >= platform::vbKeyF1 && KeyCode <= platform::vbKeyF4)
        SelectPattern(KeyCode - platform::vbKeyF1 + 1);
}

void FrmEMDR2::SelectPattern(int pattern)
{
    platform::OptionButton *buttons[] = {&frmSettings->opt1, &frmSettings->opt2, &frmSettings->opt3,
                                         &frmSettings->opt4};
    buttons[pattern - 1]->SetValue(true);
    Var::MoveType = static_cast<std::int16_t>(pattern);
    Form_Resize();
}

void FrmEMDR2::Pause_Click()
{
    if (Pause.Caption() != "Resume") {
        Pause.SetCaption("Resume");
        Settings.SetVisible(true);
        Var::Paused = 1;
    } else {
        Pause.SetCaption("Pause");
        Settings.SetVisible(false);
        Var::Paused = 0;
    }
    Var::PassCount = 0;
}

void FrmEMDR2::Settings_Click()
{
    Pause.SetVisible(false);
    Settings.SetVisible(false);
    // The practitioner is at the computer again; a pause alone keeps the hold, since a key
    // pressed to wake a blanked screen would reach the stimulation.
    platform::HoldScreenAwake(false);
    frmSettings->Show();
    frmSettings->SetFocus();
}

void FrmEMDR2::Form_GotFocus() {}

void FrmEMDR2::Form_LostFocus()
{
    Var::Paused = 1;
}

void FrmEMDR2::Form_Unload()
{
    platform::HoldScreenAwake(false);
    notices::SetSoundSink(nullptr);
    for (platform::Form *form : platform::Forms())
        platform::Unload(*form);
}
