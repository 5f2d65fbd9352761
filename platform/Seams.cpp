#include "SeamState.h"

#include "forms/CommonDialog.h"
#include "sound/AudioDevice.h"

#include <deque>

namespace platform::seams {

namespace {
struct State
{
    std::function<void()> endProgram;
    MessageHook messageBox;
    std::deque<std::string> fileAnswers;
    int fileDialogsShown = 0;
    CommonDialog lastFileDialog{""};
    std::function<void(const std::string &)> audioTrace;
    TickObserver ticks;
    std::unique_ptr<AudioDevice> audioDevice;
    std::function<void(bool)> screenAwake;
    std::string programFolder;
};

State &Seams()
{
    static State state;
    return state;
}
} // namespace

void SetEndProgramHook(std::function<void()> hook)
{
    Seams().endProgram = std::move(hook);
}

void SetMessageHook(MessageHook hook)
{
    Seams().messageBox = std::move(hook);
}

void AnswerFileDialog(const std::string &path)
{
    Seams().fileAnswers.push_back(path);
}

int FileDialogsShown()
{
    return Seams().fileDialogsShown;
}

const CommonDialog &LastFileDialog()
{
    return Seams().lastFileDialog;
}

void SetAudioTraceHook(std::function<void(const std::string &line)> hook)
{
    Seams().audioTrace = std::move(hook);
}

void SetTickObserver(TickObserver observer)
{
    Seams().ticks = std::move(observer);
}

void SetAudioDevice(std::unique_ptr<AudioDevice> device)
{
    Seams().audioDevice = std::move(device);
}

void SetScreenAwakeHook(std::function<void(bool hold)> hook)
{
    Seams().screenAwake = std::move(hook);
}

void SetProgramFolder(const std::string &folder)
{
    Seams().programFolder = folder;
}

void Reset()
{
    Seams() = State{};
}

namespace detail {

const std::function<void()> &EndProgramHook()
{
    return Seams().endProgram;
}

const MessageHook &MessageBoxHook()
{
    return Seams().messageBox;
}

std::optional<std::string> TakeFileDialogAnswer(const CommonDialog &shown)
{
    State &s = Seams();
    ++s.fileDialogsShown;
    s.lastFileDialog = shown;
    if (s.fileAnswers.empty())
        return std::nullopt;
    std::string answer = s.fileAnswers.front();
    s.fileAnswers.pop_front();
    return answer;
}

const std::function<void(const std::string &)> &AudioTraceHook()
{
    return Seams().audioTrace;
}

const TickObserver &TickObserverHook()
{
    return Seams().ticks;
}

AudioDevice *ReplacementAudioDevice()
{
    return Seams().audioDevice.get();
}

const std::function<void(bool)> &ScreenAwakeHook()
{
    return Seams().screenAwake;
}

const std::string &ProgramFolder()
{
    return Seams().programFolder;
}

} // namespace detail
} // namespace platform::seams
