#include "Notices.h"

#include "platform/Platform.h"

#include <algorithm>

namespace notices {

namespace {
std::vector<std::string> g_told;
std::vector<std::string> g_holding;
std::function<void()> g_sink;

bool Contains(const std::vector<std::string> &texts, const std::string &text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}
std::function<void(const std::string &)> g_soundSink;
std::string g_soundProblem;
} // namespace

void TellOnce(const std::string &text)
{
    if (Contains(g_holding, text))
        return;
    g_holding.push_back(text);
    if (!Contains(g_told, text)) {
        g_told.push_back(text);
        platform::LogProblem(text);
    }
    if (g_sink)
        g_sink();
}

void Withdraw(const std::string &text)
{
    const auto found = std::find(g_holding.begin(), g_holding.end(), text);
    if (found == g_holding.end())
        return;
    g_holding.erase(found);
    if (g_sink)
        g_sink();
}

const std::vector<std::string> &Told()
{
    return g_told;
}

const std::vector<std::string> &Holding()
{
    return g_holding;
}

void SetSink(std::function<void()> sink)
{
    g_sink = std::move(sink);
}

void Reset()
{
    g_told.clear();
    g_holding.clear();
    g_soundProblem.clear();
}

void SetSoundProblem(const std::string &problem)
{
    if (problem == g_soundProblem)
        return;
    const std::string gone = g_soundProblem;
    g_soundProblem = problem;
    if (!gone.empty())
        g_holding.erase(std::remove(g_holding.begin(), g_holding.end(), gone), g_holding.end());
    // Each time sound is lost is told on standard error, not only the first.
    if (!problem.empty()) {
        g_holding.push_back(problem);
        platform::LogProblem(problem);
    }
    if (g_sink)
        g_sink();
    if (g_soundSink)
        g_soundSink(problem);
}

const std::string &SoundProblem()
{
    return g_soundProblem;
}

void SetSoundSink(std::function<void(const std::string &)> sink)
{
    g_soundSink = std::move(sink);
}

} // namespace notices
