#include "frmEMDR2Form.h"

#include "Stored.h"

using namespace platform;
using forms::Define;
using forms::DefineWindow;

FrmEMDR2Form::FrmEMDR2Form()
    : Form("frmEMDR2"), client_(*this), Settings(client_, "Settings"), Pause(client_, "Pause"),
      Timer2(*this, "Timer2"), Timer1(*this, "Timer1"), MMC(*this, "MMC"), MMC2(*this, "MMC2"),
      Passcount(client_, "Passcount"), SoundLine(client_, "SoundLine"),
      SoundLineTimer(*this, "SoundLineTimer"), Picture1(client_, "Picture1")
{
    DefineWindow(
        *this, {"Alternating Bilateral Stimulation", 4680, 3960, BorderStyle::Sizable, true, true});

    Define(Settings, {"Show Settings Screen", 2760, 3240, 1215, 495, 4}).SetVisible(false);
    // The stored caption has a trailing blank; the load handling replaces it.
    Define(Pause, {"Pause ", 2400, 5820, 1455, 495, 2});

    Timer2.SetInterval(1);
    Timer2.SetEnabled(true);
    Timer1.SetInterval(25);
    Timer1.SetEnabled(true);

    Define(Passcount, {" 0 passes", 5880, 6120, 1215, 495, 3}).SetAlignment(Label::Align::Centre);

    // Labels and images are each put beneath everything made before them, so the picture,
    // made last, passes under this line where they meet (its place keeps it off the track).
    SoundLine.Move(120, 6120, 2400, 495);
    SoundLine.SetAlignment(Label::Align::Left);
    SoundLine.SetWordWrap(true);
    SoundLine.SetVisible(false);

    SoundLineTimer.SetInterval(4000);
    SoundLineTimer.SetEnabled(false);

    Picture1.Move(0, 2400, 480, 480);
    Picture1.SetPicture(BuiltInPicture(":/forms/Spider.ico"));

    ApplyTabOrder();
}
