// The moment a timer's tick came, for the sound output: a turn's tone is sounded a fixed
// time after the tick that made the turn, so that the tones keep the turns' beat however
// long the handlers in between take. Only the platform layer's own files include this.
//
// A sleeping timer woken right after another timer's tick (within kChainedWithin of its
// end), as the tone tick is woken by the motion tick's turn, was woken by that tick: its next
// tick belongs to that tick's moment, however late a busy machine lets it come. So does such a
// timer's tick that comes within kChainedWithin of another timer's tick's end. A timer that
// does not wait on other ticks for its work (the motion tick, the sound line's) always has its
// own moment, whatever ticked just before it.
#pragma once

#include <chrono>
#include <optional>

namespace platform::detail {

using Moment = std::chrono::steady_clock::time_point;

inline constexpr std::chrono::microseconds kChainedWithin{3000};

// The moment of the tick whose handler runs now; none outside a tick (a click, a key).
std::optional<Moment> CurrentTickMoment();

// Marks a tick's handler from its start to its end. A tick of a timer that waits on other
// ticks for its work (`servesOtherTicks`) nested in another's handler (one that lets the events
// run) has the outer tick's moment; every tick restores the outer moment when it ends.
// A sleeping timer is woken now: its next tick may belong to the tick just handled.
void NoteWake(const void *timer);

class TickScope
{
public:
    TickScope(const void *timer, Moment began, bool servesOtherTicks);
    ~TickScope();
    TickScope(const TickScope &) = delete;
    TickScope &operator=(const TickScope &) = delete;
    Moment moment() const { return moment_; }

private:
    const void *timer_;
    Moment moment_;
    std::optional<Moment> outer_;
};

} // namespace platform::detail
