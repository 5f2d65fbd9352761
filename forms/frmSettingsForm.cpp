#include "frmSettingsForm.h"

#include "Stored.h"

using namespace platform;
using forms::Define;
using forms::DefineWindow;
using forms::Stored;

namespace {
const Font kOpt1Font{"MS Sans Serif", 13.5, true};
const Font kOptFont{"MS Sans Serif", 12, true};
const Font kKeyLabelFont{"MS Sans Serif", 8.25, true};
} // namespace

FrmSettingsForm::FrmSettingsForm()
    : Form("frmSettings"), client_(*this), Frame1(client_, "Frame1"), opt1(Frame1.Inside(), "opt1"),
      opt2(Frame1.Inside(), "opt2"), opt3(Frame1.Inside(), "opt3"), opt4(Frame1.Inside(), "opt4"),
      Label6(Frame1.Inside(), "Label6"), Label5(Frame1.Inside(), "Label5"),
      Label4(Frame1.Inside(), "Label4"), Label3(Frame1.Inside(), "Label3"),
      Label1(client_, "Label1"), Slider1(client_, "Slider1"), Label2(client_, "Label2"),
      Command1(client_, "Command1"), Image1(client_, "Image1"), Command2(client_, "Command2"),
      CounterOption(client_, "CounterOption"), Soundtones(client_, "Soundtones"),
      MMC3(*this, "MMC3"), cmdContinue(client_, "cmdContinue"), Quit(client_, "Quit"), CD1("CD1"),
      Notice(client_, "Notice")
{
    DefineWindow(*this, {"Setttings", 6390, 5205, BorderStyle::FixedSingle, false, true});

    Define(Frame1,
           {"Picture Movement (Click or press corresponding keys)", 600, 120, 4935, 1215, 0});

    // The four patterns, each over the name of its key; the first is chosen.
    OptionButton *const patterns[] = {&opt1, &opt2, &opt3, &opt4};
    const Stored patternCaptions[] = {{"--", 240, 360, 735, 375, 4},
                                      {"|", 1440, 360, 735, 375, 7},
                                      {"\\", 2640, 360, 735, 375, 6},
                                      {"/", 3840, 360, 735, 375, 5}};
    Label *const keys[] = {&Label6, &Label5, &Label4, &Label3};
    const Stored keyCaptions[] = {{"F1", 240, 840, 255, 255, 13},
                                  {"F2", 1440, 840, 375, 255, 12},
                                  {"F3", 2640, 840, 255, 255, 11},
                                  {"F4", 3840, 840, 255, 255, 10}};
    for (int i = 0; i < 4; ++i) {
        Define(*patterns[i], patternCaptions[i]).SetFont(i == 0 ? kOpt1Font : kOptFont);
        Define(*keys[i], keyCaptions[i]).SetFont(kKeyLabelFont);
    }
    opt1.SetValue(true);

    Define(Label1, {"Speed", 3000, 1680, 615, 255, 2});
    Slider1.Move(1080, 1920, 4335, 375);
    Slider1.SetRange(1, 9);
    Slider1.SetValue(6);
    Slider1.SetTabIndex(1);
    Define(Label2, {"Slide pointer or use 1 - 9  keys", 1560, 2280, 3375, 255, 9})
        .SetAlignment(Label::Align::Centre);
    Label2.SetFont(kKeyLabelFont);

    Define(Command1, {"Change Picture", 960, 2760, 1935, 495, 3});
    // Not stretched: it takes the size of its picture, 510 for the face with its border.
    Image1.Move(4200, 2760, 510, 510);
    Image1.SetBorder(true);
    Image1.SetPicture(BuiltInPicture(":/forms/Face.ico"));

    Define(Command2, {"Change Tone", 960, 3600, 1935, 495, 14});
    Define(CounterOption, {"Show pass count", 4080, 3600, 1695, 255, 17}).SetValue(0);
    Define(Soundtones,
           {"Sound Tones              (Limits speed if checked)", 4080, 3840, 2295, 495, 18})
        .SetValue(0);

    Define(cmdContinue, {"Continue", 480, 4560, 3375, 495, 8});
    Define(Quit, {"Quit", 4680, 4560, 1215, 495, 16});

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
