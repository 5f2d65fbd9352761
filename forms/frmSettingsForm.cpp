#include "frmSettingsForm.h"

#include "AppIcon.h"

using namespace platform;

namespace {
const Font kOpt1Font{"MS Sans Serif", 13.5, true};
const Font kOptFont{"MS Sans Serif", 12, true};
const Font kKeyLabelFont{"MS Sans Serif", 8.25, true};
} // namespace

FrmSettingsForm::FrmSettingsForm()
    : Form("frmSettings"), client_(*this, Surface()), Frame1(client_, "Frame1"),
      opt1(Frame1.Inside(), "opt1"), opt2(Frame1.Inside(), "opt2"), opt3(Frame1.Inside(), "opt3"),
      opt4(Frame1.Inside(), "opt4"), Label6(Frame1.Inside(), "Label6"),
      Label5(Frame1.Inside(), "Label5"), Label4(Frame1.Inside(), "Label4"),
      Label3(Frame1.Inside(), "Label3"), Label1(client_, "Label1"), Slider1(client_, "Slider1"),
      Label2(client_, "Label2"), Command1(client_, "Command1"), Image1(client_, "Image1"),
      Command2(client_, "Command2"), CounterOption(client_, "CounterOption"),
      Soundtones(client_, "Soundtones"), MMC3(*this, "MMC3"), cmdContinue(client_, "cmdContinue"),
      Quit(client_, "Quit"), CD1("CD1"), Notice(client_, "Notice")
{
    SetCaption("Setttings");
    SetClientSize(6390, 5205);
    SetBorderStyle(BorderStyle::FixedSingle, false);
    CentreOnScreen();
    SetKeyPreview(true);
    SetIcon(AppIcon());

    Frame1.SetCaption("Picture Movement (Click or press corresponding keys)");
    Frame1.Move(600, 120, 4935, 1215);
    Frame1.SetTabIndex(0);

    opt1.SetCaption("--");
    opt1.Move(240, 360, 735, 375);
    opt1.SetTabIndex(4);
    opt1.SetFont(kOpt1Font);
    opt1.SetValue(true);
    opt2.SetCaption("|");
    opt2.Move(1440, 360, 735, 375);
    opt2.SetTabIndex(7);
    opt2.SetFont(kOptFont);
    opt3.SetCaption("\\");
    opt3.Move(2640, 360, 735, 375);
    opt3.SetTabIndex(6);
    opt3.SetFont(kOptFont);
    opt4.SetCaption("/");
    opt4.Move(3840, 360, 735, 375);
    opt4.SetTabIndex(5);
    opt4.SetFont(kOptFont);

    Label6.SetCaption("F1");
    Label6.Move(240, 840, 255, 255);
    Label6.SetTabIndex(13);
    Label6.SetFont(kKeyLabelFont);
    Label5.SetCaption("F2");
    Label5.Move(1440, 840, 375, 255);
    Label5.SetTabIndex(12);
    Label5.SetFont(kKeyLabelFont);
    Label4.SetCaption("F3");
    Label4.Move(2640, 840, 255, 255);
    Label4.SetTabIndex(11);
    Label4.SetFont(kKeyLabelFont);
    Label3.SetCaption("F4");
    Label3.Move(3840, 840, 255, 255);
    Label3.SetTabIndex(10);
    Label3.SetFont(kKeyLabelFont);

    Label1.SetCaption("Speed");
    Label1.Move(3000, 1680, 615, 255);
    Label1.SetTabIndex(2);

    Slider1.Move(1080, 1920, 4335, 375);
    Slider1.SetRange(1, 9);
    Slider1.SetValue(6);
    Slider1.SetTabIndex(1);

    Label2.SetCaption("Slide pointer or use 1 - 9  keys");
    Label2.Move(1560, 2280, 3375, 255);
    Label2.SetAlignment(Label::Align::Centre);
    Label2.SetTabIndex(9);
    Label2.SetFont(kKeyLabelFont);

    Command1.SetCaption("Change Picture");
    Command1.Move(960, 2760, 1935, 495);
    Command1.SetTabIndex(3);

    Image1.Move(4200, 2760, 510, 510);
    Image1.SetBorder(true);
    Image1.SetSizeToPicture(false);
    Image1.SetPicture(BuiltInPicture(":/forms/Face.ico"));

    Command2.SetCaption("Change Tone");
    Command2.Move(960, 3600, 1935, 495);
    Command2.SetTabIndex(14);

    CounterOption.SetCaption("Show pass count");
    CounterOption.Move(4080, 3600, 1695, 255);
    CounterOption.SetTabIndex(17);
    CounterOption.SetValue(0);

    Soundtones.SetCaption("Sound Tones              (Limits speed if checked)");
    Soundtones.Move(4080, 3840, 2295, 495);
    Soundtones.SetTabIndex(18);
    Soundtones.SetValue(0);

    cmdContinue.SetCaption("Continue");
    cmdContinue.Move(480, 4560, 3375, 495);
    cmdContinue.SetTabIndex(8);

    Quit.SetCaption("Quit");
    Quit.Move(4680, 4560, 1215, 495);
    Quit.SetTabIndex(16);

    // Two lines in the free space left of the check boxes, between Change Tone and Continue
    // (the strip below the buttons is too low for a line of text). Exactly two lines high, so
    // that a longer text ends cleanly after its second line; the whole text is also on
    // standard error.
    Notice.Move(120, 4110, 3900, 390);
    Notice.SetAlignment(Label::Align::Left);
    Notice.SetWordWrap(true);
    Notice.SetVisible(false);

    ApplyTabOrder();
    // Enter is the window's own key: it runs Continue whichever control has the focus.
    SetButtonsTakeEnter(false);
}
