// The application icon, the same on every window.
#pragma once

#include "platform/Picture.h"

inline platform::Picture AppIcon()
{
    return platform::BuiltInPicture(":/forms/Tarrowin.ico");
}
