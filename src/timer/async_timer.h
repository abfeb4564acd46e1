#pragma once

#include <cstdarg>

// Asynchronous timers: periodic callbacks on a timer thread of their own,
// independent of the user-interface event loop. Every function may be called
// from any thread, also from within a timer callback.

namespace ostrel {

// Called with panel 0, control = the timer identifier, the event below, the
// timer's callback data and 0 for both event data values. The result is ignored.
using TimerCallback = int (*)(int panel, int control, int event, void *callbackData, int eventData1,
                              int eventData2);

// Events.
inline constexpr int kTimerTickEvent = 15;     // a delivered tick, on the timer's thread
inline constexpr int kTimerDiscardEvent = 16;  // once, on the thread that discards

// Attributes for SetTimerAttribute / GetTimerAttribute, with their value types.
inline constexpr int kTimerAttrInterval = 1;               // double seconds
inline constexpr int kTimerAttrCount = 2;                  // int, negative = unlimited
inline constexpr int kTimerAttrEnabled = 3;                // int 0 or 1
inline constexpr int kTimerAttrCallbackData = 4;           // void *
inline constexpr int kTimerAttrCallbackFunction = 5;       // TimerCallback
inline constexpr int kTimerAttrThreadPriority = 6;         // int
inline constexpr int kTimerAttrTimeSinceFirstTick = 7;     // double seconds, read-only
inline constexpr int kTimerAttrTimeSincePreviousTick = 8;  // double seconds, read-only

// Error codes.
inline constexpr int kTimerErrPlatformTimer = -2;  // platform timer failed, or resolution 0
inline constexpr int kTimerErrNoIdentifierLeft = -3;
inline constexpr int kTimerErrOutOfMemory = -4;
inline constexpr int kTimerErrNoSuchTimer = -5;
inline constexpr int kTimerErrInitialisation = -6;
inline constexpr int kTimerErrInvalidArgument = -7;
inline constexpr int kTimerErrNoPriorities = -8;  // the real-time system flag is 0
inline constexpr int kTimerErrNotSettable = -9;

inline constexpr int kAllTimers = -1;            // DiscardTimer: every timer
inline constexpr int kDefaultTimerPriority = 2;  // priority of timers from CreateTimer

// Creates a timer ticking every `interval` seconds (raised to the resolution),
// `count` times (negative: until discarded), enabled when initialState is 1.
// Returns the identifier (1 or more) or a negative error code.
// kTimerErrNoSuchTimer: a DiscardTimer(kAllTimers) on another thread (or in a
// callback) overlapped the creation, so the timer was discarded before it
// existed; neither a tick nor the discard callback ever runs for it.
int CreateTimer(double interval, int count, int initialState, TimerCallback callback,
                void *callbackData);

// As CreateTimer; only on a real-time system (environment variable OS starting
// with "RTLINUX"), else kTimerErrNoPriorities.
int CreateTimerWithPriority(double interval, int count, int initialState, TimerCallback callback,
                            void *callbackData, int priority);

// Discards one timer, or all with kAllTimers. Returns 0 or kTimerErrNoSuchTimer.
// kAllTimers also ends every timer whose creation overlaps the call: that
// creation returns kTimerErrNoSuchTimer (see CreateTimer). A single identifier
// never affects a timer still being created; it is not found (-5).
// When it returns, the discard callback has run and no tick callback of the
// timer runs any more; exceptions: a discard from the timer's own callback
// (that callback goes on to its end), and two timers' callbacks discarding each
// other at once (one of them returns while the other timer's callback runs on).
int DiscardTimer(int timerId);

// While suspended, every tick of every timer is dropped; counts do not run down.
int SuspendTimerCallbacks();
int ResumeTimerCallbacks();

// The value is one variadic argument of the attribute's type (a double for the
// interval: pass 1.0, not 1).
int SetTimerAttribute(int timerId, int attribute, ...);
int SetTimerAttributeFromArgs(int timerId, int attribute, va_list args);

// Writes the attribute's value, of the attribute's type, to *valueOut.
int GetTimerAttribute(int timerId, int attribute, void *valueOut);

// Writes the smallest interval in seconds; 0, or kTimerErrInitialisation when it is 0.
int GetTimerResolution(double *resolutionOut);

}  // namespace ostrel
