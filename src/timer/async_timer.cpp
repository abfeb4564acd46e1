#include "timer/async_timer.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <new>

#include "timer/runtime_hooks.h"
#include "timer/timer_library.h"
#include "timer/timer_list.h"
#include "timer/timer_testing.h"

namespace ostrel {

using namespace timer_detail;

namespace {

std::atomic<void (*)()> g_creationHook{nullptr};  // see timer_testing.h

void Notify(TimerCallback callback, int identifier, int event, void *callbackData) {
    if (callback != nullptr) callback(0, identifier, event, callbackData, 0, 0);
}

void UpdateElapsedTimes(TimerRecord *record, double now) {
    record->timeSinceFirstTick = now - record->firstTickTime;
    record->timeSincePreviousTick = now - record->previousTickTime;
    record->previousTickTime = now;
}

void ClearRecord(TimerRecord *record) {
    record->platformTimer = 0;
    record->enabled = 0;
    record->count = 0;
    record->callback = nullptr;
    record->callbackData = nullptr;
}

// Discards a live timer: disables and unlinks it under the list lock, then
// destroys its platform timer and makes the discard callback with the lock
// released. List lock held on entry and on return.
void DiscardRecord(TimerRecord *record) {
    record->enabled = 0;
    UnlinkActive(record);
    UpdateElapsedTimes(record, CurrentTime());
    if (record->platformTimer != 0) {
        const PlatformTimerHandle platformTimer = record->platformTimer;
        const TimerCallback callback = record->callback;
        void *const callbackData = record->callbackData;
        const int identifier = record->identifier;
        g_library.recordsInTransit += 1;
        UnlockList();
        PlatformTimerDiscard(platformTimer);
        Notify(callback, identifier, kTimerDiscardEvent, callbackData);
        LockList();
        g_library.recordsInTransit -= 1;
        ClearRecord(record);
    }
    UnregisterTimerResource(record->identifier);
    PushFree(record);
    ReleaseRecordsIfIdle();
}

// Runs on the platform timer's thread for every tick. Holds the list lock for
// the bookkeeping only and touches the record no more once it is released: a
// callback may discard the timer and so free the record.
void HandleTick(void *arg) {
    auto *record = static_cast<TimerRecord *>(arg);
    LockList();
    if (g_library.callbacksEnabled == 0 || record->enabled == 0) {
        UnlockList();
        return;
    }
    if (record->count == 0) {
        DiscardRecord(record);
        UnlockList();
        return;
    }
    if (record->count > 0) record->count -= 1;
    const double now = CurrentTime();
    if (record->firstTickPending != 0) {
        record->firstTickPending = 0;
        record->firstTickTime = now;
        record->previousTickTime = now;
    }
    UpdateElapsedTimes(record, now);
    const TimerCallback callback = record->callback;
    void *const callbackData = record->callbackData;
    void *const context = record->callbackContext;
    const int identifier = record->identifier;
    UnlockList();
    EnterTimerCallback(context);
    Notify(callback, identifier, kTimerTickEvent, callbackData);
    LeaveTimerCallback(context);
}

// A record from the free list (keeping its identifier) or a new one with the
// next identifier. List lock held.
int TakeRecord(TimerRecord **recordOut) {
    *recordOut = PopFree();
    if (*recordOut != nullptr) return 0;
    if (g_library.nextIdentifier <= 0) return kTimerErrNoIdentifierLeft;
    auto *record = new (std::nothrow) TimerRecord;
    if (record == nullptr) return kTimerErrOutOfMemory;
    record->identifier = g_library.nextIdentifier;
    g_library.nextIdentifier = record->identifier == INT_MAX ? 0 : record->identifier + 1;
    *recordOut = record;
    return 0;
}

// Puts a record whose creation ended without a live timer on the free list;
// its identifier is not given back, but all restart when nothing else is left.
// Returns error. List lock held on entry, released on return.
int AbandonCreation(TimerRecord *record, int error) {
    ClearRecord(record);
    record->creating = false;
    UnlinkActive(record);
    PushFree(record);
    ReleaseRecordsIfIdle();
    UnlockList();
    return error;
}

// Ends a creation that a discard of all timers overlapped: the timer counts as
// discarded before it existed, so none of its callbacks runs. Its ticks never
// called back, as the record is still disabled. The record stays in the active
// list, hidden, until its platform timer is gone, so that neither the record
// nor its identifier is reused while a tick may still use it.
// List lock held on entry, released on return.
int CancelCreation(TimerRecord *record, PlatformTimerHandle platformTimer) {
    UnlockList();
    PlatformTimerDiscard(platformTimer);
    LockList();
    return AbandonCreation(record, kTimerErrNoSuchTimer);
}

void PrepareRecord(TimerRecord *record, double interval, int count, TimerCallback callback,
                   void *callbackData) {
    const PlatformTime period = ToPlatformTime(interval);
    record->enabled = 0;
    record->count = count;
    record->callback = callback;
    record->callbackData = callbackData;
    record->firstTickPending = 1;
    record->intervalSeconds = period.seconds;
    record->intervalNanoseconds = period.nanoseconds;
    record->firstTickTime = 0.0;
    record->previousTickTime = 0.0;
    record->timeSinceFirstTick = 0.0;
    record->timeSincePreviousTick = 0.0;
}

// A running platform timer for the record, or 0 when it cannot be created or armed.
PlatformTimerHandle StartPlatformTimer(TimerRecord *record, int priority, PlatformTime period) {
    const PlatformTimerHandle platformTimer = PlatformTimerNew(HandleTick, record);
    if (platformTimer == 0) return 0;
    PlatformTimerSetPriority(platformTimer, priority);
    if (PlatformTimerArm(platformTimer, period) != 0) return platformTimer;
    PlatformTimerDiscard(platformTimer);
    return 0;
}

void RunCreationHook() {
    if (void (*hook)() = g_creationHook.load()) hook();
}

// List lock held on entry, released on return.
int MakeLive(TimerRecord *record, PlatformTimerHandle platformTimer, int initialState,
             double interval) {
    record->platformTimer = platformTimer;
    record->enabled = initialState;
    record->creating = false;
    const int identifier = record->identifier;
    UnlockList();
    RegisterTimerResource(identifier, interval);
    return identifier;
}

// The second half of a creation, back under the list lock: the timer becomes
// live unless its platform timer failed or a discard of all timers started or
// ended since generation was read. List lock held on entry, released on return.
int FinishCreation(TimerRecord *record, PlatformTimerHandle platformTimer, std::uint64_t generation,
                   int initialState, double interval) {
    if (platformTimer == 0) return AbandonCreation(record, kTimerErrPlatformTimer);
    if (g_library.discardAllGeneration != generation) {
        return CancelCreation(record, platformTimer);
    }
    return MakeLive(record, platformTimer, initialState, interval);
}

// While the platform timer starts with the list lock released, the record waits
// in the active list, hidden from lookups; there it keeps identifiers from
// restarting.
int CreateTimerRecord(double interval, int count, int initialState, TimerCallback callback,
                      void *callbackData, int priority) {
    if ((initialState != 0 && initialState != 1) || !IsValidInterval(interval) || count == 0) {
        return kTimerErrInvalidArgument;
    }
    LockList();
    TimerRecord *record = nullptr;
    const int taken = TakeRecord(&record);
    if (taken < 0) {
        UnlockList();
        return taken;
    }
    record->creating = true;
    InsertActive(record);
    const double resolution = TimerResolution();
    if (resolution <= 0.0) return AbandonCreation(record, kTimerErrPlatformTimer);
    PrepareRecord(record, std::max(interval, resolution), count, callback, callbackData);
    const PlatformTime period{record->intervalSeconds, record->intervalNanoseconds};
    const std::uint64_t generation = g_library.discardAllGeneration;
    UnlockList();

    const PlatformTimerHandle platformTimer = StartPlatformTimer(record, priority, period);
    RunCreationHook();

    LockList();
    return FinishCreation(record, platformTimer, generation, initialState, interval);
}

// Discards every live timer. The generation changes at the start, which cancels
// the creations already under way, and at the end, which cancels those that
// start meanwhile and finish later; a creation that starts and finishes
// meanwhile is live in time for the loop. List lock held.
void DiscardAllRecords() {
    g_library.discardAllGeneration += 1;
    while (TimerRecord *record = FirstLiveTimer()) DiscardRecord(record);
    ReleaseRecordsIfIdle();
    g_library.discardAllGeneration += 1;
}

int SetCallbacksEnabled(int enabled) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    LockList();
    g_library.callbacksEnabled = enabled;
    UnlockList();
    return 0;
}

}  // namespace

