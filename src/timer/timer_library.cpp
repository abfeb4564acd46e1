#include "timer/timer_library.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "timer/runtime_hooks.h"
#include "timer/timer_testing.h"

namespace ostrel::timer_detail {

TimerLibrary g_library;

namespace {

constexpr double kNanosecondsPerSecond = 1e9;
constexpr double kIntervalLimit = 4294967296.0;  // 2^32 seconds

// Creates a lock with resource tracking switched off, so that the service's
// own locks never show up as live resources.
bool NewUntrackedLock(const char *name, Lock **lockOut) {
    const bool tracking = SetResourceTracking(false);
    const bool created = NewLock(name, lockOut) >= 0;
    SetResourceTracking(tracking);
    return created;
}

// Returns the process lock, held; nullptr when it cannot be created. Racing
// first callers agree on the lock installed first.
Lock *AcquireProcessLock() {
    if (Lock *installed = g_library.processLock.load()) {
        GetLock(installed);
        return installed;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Ostrel Async Timer Library %u",
                  static_cast<unsigned>(getpid()));
    Lock *created = nullptr;
    if (!NewUntrackedLock(name, &created)) return nullptr;
    GetLock(created);
    Lock *installed = nullptr;
    if (g_library.processLock.compare_exchange_strong(installed, created)) return created;
    ReleaseLock(created);
    DiscardLock(created);
    GetLock(installed);
    return installed;
}

// True when the environment variable OS starts with "RTLINUX", in any case.
bool ReadRealTimeFlag() {
    const char *os = std::getenv("OS");
    if (os == nullptr) return false;
    for (const char *expected = "RTLINUX"; *expected != '\0'; ++expected, ++os) {
        if (std::toupper(static_cast<unsigned char>(*os)) != *expected) return false;
    }
    return true;
}

}  // namespace

bool InitialiseTimerLibrary() {
    Lock *processLock = AcquireProcessLock();
    if (processLock == nullptr) return false;
    bool ready = true;
    if (g_library.listLock.load() == nullptr) {
        Lock *listLock = nullptr;
        if (NewUntrackedLock(nullptr, &listLock)) {
            g_library.listLock.store(listLock);
        } else {
            ready = false;
        }
    }
    if (PlatformTimerInit() == 0) ready = false;
    g_library.realTimeSystem.store(ReadRealTimeFlag() ? 1 : 0);
    ReleaseLock(processLock);
    return ready;
}

void LockList() {
    GetLock(g_library.listLock.load());
}
void UnlockList() {
    ReleaseLock(g_library.listLock.load());
}

double CurrentTime() {
    PlatformTime now;
    PlatformTimerNow(&now);
    return ToSeconds(now);
}

double TimerResolution() {
    if (g_library.cachedResolution > 0.0) return g_library.cachedResolution;
    PlatformTime resolution;
    PlatformTimerResolution(&resolution);
    g_library.cachedResolution = ToSeconds(resolution);
    return g_library.cachedResolution;
}

double ToSeconds(PlatformTime time) {
    return time.seconds + time.nanoseconds / kNanosecondsPerSecond;
}

PlatformTime ToPlatformTime(double seconds) {
    const double whole = std::floor(seconds);
    const double nanoseconds = std::min((seconds - whole) * kNanosecondsPerSecond, 999999999.0);
    return {static_cast<std::uint32_t>(whole), static_cast<std::uint32_t>(nanoseconds)};
}

bool IsValidInterval(double seconds) {
    return seconds >= 0.0 && seconds < kIntervalLimit;
}

}  // namespace ostrel::timer_detail

namespace ostrel::timer_testing {

void ForgetCachedResolution() {
    using namespace ostrel::timer_detail;
    if (!InitialiseTimerLibrary()) return;
    LockList();
    g_library.cachedResolution = -1.0;
    UnlockList();
}

}  // namespace ostrel::timer_testing
