#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/wait.h"
#include "timer/async_timer.h"
#include "timer/timer_testing.h"

namespace ostrel::test {

using namespace std::chrono_literals;

inline constexpr auto kDeadline = 10s;       // reached only when a test fails
inline constexpr auto kQuietWindow = 150ms;  // nothing may happen in it

// Polls until the condition holds; false when the deadline passes first.
inline bool WaitUntil(const std::function<bool()> &condition) {
    return waitFor(condition, kDeadline, 1ms);
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
        }
        if (self->onEvent) self->onEvent(recorded);
        return 0;
    }

    std::vector<TimerEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    int Count(int event) const {
        return static_cast<int>(std::ranges::count(Events(), event, &TimerEvent::event));
    }

    bool WaitForCount(int event, int count) {
        return WaitUntil([&] { return Count(event) >= count; });
    }

    std::function<void(const TimerEvent &)> onEvent;
    std::atomic<int> badArguments{0};

  private:
    mutable std::mutex mutex_;  // guards events_, written by timer and discarding threads
    std::vector<TimerEvent> events_;
};

// Leaves the timer service as a fresh process would find it.
class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    // Discards every timer and waits until no discard still runs on another
    // thread (an expired timer's discard runs on its own): then identifiers
    // restart at 1.
    static void Reset() {
        timer_testing::OnCreationBetweenLocks(nullptr);
        ResumeTimerCallbacks();
        unsetenv("OS");
        timer_testing::UseClock(nullptr);
        timer_testing::UseResolution(nullptr);
        timer_testing::ForgetCachedResolution();
        EXPECT_TRUE(WaitUntil([] {
            DiscardTimer(kAllTimers);
            const int id = CreateTimer(100.0, -1, 0, nullptr, nullptr);
            DiscardTimer(id);
            return id == 1;
        }));
    }

    static int CreateQuiet(Recorder &recorder) {  // never ticks during a test
        return CreateTimer(100.0, -1, 0, Recorder::Callback, &recorder);
    }
    static int CreateTicking(Recorder &recorder) {
        return CreateTimer(0.01, -1, 1, Recorder::Callback, &recorder);
    }

    // Expects exactly one discard event of the recorder and nothing after it.
    static void ExpectSilentAfterDiscard(const Recorder &recorder) {
        std::this_thread::sleep_for(kQuietWindow);
        const std::vector<TimerEvent> events = recorder.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().event, kTimerDiscardEvent);
        EXPECT_EQ(recorder.Count(kTimerDiscardEvent), 1);
    }

    // Members of the fixture, so that they outlive every timer of a test.
    Recorder first_, second_, third_;
    std::atomic<int> ticks_{0};
};

}  // namespace ostrel::test
