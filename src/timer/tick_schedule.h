#pragma once

#include <chrono>

namespace ostrel {

using TickClock = std::chrono::steady_clock;

// The time of the tick after the one scheduled at `due`: one period later, so
// lateness does not accumulate. When that is already past `now` (the thread
// woke more than a period late), the missed ticks are skipped and the next
// tick keeps the original phase.
inline TickClock::time_point NextTickTime(TickClock::time_point due,
                                          std::chrono::nanoseconds period,
                                          TickClock::time_point now) {
    TickClock::time_point next = due + period;
    if (next > now) return next;
    const auto missed = (now - next) / period + 1;
    return next + missed * period;
}

}  // namespace ostrel
