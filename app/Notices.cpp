#include "Notices.h"

#include "platform/Platform.h"

#include <algorithm>

namespace notices {

namespace {
std::vector<std::string> g_told;
std::function<void(const std::string &)> g_sink;
std::function<void(const std::string &)> g_withdrawSink;
std::function<void(const std::string &)> g_soundSink;
std::string g_soundProblem;
} // namespace

void TellOnce(const std::string &text)
{
    if (std::find(g_told.begin(), g_told.end(), text) != g_told.end())
        return;
    g_told.push_back(text);
    platform::LogProblem(text);
    if (g_sink)
        g_sink(text);
}

const std::vector<std::string> &Told()
{
    return g_told;
}

void SetSink(std::function<void(const std::string &)> sink)
{
    g_sink = std::move(sink);
}

void Reset()
{
    g_told.clear();
    g_soundProblem.clear();
}

void SetSoundProblem(const std::string &problem)
{
    if (problem == g_soundProblem)
        return;
    const std::string gone = g_soundProblem;
    g_soundProblem = problem;
    if (!gone.empty() && g_withdrawSink)
        g_withdrawSink(gone);
    if (!problem.empty()) {
        platform::LogProblem(problem);
        if (g_sink)
            g_sink(problem);
    }
    if (g_soundSink)
        g_soundSink(problem);
}

const std::string &SoundProblem()
{
    return g_soundProblem;
}

void SetWithdrawSink(std::function<void(const std::string &)> sink)
{
    g_withdrawSink = std::move(sink);
}

void SetSoundSink(std::function<void(const std::string &)> sink)
{
    g_soundSink = std::move(sink);
}

} // namespace notices
