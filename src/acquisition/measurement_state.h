// Internal: the state one measurement shares between the main thread and the
// acquisition thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "acquisition/measurement_testing.h"
#include "usb/port_word.h"

namespace ostrel::measurement_detail {

inline constexpr uint32_t kSyncTimeoutMs = 2000;
inline constexpr uint32_t kDrainTimeoutMs = 10;
inline constexpr uint32_t kWarmUpBytes = 512;

// The module and the transfer ring. The acquisition thread uses them from its start to its
// end, and closes them itself (finishStop, stopOpenError); another thread only cancels the
// reads in flight, under handleMutex, or touches them once the thread has finished.
struct Link {
    // Guards USBHandle against its close while another thread cancels the reads in flight
    // (a second stop). Held only around those two calls.
    std::mutex handleMutex;
    void *USBHandle = nullptr;
    uint16_t data_port = 0;
    std::unique_ptr<uint8_t[]> storage;   // bufcnt blocks, allocated at START
    std::array<uint8_t *, 256> buffer{};  // entries 0 .. bufcnt-1 point into storage
    std::array<uint8_t, 256> transaction{};
    std::array<uint32_t, 256> bytesread{};
    std::string moduleName;              // the module opened
    std::optional<uint64_t> lostAtOpen;  // its lost-frame count then; none for hardware
    bool streamEnded = false;            // a recording played back has ended (acquisition)
};

struct Measurement {
    Link link;
    // Guards open and the creation of the refresh timer: a stop that claims
    // the close first means no refresh timer is created.
    std::mutex lifecycle;
    bool open = false;   // a module is open and no stop has claimed the close
    std::thread thread;  // main thread only
    std::atomic<bool> threadFinished{true};
    // Set by a second stop: the cycle in progress is dropped and the reads are cancelled.
    std::atomic<bool> stopAtOnce{false};
    // The module rests this long after its close before the next START opens one.
    std::chrono::steady_clock::time_point reopenAfter{};  // main thread, or the closing thread
    std::mutex reopenMutex;                               // guards reopenAfter
    std::atomic<void (*)()> closedHook{nullptr};
    measurement_testing::Pauses pauses;  // main thread (tests set it while idle)
    std::atomic<bool> failAllocation{false};
    std::atomic<int> closes{0};  // stops that closed a measurement
};

// Lives until the process ends: the acquisition thread may still use it
// while the process exits.
Measurement &measurement();

// Claims the close of the open measurement: true for exactly one caller.
bool claimClose();

// Waits `duration`, serving messages when called on the GUI thread.
void pauseFor(std::chrono::milliseconds duration);

// Cancels the reads in flight of the open module, if the module library can; any thread.
void cancelReadsInFlight(Link &link);

// The complete stop, run by the acquisition thread once its ring has ended: run bits
// cleared, module closed, refresh timer, buffers and log file, controls restored, scan back.
void finishStop();

// What the stops and the failed starts share: closing the module (when open),
// discarding the refresh timer, releasing the buffers (the display back on the
// idle frame first).
void releaseModule(Link &link);

// The settings a running measurement depends on: the type and module rings, and the speed
// ring, whose time base the acquisition, the log header and the charts share. Dims them for
// a measurement; back from one, undims them (the speed ring stays dimmed for a steering type).
void dimSettings(int panel, bool measuring);
void discardRefreshTimer();
void releaseBuffers(Link &link);

}  // namespace ostrel::measurement_detail
