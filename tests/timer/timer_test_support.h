#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "timer/async_timer.h"
#include "timer/timer_testing.h"

namespace ostrel::test {

using namespace std::chrono_literals;

// Long enough for a loaded machine; reached only when a test fails.
inline constexpr auto kDeadline = 10s;
// A window in which nothing may happen; a slow machine only makes it stricter.
inline constexpr auto kQuietWindow = 150ms;

// Polls until the condition holds; false when the deadline passes first.
inline bool WaitUntil(const std::function<bool()> &condition) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct TimerEvent {
    int control;
    int event;
    std::thread::id thread;
};

// Records the callbacks of the timers it is the callback data of. onEvent,
// set before the timer is created, runs after each recording.
class Recorder {
  public:
    static int Callback(int panel, int control, int event, void *data, int data1, int data2) {
        auto *self = static_cast<Recorder *>(data);
        if (panel != 0 || data1 != 0 || data2 != 0) self->badArguments.fetch_add(1);
        const TimerEvent recorded{control, event, std::this_thread::get_id()};
        {
            std::lock_guard lock(self->mutex_);
            self->events_.push_back(recorded);
            self->changed_.notify_all();
        }
        if (self->onEvent) self->onEvent(recorded);
        return 0;
    }

    std::vector<TimerEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    int Count(int event) const {
        int count = 0;
        for (const TimerEvent &recorded : Events()) count += recorded.event == event ? 1 : 0;
        return count;
    }

    bool WaitForCount(int event, int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] {
            int seen = 0;
            for (const TimerEvent &recorded : events_) seen += recorded.event == event ? 1 : 0;
            return seen >= count;
        });
    }

    std::function<void(const TimerEvent &)> onEvent;
    std::atomic<int> badArguments{0};

  private:
    mutable std::mutex mutex_;  // guards events_, written by timer and discarding threads
    std::condition_variable changed_;
    std::vector<TimerEvent> events_;
};

// Leaves the timer service as a fresh process would find it.
class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset() {
        ResumeTimerCallbacks();
        unsetenv("OS");
        timer_testing::UseClock(nullptr);
        timer_testing::UseResolution(nullptr);
        timer_testing::ForgetCachedResolution();
        EXPECT_TRUE(WaitForIdleService());
    }

    // Discards every timer and waits until no discard is still running on
    // another thread (an expired timer's discard callback runs on its own
    // thread). Only then does a new timer get identifier 1.
    static bool WaitForIdleService() {
        return WaitUntil([] {
            DiscardTimer(kAllTimers);
            const int id = CreateTimer(100.0, -1, 0, nullptr, nullptr);
            DiscardTimer(id);
            return id == 1;
        });
    }

    // Declared in the fixture so that they outlive every timer of a test.
    Recorder first_;
    Recorder second_;
    Recorder third_;
};

}  // namespace ostrel::test
