#include "TitleForm.h"

#include "Stored.h"

using namespace platform;
using forms::Define;
using forms::DefineWindow;

TitleForm::TitleForm()
    : Form("Title"), client_(*this), Label1(client_, "Label1"), Label2(client_, "Label2"),
      Command1(client_, "Command1")
{
    DefineWindow(*this, {"Tarrowin (Alternating bilateral visuals and tones for EMDR)", 7380, 3765,
                         BorderStyle::Sizable, true, false});

    Label1.SetCaption(
        "Tarrowin is free to copy and to pass on to other practitioners, as long as it is "
        "passed on whole and unchanged, with this notice, and without charge. It comes "
        "without any warranty: check that it suits your practice before you use it with a "
        "client. News of updates is found on the Tarrowin project's web page and, where "
        "Tarrowin came as a package, through that package's own update channel.");
    Label1.Move(960, 240, 4695, 1815);
    Label1.SetWordWrap(true);
    Label1.SetTabIndex(1);
    Define(Label2, {"Written by the Tarrowin authors, 2026.", 960, 2280, 4695, 495, 2})
        .SetAlignment(Label::Align::Centre);
    Define(Command1, {"Continue", 2760, 3120, 1215, 495, 0});

    ApplyTabOrder();
}
