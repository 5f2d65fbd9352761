// What the program asks of its surroundings besides windows and controls: the screen, the
// program's folder, one round of pending events, and ending the program at once.
#pragma once

#include <functional>
#include <string>

namespace platform {

// The program's name, and its id: the desktop entry's file name (<id>.desktop), its icon's
// name and the software centre's, in the reverse-DNS form they ask for. The desktop's dock
// and sound settings show the program's windows and streams under that entry's name and
// icon. The build reads the id from here.
inline constexpr const char *kProgramName = "Tarrowin";
inline constexpr const char *kDesktopId = "io.github.tarrowin.Tarrowin";

// Runs the program: starts the toolkit, calls `start` to show the first window, handles
// events until the last window has been unloaded, frees the windows and returns the exit
// status for main.
int RunProgram(int argc, char *argv[], const std::function<void()> &start);

// Twips per pixel of the screen: 1440 divided by its logical dots per inch (15 at 96).
double TwipsPerPixel();
// The size of the primary screen in twips.
float ScreenWidthTwips();
float ScreenHeightTwips();

// The folder of the running program, in the system's own form, without a trailing separator
// (tests may put another in its place: Seams.h).
std::string ProgramFolder();
// A fixed suffix such as "\Pictures\Face.ico" in the system's own form: as it stands on
// Windows, with every backslash turned into "/" elsewhere, where a backslash is an ordinary
// file-name character and the default files would never be found.
std::string NativeSuffix(const std::string &suffix);
// The program's folder followed by a fixed suffix.
std::string InProgramFolder(const std::string &suffix);

// Lets the toolkit handle every pending event once (repaints, input, other timers).
void DoEvents();

// Ends the program at once: no window's unload handling runs. Where tests hold the end
// (Seams.h), they see the request instead of losing the process, and the call returns.
void EndProgramAtOnce();

// A message for the practitioner that does not stop the program: it shows in a window of
// its own and the call returns at once. Where tests hold message boxes (Seams.h), they
// receive it instead.
void ShowMessage(const std::string &title, const std::string &text);

// Runs the function on the program's thread, after the events already waiting there. Other
// threads (the sound library's) pass their news on this way.
void PostToProgram(std::function<void()> function);

// Writes one line to standard error, for problems the practitioner is also told about.
void LogProblem(const std::string &text);

} // namespace platform
