#pragma once

#include "timer/platform_timer.h"

// Seams for tests of the timer service. Not for use by the program.
namespace ostrel::timer_testing {

using ClockSource = PlatformTime (*)();

// Replaces the clock behind PlatformTimerNow; nullptr restores the real one.
// Scheduling of ticks always uses the real clock.
void UseClock(ClockSource clock);

// Replaces the resolution PlatformTimerResolution reports; nullptr restores it.
void UseResolution(const PlatformTime *resolution);

// Makes the timer service read the platform resolution again.
void ForgetCachedResolution();

// Runs hook on the creating thread in every creation, after its platform timer
// has started and before the timer becomes live, with no lock held; nullptr
// removes it.
void OnCreationBetweenLocks(void (*hook)());

}  // namespace ostrel::timer_testing
