#include "TickMoment.h"

#include <utility>

namespace platform::detail {

namespace {

struct LastTick
{
    const void *timer = nullptr;
    Moment moment{};
    Moment ended{};
};

std::optional<LastTick> g_last;
std::optional<Moment> g_current;
// The timer woken right after a tick, and that tick's moment.
std::optional<std::pair<const void *, Moment>> g_woken;

bool JustAfterAnotherTick(const void *timer, Moment at)
{
    return g_last && g_last->timer != timer && at >= g_last->ended &&
           at - g_last->ended <= kChainedWithin;
}

} // namespace

std::optional<Moment> CurrentTickMoment()
{
    return g_current;
}

void NoteWake(const void *timer)
{
    if (JustAfterAnotherTick(timer, std::chrono::steady_clock::now()))
        g_woken = std::make_pair(timer, g_last->moment);
}

TickScope::TickScope(const void *timer, Moment began)
    : timer_(timer), moment_(began), outer_(g_current)
{
    if (outer_) {
        // Ticked inside another tick's handler (its DoEvents, right after it asked this timer
        // for work): the work is that tick's, and so is the moment, however long the handler
        // ran before it let the events in.
        moment_ = *outer_;
    } else if (g_woken && g_woken->first == timer) {
        moment_ = g_woken->second;
        g_woken.reset();
    } else if (JustAfterAnotherTick(timer, began)) {
        moment_ = g_last->moment;
    }
    g_current = moment_;
}

TickScope::~TickScope()
{
    g_last = LastTick{timer_, moment_, std::chrono::steady_clock::now()};
    g_current = outer_;
}

} // namespace platform::detail
