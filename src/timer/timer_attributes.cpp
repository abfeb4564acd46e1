#include <algorithm>
#include <cstdarg>

#include "timer/async_timer.h"
#include "timer/timer_library.h"
#include "timer/timer_list.h"

namespace ostrel {

using namespace timer_detail;

namespace {

bool IsKnownAttribute(int attribute) {
    return attribute >= kTimerAttrInterval && attribute <= kTimerAttrTimeSincePreviousTick;
}

// Re-arms the platform timer with the new period; the stored interval changes
// only when that succeeds. Arming never blocks, so it may run under the list lock.
int SetInterval(TimerRecord *record, double interval) {
    if (!IsValidInterval(interval)) return kTimerErrInvalidArgument;
    const double resolution = TimerResolution();
    if (resolution <= 0.0) return kTimerErrPlatformTimer;
    const PlatformTime period = ToPlatformTime(std::max(interval, resolution));
    if (PlatformTimerArm(record->platformTimer, period) == 0) return kTimerErrPlatformTimer;
    record->intervalSeconds = period.seconds;
    record->intervalNanoseconds = period.nanoseconds;
    return 0;
}

int SetCount(TimerRecord *record, int count) {
    if (count == 0) return kTimerErrInvalidArgument;
    record->count = count;
    return 0;
}

int SetEnabled(TimerRecord *record, int enabled) {
    if (enabled != 0 && enabled != 1) return kTimerErrInvalidArgument;
    record->enabled = enabled;
    return 0;
}

// List lock held.
int SetAttribute(TimerRecord *record, int attribute, va_list args) {
    switch (attribute) {
        case kTimerAttrInterval:
            return SetInterval(record, va_arg(args, double));
        case kTimerAttrCount:
            return SetCount(record, va_arg(args, int));
        case kTimerAttrEnabled:
            return SetEnabled(record, va_arg(args, int));
        case kTimerAttrCallbackData:
            record->callbackData = va_arg(args, void *);
            return 0;
        case kTimerAttrCallbackFunction:
            record->callback = va_arg(args, TimerCallback);
            return 0;
        case kTimerAttrThreadPriority:
            // Fixed at creation.
            return g_library.realTimeSystem.load() != 0 ? kTimerErrNotSettable
                                                        : kTimerErrNoPriorities;
        default:
            return kTimerErrNotSettable;  // the elapsed times are read-only
    }
}

template <typename T>
int Write(void *valueOut, T value) {
    *static_cast<T *>(valueOut) = value;
    return 0;
}

// List lock held.
int GetAttribute(const TimerRecord *record, int attribute, void *valueOut) {
    switch (attribute) {
        case kTimerAttrInterval:
            return Write(valueOut,
                         ToSeconds({record->intervalSeconds, record->intervalNanoseconds}));
        case kTimerAttrCount:
            return Write(valueOut, record->count);
        case kTimerAttrEnabled:
            return Write(valueOut, record->enabled);
        case kTimerAttrCallbackData:
            return Write(valueOut, record->callbackData);
        case kTimerAttrCallbackFunction:
            return Write(valueOut, record->callback);
        case kTimerAttrThreadPriority:
            if (g_library.realTimeSystem.load() == 0) return kTimerErrNoPriorities;
            return Write(valueOut, PlatformTimerGetPriority(record->platformTimer));
        case kTimerAttrTimeSinceFirstTick:
            return Write(valueOut, record->timeSinceFirstTick);
        default:
            return Write(valueOut, record->timeSincePreviousTick);
    }
}

}  // namespace

int SetTimerAttribute(int timerId, int attribute, ...) {
    va_list args;
    va_start(args, attribute);
    const int result = SetTimerAttributeFromArgs(timerId, attribute, args);
    va_end(args);
    return result;
}

int SetTimerAttributeFromArgs(int timerId, int attribute, va_list args) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    if (!IsKnownAttribute(attribute)) return kTimerErrInvalidArgument;
    LockList();
    TimerRecord *record = FindTimer(timerId);
    const int result =
        record != nullptr ? SetAttribute(record, attribute, args) : kTimerErrNoSuchTimer;
    UnlockList();
    return result;
}

int GetTimerAttribute(int timerId, int attribute, void *valueOut) {
    if (!InitialiseTimerLibrary()) return kTimerErrInitialisation;
    if (!IsKnownAttribute(attribute) || valueOut == nullptr) return kTimerErrInvalidArgument;
    LockList();
    const TimerRecord *record = FindTimer(timerId);
    const int result =
        record != nullptr ? GetAttribute(record, attribute, valueOut) : kTimerErrNoSuchTimer;
    UnlockList();
    return result;
}

}  // namespace ostrel
