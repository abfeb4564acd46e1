#include "timer/async_timer.h"

#include <algorithm>
#include <climits>
#include <new>

#include "timer/runtime_hooks.h"
#include "timer/timer_library.h"
#include "timer/timer_list.h"

namespace ostrel {

using namespace timer_detail;

namespace {

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

// Puts a record whose creation failed on the free list; its identifier is not
// given back. List lock held on entry, released on return.
int AbandonCreation(TimerRecord *record) {
    ClearRecord(record);
    record->creating = false;
    UnlinkActive(record);
    PushFree(record);
    UnlockList();
    return kTimerErrPlatformTimer;
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
    if (resolution <= 0.0) return AbandonCreation(record);
    PrepareRecord(record, std::max(interval, resolution), count, callback, callbackData);
    const PlatformTime period{record->intervalSeconds, record->intervalNanoseconds};
    UnlockList();

    const PlatformTimerHandle platformTimer = StartPlatformTimer(record, priority, period);

    LockList();
    if (platformTimer == 0) return AbandonCreation(record);
    record->platformTimer = platformTimer;
    record->enabled = initialState;
    record->creating = false;
    const int identifier = record->identifier;
    UnlockList();
    RegisterTimerResource(identifier, interval);
    return identifier;
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
        while (TimerRecord *record = FirstLiveTimer()) DiscardRecord(record);
        ReleaseRecordsIfIdle();
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

}  // namespace ostrel
