// The pieces every stored window definition is written in: the window's own properties, and
// where a control stands with its caption and place in the tab order.
#pragma once

#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"

#include <string>

namespace forms {

struct StoredWindow
{
    std::string caption;
    float clientWidth;
    float clientHeight;
    platform::BorderStyle border;
    bool minMaxButtons;
    bool keyPreview;
};

// Caption, client size, border, key preview and the program's icon; the window opens in the
// centre of the screen.
void DefineWindow(platform::Form &window, const StoredWindow &stored);

struct Stored
{
    std::string caption;
    float left;
    float top;
    float width;
    float height;
    int tabIndex;
};

// Caption, place and size, and tab index of a control that has a caption.
template <class C> C &Define(C &control, const Stored &stored)
{
    control.SetCaption(stored.caption);
    control.Move(stored.left, stored.top, stored.width, stored.height);
    control.SetTabIndex(stored.tabIndex);
    return control;
}

} // namespace forms
