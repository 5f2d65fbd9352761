// Helpers shared by the test programs: a recording stand-in for the audio device, and a way
// back to a program that has just started between test cases.
#pragma once

#include "platform/AudioDevice.h"

#include <string>
#include <vector>

class FrmEMDR2;

namespace testsupport {

// The stimulation window loaded (after the settings window, as in the program) with its
// timers held still, so that the test drives every tick itself.
FrmEMDR2 &StillWindow();

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

// Unloads and frees every window, puts the shared variables and the notices back to their
// start values, and installs hooks so that nothing modal or final happens: messages are
// collected in Messages(), the end of the program is counted in EndRequests().
void FreshProgram();
std::vector<std::string> &Messages();
int &EndRequests();
// Puts a fixed folder, with no "_" in it, in place of the program's folder until the next
// FreshProgram, and returns it: paths built from the program's folder are then the same
// wherever the build stands and on every system. Files beside the program are not found there.
std::string UseFixedProgramFolder();
// Every property assignment of every wave-audio control since the last FreshProgram.
std::vector<std::string> &AudioTrace();

} // namespace testsupport
