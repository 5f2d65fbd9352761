#include "Stored.h"

#include "platform/forms/Picture.h"

namespace forms {

void DefineWindow(platform::Form &window, const StoredWindow &stored)
{
    window.SetCaption(stored.caption);
    window.SetClientSize(stored.clientWidth, stored.clientHeight);
    window.SetBorderStyle(stored.border, stored.minMaxButtons);
    window.CentreOnScreen();
    window.SetKeyPreview(stored.keyPreview);
    window.SetIcon(platform::BuiltInPicture(":/forms/Tarrowin.ico"));
}

} // namespace forms
