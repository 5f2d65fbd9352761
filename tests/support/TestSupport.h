// Helpers shared by the test programs: a recording stand-in for the audio device, a way back
// to a program that has just started between test cases, and the small tools most window
// tests use.
#pragma once

#include "platform/sound/AudioDevice.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class FrmEMDR2;
class QWidget;
namespace platform {
class Control;
class Form;
class OptionButton;
} // namespace platform

namespace testsupport {

// The stimulation window loaded (after the settings window, as in the program) with its
// timers held still, so that the test drives every tick itself.
FrmEMDR2 &StillWindow();
// Holds the stimulation window's timers still once Continue has created it.
void HoldStimulationStill();

// The two ends of the picture's track on the stimulation window, in twips.
struct Track
{
    int startX = 0, startY = 0, endX = 0, endY = 0;
    bool operator==(const Track &) const = default;
};
Track TrackOf(const FrmEMDR2 &window);
// The track as a test's failure shows it.
char *toString(const Track &track);

// Records what the wave-audio controls ask of the device, one line a call:
// "Open 0 /path", "Play 0", "Stop 1", "Close 0", "Sound 2 /path".
class RecordingAudioDevice : public platform::AudioDevice
{
public:
    int AllocateVoice() override { return voices_++; }
    void ReleaseVoice(int voice) override { released.push_back(voice); }
    platform::AudioResult Open(int voice, const std::string &path) override;
    void Command(int voice, platform::VoiceCommand command) override;
    platform::AudioResult Sound(int voice, const std::string &path) override;
    std::string DeviceError() override { return deviceError; }
    int AllocatedVoices() const { return voices_; }

    std::vector<std::string> calls;
    // Voices given back, in order (not among the calls).
    std::vector<int> released;
    // Paths whose open fails, with this reason.
    std::vector<std::string> failing;
    std::string deviceError;

private:
    int voices_ = 0;
};

// Installs a fresh recording device and returns it (owned by the platform).
RecordingAudioDevice &InstallRecordingAudio();

// Takes every test seam of the platform away (platform/Seams.h): hooks, answers the file
// dialog did not use, a watcher of the timers' ticks, a stand-in sound device, another
// program folder. Every case starts through it, on its own or as part of FreshProgram.
void FreshSeams();
// Unloads and frees every window, leaving the seams as they are: the sound device a case put
// in place, for one, stays.
void CloseWindows();
// Unloads and frees every window, then FreshSeams, puts the shared variables and the notices
// back to their start values, and installs hooks so that nothing modal or final happens:
// messages are collected in Messages(), the end of the program is counted in EndRequests(),
// the requests to hold the screen awake are kept in ScreenHolds().
void FreshProgram();
// FreshProgram with a fresh recording device in place of the sound output.
RecordingAudioDevice &FreshCase();
std::vector<std::string> &Messages();
int &EndRequests();
// Each request to hold the screen awake (true) or let it go (false) since the last
// FreshProgram.
std::vector<bool> &ScreenHolds();
// Puts a fixed folder, with no "_" in it, in place of the program's folder until the next
// FreshProgram, and returns it: paths built from the program's folder are then the same
// wherever the build stands and on every system. Files beside the program are not found there.
std::string UseFixedProgramFolder();
// Every property assignment of every wave-audio control since the last FreshProgram.
std::vector<std::string> &AudioTrace();
// The lines of the trace for one control, such as "MMC3.".
std::vector<std::string> TraceOf(const std::string &prefix);
// Whether this line is in the trace.
bool Traced(const std::string &line);

// Small data tables: one column of text, each row given by its name and its value; and one
// yes-or-no column with a row for each answer, named as given.
void TextRows(const char *column,
              std::initializer_list<std::pair<const char *, const char *>> rows);
void YesNoRows(const char *column, const char *whenNo, const char *whenYes);

// The window tests' fixture: each case starts on a program that has just started, with a
// recording device for the sound, and leaves nothing loaded behind it.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    RecordingAudioDevice &Device() { return *device_; }

private Q_SLOTS:
    void init() { device_ = &FreshCase(); }
    void cleanup() { FreshProgram(); }

private:
    RecordingAudioDevice *device_ = nullptr;
};

inline QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

// The program's folder as the toolkit sees it, with a suffix in the system's form.
QString InFolder(const QString &suffix);
// A path of a table's rows: "P/" at its start stands for the program's folder, the rest for a
// fixed suffix such as "\\Tones\\beep_l.wav", in the system's form.
QString InProgram(const QString &row);
// The pair of tone files the run takes, left then right.
QStringList TonePair();

// Shows a window and waits until the toolkit has made it the active one. The headless
// platform has no window manager to hand the activation back to a window shown again after
// it was hidden while active, so the test asks for it, and waits for the application's own
// active window: the window's may be there a moment before, with no focus widget yet.
bool ShowActive(platform::Form &form);

// Runs the program's event loop (which waits between rounds) for a while. The program's own
// loop, since a window's unloading ends it, and that would end any other loop at once.
void RunEventLoop(int milliseconds);

// The settings window's button of a pattern, 1 to 4.
platform::OptionButton &PatternButton(int pattern);
// The pattern whose button is selected on the settings window; 0 for none, -1 for more than
// one.
int SelectedPattern();
// The settings window's control of this name, such as "Slider1"; none for another name.
platform::Control *SettingsControl(const QString &name);
// Shows the settings window, active, and gives the named control the focus: its widget, or
// null when the window did not become active or the control did not take the focus.
QWidget *FocusSettingsControl(const QString &name);

} // namespace testsupport

Q_DECLARE_METATYPE(testsupport::Track)
