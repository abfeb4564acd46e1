#pragma once

#include <atomic>
#include <chrono>
#include <memory>

namespace ostrel::sim {

using Nanos = std::chrono::nanoseconds;

// The monotonic clock that paces simulated modules. Tests inject a ManualClock.
class Clock {
  public:
    virtual ~Clock() = default;

    // Time since an arbitrary fixed epoch; never decreases.
    virtual Nanos now() const = 0;

    // Longest real-time sleep a waiter may take before it looks at now() again.
    virtual Nanos pollInterval() const = 0;
};

// The system's steady clock; waiters sleep until their deadline.
class SteadyClock final : public Clock {
  public:
    Nanos now() const override;
    Nanos pollInterval() const override;
};

// A clock that moves only when told to; waiters look at it every millisecond of real time.
// Safe to advance from one thread while others read it.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(Nanos start = Nanos{0}) : now_(start.count()) {}

    Nanos now() const override { return Nanos{now_.load()}; }
    Nanos pollInterval() const override { return std::chrono::milliseconds{1}; }

    void advance(Nanos step) { now_.fetch_add(step.count()); }

  private:
    std::atomic<Nanos::rep> now_;
};

std::shared_ptr<Clock> steadyClock();

}  // namespace ostrel::sim
