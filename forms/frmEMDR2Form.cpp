#include "frmEMDR2Form.h"

#include "AppIcon.h"

using namespace platform;

FrmEMDR2Form::FrmEMDR2Form()
    : Form("frmEMDR2"), client_(*this, Surface()), Settings(client_, "Settings"),
      Pause(client_, "Pause"), Timer2(*this, "Timer2"), Timer1(*this, "Timer1"), MMC(*this, "MMC"),
      MMC2(*this, "MMC2"), Passcount(client_, "Passcount"), SoundLine(client_, "SoundLine"),
      SoundLineTimer(*this, "SoundLineTimer"), Picture1(client_, "Picture1")
{
    SetCaption("Alternating Bilateral Stimulation");
    SetClientSize(4680, 3960);
    SetBorderStyle(BorderStyle::Sizable, true);
    CentreOnScreen();
    SetKeyPreview(true);
    SetIcon(AppIcon());

    Settings.SetCaption("Show Settings Screen");
    Settings.Move(2760, 3240, 1215, 495);
    Settings.SetVisible(false);
    Settings.SetTabIndex(4);

    // The stored caption has a trailing blank; the load handling replaces it.
    Pause.SetCaption("Pause ");
    Pause.Move(2400, 5820, 1455, 495);
    Pause.SetTabIndex(2);

    Timer2.SetInterval(1);
    Timer2.SetEnabled(true);
    Timer1.SetInterval(25);
    Timer1.SetEnabled(true);

    Passcount.SetCaption(" 0 passes");
    Passcount.Move(5880, 6120, 1215, 495);
    Passcount.SetAlignment(Label::Align::Centre);
    Passcount.SetTabIndex(3);

    // Made before the picture, so the picture passes over it rather than under it.
    SoundLine.SetCaption("");
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
