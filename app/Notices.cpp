#include "Notices.h"

#include "platform/Platform.h"

#include <algorithm>

namespace notices {

namespace {
std::vector<std::string> g_told;
std::function<void(const std::string &)> g_sink;
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
}

} // namespace notices
