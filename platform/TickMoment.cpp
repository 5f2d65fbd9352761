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

// The moment of the tick whose work a worker's tick at `began` does.
Moment MomentOfWork(const void *timer, Moment began)
{
    if (g_current) {
        // Ticked inside another tick's handler (its DoEvents, right after it asked this timer
        // for work): the work is that tick's, and so is the moment, however long the handler
        // ran before it let the events in.
        return *g_current;
    }
    if (g_woken && g_woken->first == timer) {
        const Moment woke = g_woken->second;
        g_woken.reset();
        return woke;
    }
    if (JustAfterAnotherTick(timer, began))
        return g_last->moment;
    return began;
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

TickScope::TickScope(const void *timer, Moment began, bool servesOtherTicks)
    : timer_(timer), moment_(began), outer_(g_current)
{
    // A timer whose work is its own keeps its moment: a tick that merely ended a moment
    // before (the sound line's, hiding its words) must not move the turns it makes, nor their
    // tones.
    if (servesOtherTicks)
        moment_ = MomentOfWork(timer, began);
    g_current = moment_;
}

TickScope::~TickScope()
{
    g_last = LastTick{timer_, moment_, std::chrono::steady_clock::now()};
    g_current = outer_;
}

} // namespace platform::detail
