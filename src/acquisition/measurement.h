// A measurement from START to STOP: the callbacks of the START/STOP toggle and
// the module ring, the start and the stops, and the acquisition thread.
//
// Threads: startstop, startStop, startOpen and the operator's stopOpen run on
// the main (GUI) thread; getUsbData runs on the acquisition thread, which runs
// stopOpen or stopOpenError itself on its error paths. A measurement is closed
// exactly once, whichever stops meet.
#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel {

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
// The complete stop: waits for the acquisition thread's drain (serving
// messages on the GUI thread), clears the run bits, closes the module, the
// refresh timer, the buffers and the log file, restores the controls and
// restarts the module scan. Returns at once when another stop closes this
// measurement, or none is open.
void stopOpen();
// The reduced stop after "Telemetry not in sync" (acquisition thread).
void stopOpenError();

// The acquisition thread's function. Returns 0 after a normal stop or the
// sync failure, 1 after a transfer error.
int getUsbData(void *functionData);

// True from a successful module open until a stop has claimed the close.
bool measurementOpen();
// Waits, serving messages, until the last acquisition thread has finished,
// then joins it. Main thread: the next START and the shutdown.
void joinAcquisitionThread();
// Shutdown (the panel's close event): the complete stop of an open
// measurement, whatever state it is in, then the thread joined. Main thread.
void endMeasurement();

}  // namespace ostrel
