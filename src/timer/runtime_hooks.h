#pragma once

// Points where the user-interface runtime may hook into the timer service: a
// bracket around every tick callback and a registry of live timers for
// diagnostics. Nothing relies on them; they do nothing for now.

namespace ostrel {

inline void EnterTimerCallback(void * /*context*/) {}
inline void LeaveTimerCallback(void * /*context*/) {}

// Returns the previous setting.
inline bool SetResourceTracking(bool /*on*/) {
    return false;
}
inline void RegisterTimerResource(int /*identifier*/, double /*interval*/) {}
inline void UnregisterTimerResource(int /*identifier*/) {}

}  // namespace ostrel
