#include "sim/clock.h"

namespace ostrel::sim {

Nanos SteadyClock::now() const {
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now().time_since_epoch());
}

// Waiters are woken by their condition variable for every change of state, so they may sleep
// all the way to their deadline; the cap only keeps the arithmetic of far deadlines sane.
Nanos SteadyClock::pollInterval() const {
    return std::chrono::hours{1};
}

std::shared_ptr<Clock> steadyClock() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
    return clock;
}

}  // namespace ostrel::sim
