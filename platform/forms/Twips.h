// Twips and the screen's pixels: the one place where one is turned into the other.
#pragma once

namespace platform {

// The nearest whole pixel of a length in twips.
int PixelsOf(float twips);
// A length in pixels as twips.
float TwipsOf(int pixels);

} // namespace platform
