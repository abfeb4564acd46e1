// Module discovery: keeps the module ring `usbinterface` in step with the
// modules the library reports, once a second while idle (on the timer thread)
// and once more right before a measurement starts (on the main thread).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

inline constexpr std::size_t NAME_LIST_SIZE = 512;
inline constexpr double MODULE_SCAN_INTERVAL = 1.0;  // seconds

// Identifier of the periodic scan timer. Written by start-up, the measurement
// start (discard) and stop (create), on the main or acquisition thread.
inline std::atomic<int> timerID_Modules{0};

// Callback of the periodic scan timer: one scan on every call, the discard
// event included. Timer thread (or the discarding thread).
// Once the main panel is discarded (panelHandle 0), a scan does nothing: the
// discard at shutdown makes no module library call and touches no panel.
int findModulesCB(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);

// One scan on demand (main thread, right before a measurement opens a module).
void findModules();

// Creates the periodic scan timer and stores its identifier in timerID_Modules.
void startModuleScan();

// The names in a module name list, in order. The walk stops at the empty
// name and never reads past `size` bytes: an unterminated last name is cut at
// the buffer's end.
std::vector<std::string> namesInList(const char *list, std::size_t size);

// Replaces the items of `usbinterface` by the names of `list`, in order, each
// name as label and value, in one step: no reader sees a half-filled ring, and
// the selected module stays selected while it is listed.
void refillModuleRing(int panel, const char *list, std::size_t size);

// Test seam: what a scan asks for the module list; nullptr restores UsbFindModules.
using ModuleLister = int (*)(char *nameList, uint32_t size);
void useModuleLister(ModuleLister lister);

// The name at `index` of the last scanned list, or "" when the index lies
// beyond it (or is negative): what a measurement start opens.
std::string moduleNameAt(int index);

}  // namespace ostrel
