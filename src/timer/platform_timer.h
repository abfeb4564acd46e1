#pragma once

#include <cstdint>

// Periodic platform timers beneath the timer service. Each timer owns one
// thread that sleeps until the next scheduled tick and then calls tick(arg).
//
// Guarantees:
// - The period is measured from the previous scheduled tick, so ticks do not
//   drift. A thread that wakes more than a period late delivers one tick and
//   skips the missed ones instead of catching up in a burst.
// - Ticks of one timer never overlap (they all run on the timer's thread).
// - Once PlatformTimerDiscard has returned, no tick of that timer runs any
//   more and none will start. Exceptions, where waiting would deadlock: a
//   discard from the timer's own tick returns at once and the thread ends when
//   that tick returns; the same holds when the timer's tick is itself waiting,
//   directly or through other timers, for the discarding thread's tick.

namespace ostrel {

// A time or a period: seconds plus nanoseconds (below 1 000 000 000).
struct PlatformTime {
    std::uint32_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

using PlatformTimerHandle = std::uintptr_t;  // 0 means no timer
using PlatformTick = void (*)(void *arg);

// Prepares the service; nonzero means ready.
int PlatformTimerInit();

// Creates a timer that is not yet armed. Returns 0 when no thread can be made.
PlatformTimerHandle PlatformTimerNew(PlatformTick tick, void *arg);

// Priority levels are relative to normal (0); the level becomes the niceness
// -level of the timer's thread. A change Linux refuses (raising the priority
// without privileges) is silently left undone.
void PlatformTimerSetPriority(PlatformTimerHandle timer, int priority);

// The level last applied successfully; 0 when none was.
int PlatformTimerGetPriority(PlatformTimerHandle timer);

// (Re)starts the schedule: first tick one period from now. Nonzero on success;
// fails for a zero or malformed period.
int PlatformTimerArm(PlatformTimerHandle timer, PlatformTime period);

// Stops and destroys the timer; see the guarantees above.
void PlatformTimerDiscard(PlatformTimerHandle timer);

// The smallest period worth scheduling: 1 ms.
void PlatformTimerResolution(PlatformTime *periodOut);

// Monotonic time; only differences of two readings mean anything.
void PlatformTimerNow(PlatformTime *timeOut);

}  // namespace ostrel
