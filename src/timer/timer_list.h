#pragma once

#include "timer/timer_library.h"

// The active list (live timers in ascending identifier order) and the free list
// (discarded records, latest first). All functions need the list lock held.
namespace ostrel::timer_detail {

// The live timer with this identifier, or nullptr. Records still being
// created are not live yet.
TimerRecord *FindTimer(int identifier);

// The live timer with the lowest identifier, or nullptr.
TimerRecord *FirstLiveTimer();

void InsertActive(TimerRecord *record);
void UnlinkActive(TimerRecord *record);

void PushFree(TimerRecord *record);
TimerRecord *PopFree();

// When no timer is left (none active, none being discarded), frees the free
// list and restarts identifiers at 1. Any earlier restart could hand out an
// identifier that a surviving record still carries.
void ReleaseRecordsIfIdle();

}  // namespace ostrel::timer_detail
