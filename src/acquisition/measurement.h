// A measurement from START to STOP: the callbacks of the START/STOP toggle and
// the module ring, the start and the stops, and the acquisition thread.
//
// Threads: startstop, startStop and startOpen run on the main (GUI) thread; a
// stop is asked for from any thread and never waited for; getUsbData runs on
// the acquisition thread, which runs every complete stop itself (finishStop,
// or stopOpenError after the sync test). A measurement is closed exactly once.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel {

// Title of the notice that the receiver lost frames while it was not read in time.
inline constexpr const char *receiver_overrun_title = "Receiver Overrun";

// Value of meas_start_stop at the last commit: 1 START, 0 STOP.
extern std::atomic<int32_t> openclosed;
// Run flag: 1 while the acquisition thread keeps its reads in flight; 0 asks it
// to drain and end. Writers: main (start, stop), acquisition (on a failure).
extern std::atomic<int32_t> threadrun;
// Stopped flag: 0 while the acquisition thread works with the module; set to 1
// by the thread once it no longer touches the module or the buffers.
extern std::atomic<int32_t> threadstopped;
// A transfer failed in this measurement. Writers: main (start), acquisition.
extern std::atomic<int32_t> error_occured;
// The display refresh timer of the running measurement, 0 when none.
extern std::atomic<int> timerID;

// Callback of meas_start_stop: on commit, startStop(). Returns 0.
int startstop(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
// Callback of usbinterface: nothing (the choice takes effect at the next START).
int usb_interface(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);

// Reads the toggle into openclosed: 1 scans the modules once and starts, 0 stops.
void startStop();
// Starts a measurement: log file, module, transfer buffers, acquisition
// thread, display refresh. Main thread.
void startOpen();
// The operator's STOP; returns at once. The acquisition thread completes the
// cycle in progress, cancels the reads after it and runs the complete stop
// itself: run bits cleared, module, refresh timer, buffers and log file closed,
// controls restored, module scan back. A STOP while a stop is under way (a
// second STOP) stops at once: the incomplete cycle is dropped. Any thread.
void stopOpen();
// Asks the open measurement to end, after the cycle in progress or at once
// (what a second STOP, close or interruption asks). Nothing when none is open.
void requestStop(bool atOnce);
// The reduced stop after "Telemetry not in sync" (acquisition thread).
void stopOpenError();

// The acquisition thread's function. Returns 0 after a normal stop or the
// sync failure, 1 after a transfer error.
int getUsbData(void *functionData);

// True from a successful module open until a stop has claimed the close.
bool measurementOpen();
// True while a measurement is open or its acquisition thread still runs.
bool measurementBusy();
// Called once each time a measurement has been closed completely, on the thread
// that closed it (usually the acquisition thread); must not block.
void onMeasurementClosed(void (*hook)());
// Waits, serving messages, until the last acquisition thread has finished,
// then joins it. Main thread: the next START and the shutdown.
void joinAcquisitionThread();
// Shutdown: asks an open measurement to end (after its cycle in progress),
// whatever state it is in, and joins its thread. Main thread.
void endMeasurement();

}  // namespace ostrel
