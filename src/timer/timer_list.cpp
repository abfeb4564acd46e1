#include "timer/timer_list.h"

namespace ostrel::timer_detail {

TimerRecord *FindTimer(int identifier) {
    for (TimerRecord *record = g_library.activeHead;
         record != nullptr && record->identifier <= identifier; record = record->next) {
        if (record->identifier == identifier) return record->creating ? nullptr : record;
    }
    return nullptr;
}

TimerRecord *FirstLiveTimer() {
    TimerRecord *record = g_library.activeHead;
    while (record != nullptr && record->creating) record = record->next;
    return record;
}

void InsertActive(TimerRecord *record) {
    TimerRecord *after = g_library.activeTail;
    while (after != nullptr && after->identifier > record->identifier) after = after->previous;
    record->previous = after;
    record->next = after != nullptr ? after->next : g_library.activeHead;
    if (record->next != nullptr) {
        record->next->previous = record;
    } else {
        g_library.activeTail = record;
    }
    if (after != nullptr) {
        after->next = record;
    } else {
        g_library.activeHead = record;
    }
}

void UnlinkActive(TimerRecord *record) {
    if (record->previous != nullptr) {
        record->previous->next = record->next;
    } else {
        g_library.activeHead = record->next;
    }
    if (record->next != nullptr) {
        record->next->previous = record->previous;
    } else {
        g_library.activeTail = record->previous;
    }
    record->previous = nullptr;
    record->next = nullptr;
}

void PushFree(TimerRecord *record) {
    record->previous = nullptr;
    record->next = g_library.freeHead;
    if (g_library.freeHead != nullptr) g_library.freeHead->previous = record;
    g_library.freeHead = record;
}

TimerRecord *PopFree() {
    TimerRecord *record = g_library.freeHead;
    if (record == nullptr) return nullptr;
    g_library.freeHead = record->next;
    if (g_library.freeHead != nullptr) g_library.freeHead->previous = nullptr;
    record->next = nullptr;
    return record;
}

void ReleaseRecordsIfIdle() {
    if (g_library.activeHead != nullptr || g_library.recordsInTransit != 0) return;
    while (TimerRecord *record = PopFree()) delete record;
    g_library.nextIdentifier = 1;
}

}  // namespace ostrel::timer_detail
