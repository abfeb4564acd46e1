#pragma once

#include <atomic>
#include <cstdint>

#include "timer/async_timer.h"
#include "timer/locks.h"
#include "timer/platform_timer.h"

// Internal state of the timer service, shared by its source files.
namespace ostrel::timer_detail {

// One timer. Every field is guarded by the list lock.
struct TimerRecord {
    int identifier = 0;  // stays with the record when it is reused
    TimerCallback callback = nullptr;
    void *callbackData = nullptr;
    int count = 0;  // ticks left; negative: unlimited; 0: discarded at the next tick
    int enabled = 0;
    PlatformTimerHandle platformTimer = 0;
    std::uint32_t intervalSeconds = 0;
    std::uint32_t intervalNanoseconds = 0;
    double firstTickTime = 0.0;
    double previousTickTime = 0.0;
    double timeSinceFirstTick = 0.0;
    double timeSincePreviousTick = 0.0;
    int firstTickPending = 0;
    bool creating = false;  // hidden from lookups until its creation has finished
    void *callbackContext = nullptr;
    TimerRecord *previous = nullptr;  // in the active list or the free list
    TimerRecord *next = nullptr;
};

struct TimerLibrary {
    std::atomic<Lock *> processLock{nullptr};  // named; guards initialisation only
    std::atomic<Lock *> listLock{nullptr};     // guards the fields below and every record
    std::atomic<int> realTimeSystem{0};        // written at every initialisation
    int callbacksEnabled = 1;
    int nextIdentifier = 1;             // 0 once the identifiers are used up
    TimerRecord *activeHead = nullptr;  // live timers, ascending identifiers
    TimerRecord *activeTail = nullptr;
    TimerRecord *freeHead = nullptr;  // discarded records, latest first
    int recordsInTransit = 0;         // unlinked by a discard that is calling out
    double cachedResolution = -1.0;   // seconds; read again while not above 0
    // Changes when a discard of all timers starts and when it ends; a creation
    // that sees it change between its two locks was overlapped by one.
    std::uint64_t discardAllGeneration = 0;
};

extern TimerLibrary g_library;

// Runs at the start of every public operation. False when the locks or the
// platform timer service are not available.
bool InitialiseTimerLibrary();

void LockList();
void UnlockList();

// Current time in seconds, from the platform clock.
double CurrentTime();

// The resolution in seconds, cached while above 0. List lock held.
double TimerResolution();

double ToSeconds(PlatformTime time);
// Splits into whole seconds and truncated nanoseconds; needs IsValidInterval.
PlatformTime ToPlatformTime(double seconds);
// At least 0, a number, and below 2^32 seconds.
bool IsValidInterval(double seconds);

}  // namespace ostrel::timer_detail
