// Keeping the screen awake while the client follows the picture: a run is a minute or more
// without anyone touching the computer, after which a desktop would dim, blank and lock the
// screen, putting its password prompt in front of the client.
#pragma once

namespace platform {

// Asks the desktop to keep the screen from dimming, blanking and locking (true), or lets it go
// again (false); asking for what already stands does nothing. The desktop is asked through
// its portal, else its screen saver service, else, on X, the X server's own screen saver is
// held off. A desktop that offers none of them is left as it is without a word; one that
// refuses is told about once on standard error. The call never waits for the desktop's
// answer. However the program ends, a signal included, the hold ends with it: the bus and
// the X server drop what a program held when it leaves them. Where tests hold it (Seams.h),
// they receive each request instead.
void HoldScreenAwake(bool hold);

// For a program that ends at once (Quit): a release sent a moment ago, or the answer to a
// request still on its way, is seen through first, for half a second at most each, so that
// the desktop hears the hold let go from the program itself.
void LetGoOfScreenBeforeEnd();

} // namespace platform