int CreateTimer(double interval, int count, int initialState, TimerCallback callback,
                void *callbackData) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    return CreateTimerRecord(interval, count, initialState, callback, callbackData,
                             kDefaultTimerPriority);
}

int CreateTimerWithPriority(double interval, int count, int initialState, TimerCallback callback,
                            void *callbackData, int priority) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    if (g_library.realTimeSystem.load() == 0) return kTimerErrNoPriorities;
    return CreateTimerRecord(interval, count, initialState, callback, callbackData, priority);
}

int DiscardTimer(int timerId) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    LockList();
    if (timerId == kAllTimers) {
        DiscardAllRecords();
        UnlockList();
        return 0;
    }
    TimerRecord *record = FindTimer(timerId);
    if (record == nullptr) {
        UnlockList();
        return kTimerErrNoSuchTimer;
    }
    DiscardRecord(record);
    UnlockList();
    return 0;
}

int SuspendTimerCallbacks() {
    return SetCallbacksEnabled(0);
}

int ResumeTimerCallbacks() {
    return SetCallbacksEnabled(1);
}

int GetTimerResolution(double *resolutionOut) {
    if (resolutionOut == nullptr) return kTimerErrInvalidArgument;
    *resolutionOut = 0.0;
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    LockList();
    *resolutionOut = TimerResolution();
    UnlockList();
    return *resolutionOut == 0.0 ? kTimerErrInitialisation : 0;
}

namespace timer_testing {

void OnCreationBetweenLocks(void (*hook)()) {
    g_creationHook.store(hook);
}

}  // namespace timer_testing
}  // namespace ostrel
