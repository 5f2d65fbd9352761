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
}

} // namespace notices
