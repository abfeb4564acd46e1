#include "timer/platform_timer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "timer/tick_schedule.h"
#include "timer/timer_testing.h"

namespace ostrel {
namespace {

using std::chrono::nanoseconds;

constexpr std::uint32_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kResolutionNanoseconds = 1'000'000;
constexpr int kHighestPriority = 20;  // niceness -20
constexpr int kLowestPriority = -19;  // niceness 19

struct PlatformTimer {
    PlatformTick tick = nullptr;  // set before the thread starts, then constant
    void *arg = nullptr;
    std::thread thread;            // used by the creator and the discarder only
    std::condition_variable wake;  // arming and stopping; the timer's thread waits on it

    // Guarded by g_timersMutex.
    pid_t threadId = 0;  // kernel id of the thread, known once it runs
    bool armed = false;
    bool stopping = false;
    bool inTick = false;
    bool detached = false;  // the thread deletes this object when it ends
    nanoseconds period{0};
    TickClock::time_point due;
    int priority = 0;
    const PlatformTimer *waitingFor = nullptr;  // timer whose tick this thread waits out
};

// Guards the fields marked above, of every timer. One mutex for all timers keeps
// the wait-for links between their threads one consistent graph.
// Never destroyed, like the condition below: a timer thread discarded from its
// own tick is detached and may end while the process exits.
std::mutex &g_timersMutex = *new std::mutex;
// Signalled when a timer thread has started or has finished a tick.
std::condition_variable &g_timersChanged = *new std::condition_variable;

thread_local PlatformTimer *t_ownTimer = nullptr;  // the timer whose ticks this thread delivers

std::atomic<timer_testing::ClockSource> g_clockSource{nullptr};
std::atomic<std::int64_t> g_resolutionNanoseconds{kResolutionNanoseconds};

PlatformTimer *FromHandle(PlatformTimerHandle handle) {
    return reinterpret_cast<PlatformTimer *>(handle);
}

void RunTick(PlatformTimer *timer, std::unique_lock<std::mutex> &lock) {
    timer->inTick = true;
    lock.unlock();
    timer->tick(timer->arg);
    lock.lock();
    timer->inTick = false;
    g_timersChanged.notify_all();
}

// Body of a timer's thread: sleeps until the next tick is due and delivers it,
// until the timer is stopping.
void DeliverTicks(PlatformTimer *timer) {
    t_ownTimer = timer;
    std::unique_lock lock(g_timersMutex);
    timer->threadId = gettid();
    g_timersChanged.notify_all();
    while (!timer->stopping) {
        if (!timer->armed) {
            timer->wake.wait(lock);
            continue;
        }
        const TickClock::time_point now = TickClock::now();
        if (now < timer->due) {
            timer->wake.wait_until(lock, timer->due);
            continue;
        }
        timer->due = NextTickTime(timer->due, timer->period, now);
        RunTick(timer, lock);
    }
    const bool deleteSelf = timer->detached;
    lock.unlock();
    if (deleteSelf) delete timer;
}

// True when this thread delivers ticks and the target's running tick is waiting,
// directly or through other timers, for this thread's tick to end.
bool WaitingWouldDeadlock(const PlatformTimer *target) {
    if (t_ownTimer == nullptr || !target->inTick) return false;
    for (const PlatformTimer *timer = target; timer != nullptr; timer = timer->waitingFor) {
        if (timer == t_ownTimer) return true;
    }
    return false;
}

void WaitOutTick(const PlatformTimer *target, std::unique_lock<std::mutex> &lock) {
    if (t_ownTimer != nullptr) t_ownTimer->waitingFor = target;
    g_timersChanged.wait(lock, [target] { return !target->inTick; });
    if (t_ownTimer != nullptr) t_ownTimer->waitingFor = nullptr;
}

}  // namespace

int PlatformTimerInit() {
    return TickClock::is_steady ? 1 : 0;
}

PlatformTimerHandle PlatformTimerNew(PlatformTick tick, void *arg) {
    if (tick == nullptr) return 0;
    auto *timer = new (std::nothrow) PlatformTimer;
    if (timer == nullptr) return 0;
    timer->tick = tick;
    timer->arg = arg;
    try {
        timer->thread = std::thread(DeliverTicks, timer);
    } catch (const std::system_error &) {
        delete timer;
        return 0;
    }
    std::unique_lock lock(g_timersMutex);
    g_timersChanged.wait(lock, [timer] { return timer->threadId != 0; });
    return reinterpret_cast<PlatformTimerHandle>(timer);
}

void PlatformTimerSetPriority(PlatformTimerHandle handle, int priority) {
    PlatformTimer *timer = FromHandle(handle);
    if (timer == nullptr) return;
    const int level = std::clamp(priority, kLowestPriority, kHighestPriority);
    std::lock_guard lock(g_timersMutex);
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(timer->threadId), -level) == 0) {
        timer->priority = level;
    }
}

int PlatformTimerGetPriority(PlatformTimerHandle handle) {
    PlatformTimer *timer = FromHandle(handle);
    if (timer == nullptr) return 0;
    std::lock_guard lock(g_timersMutex);
    return timer->priority;
}

int PlatformTimerArm(PlatformTimerHandle handle, PlatformTime period) {
    PlatformTimer *timer = FromHandle(handle);
    if (timer == nullptr || period.nanoseconds >= kNanosecondsPerSecond) return 0;
    const nanoseconds length =
        std::chrono::seconds(period.seconds) + nanoseconds(period.nanoseconds);
    if (length.count() == 0) return 0;
    std::lock_guard lock(g_timersMutex);
    timer->period = length;
    timer->due = TickClock::now() + length;
    timer->armed = true;
    timer->wake.notify_all();
    return 1;
}

void PlatformTimerDiscard(PlatformTimerHandle handle) {
    PlatformTimer *timer = FromHandle(handle);
    if (timer == nullptr) return;
    std::unique_lock lock(g_timersMutex);
    timer->stopping = true;
    timer->wake.notify_all();
    if (timer == t_ownTimer || WaitingWouldDeadlock(timer)) {
        // The running tick cannot be waited out; its thread ends after it.
        timer->detached = true;
        timer->thread.detach();
        return;
    }
    WaitOutTick(timer, lock);
    lock.unlock();
    timer->thread.join();
    delete timer;
}

void PlatformTimerResolution(PlatformTime *periodOut) {
    if (periodOut == nullptr) return;
    const std::int64_t total = g_resolutionNanoseconds.load();
    periodOut->seconds = static_cast<std::uint32_t>(total / kNanosecondsPerSecond);
    periodOut->nanoseconds = static_cast<std::uint32_t>(total % kNanosecondsPerSecond);
}

void PlatformTimerNow(PlatformTime *timeOut) {
    if (timeOut == nullptr) return;
    if (timer_testing::ClockSource source = g_clockSource.load()) {
        *timeOut = source();
        return;
    }
    const nanoseconds sinceStart = TickClock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceStart);
    timeOut->seconds = static_cast<std::uint32_t>(seconds.count());
    timeOut->nanoseconds = static_cast<std::uint32_t>((sinceStart - seconds).count());
}

namespace timer_testing {

void UseClock(ClockSource clock) {
    g_clockSource.store(clock);
}

void UseResolution(const PlatformTime *resolution) {
    if (resolution == nullptr) {
        g_resolutionNanoseconds.store(kResolutionNanoseconds);
        return;
    }
    g_resolutionNanoseconds.store(std::int64_t{resolution->seconds} * kNanosecondsPerSecond +
                                  resolution->nanoseconds);
}

}  // namespace timer_testing
}  // namespace ostrel
