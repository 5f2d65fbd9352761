// Every place where a test, or a measurement, stands in for what the program would otherwise
// do with the world: ending the process, showing a message box or the file dialog, sounding
// tones, holding the screen awake, the folder the program runs from. The program itself sets
// none of them.
//
// Each seam is in place until Reset, which every test fixture calls between cases, so that
// no case sees what the one before it put in place.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class AudioDevice;
class CommonDialog;

namespace seams {

// Ending the program: the hook is called instead, and EndProgramAtOnce returns.
void SetEndProgramHook(std::function<void()> hook);

// Message boxes: the hook receives each message with its title instead of a window showing it
// (the line on standard error is written all the same).
using MessageHook = std::function<void(const std::string &title, const std::string &text)>;
void SetMessageHook(MessageHook hook);

// The file dialog: each ShowOpen takes the next answer given here, in turn, without showing
// anything (an empty answer cancels). A ShowOpen with no answer waiting shows the real dialog.
void AnswerFileDialog(const std::string &path);
// How many times a file dialog was shown, answered or not, and the last one as it stood when
// it was shown, before its answer.
int FileDialogsShown();
const CommonDialog &LastFileDialog();

// Wave-audio controls: every property assignment of every control, "MMC.Command=Open" and
// the like.
void SetAudioTraceHook(std::function<void(const std::string &line)> hook);

// Timers: called with the timer's name and the moment the tick began, before its handler.
using TickObserver =
    std::function<void(const std::string &name, std::chrono::steady_clock::time_point began)>;
void SetTickObserver(TickObserver observer);

// The sound output: this device in place of the real one (tests put a recording stand-in
// here); nothing goes back to the real device on its next use.
void SetAudioDevice(std::unique_ptr<AudioDevice> device);

// Holding the screen awake: the hook receives each request, true to hold and false to let
// go, instead of the desktop.
void SetScreenAwakeHook(std::function<void(bool hold)> hook);

// The program's folder: this one in its place, so that the paths a test expects do not depend
// on where the build stands; an empty text goes back to the program's own.
void SetProgramFolder(const std::string &folder);

// Every seam back to the program's own behaviour: no hooks, no answers waiting, the count
// of file dialogs at zero, the real sound output on its next use, the program's own folder.
void Reset();

} // namespace seams
} // namespace platform
