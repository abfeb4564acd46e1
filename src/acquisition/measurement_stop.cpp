// The stops of a measurement and what they share with a failed start.
#include <algorithm>
#include <thread>

#include "acquisition/markers.h"
#include "acquisition/measurement.h"
#include "acquisition/measurement_state.h"
#include "acquisition/module_discovery.h"
#include "logging/log_description.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"
#include "timer/async_timer.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {

constinit std::atomic<int32_t> openclosed{0};
constinit std::atomic<int32_t> threadrun{0};
constinit std::atomic<int32_t> threadstopped{1};
constinit std::atomic<int32_t> error_occured{0};
constinit std::atomic<int> timerID{0};

namespace measurement_detail {

Measurement &measurement() {
    static Measurement *const instance = new Measurement;
    return *instance;
}

bool claimClose() {
    Measurement &m = measurement();
    std::lock_guard lock(m.lifecycle);
    const bool wasOpen = m.open;
    m.open = false;
    if (wasOpen) ++m.closes;
    return wasOpen;
}

void pauseFor(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    if (duration <= std::chrono::milliseconds(0)) return;
    const ui::GuiWait wait;
    while (std::chrono::steady_clock::now() < until) {
        ui::serveMessages();  // does nothing off the GUI thread
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Told as the disk's overrun is: data that the link carried and the file does not hold.
void reportReceiverOverrun(uint64_t frames) {
    ui::postMessage(receiver_overrun_title,
                    "The receiver lost " + std::to_string(frames) +
                        (frames == 1 ? " frame" : " frames") +
                        " while it was not read in time (its buffer overran). They are gaps in "
                        "the data; the description counts them (lost_frames).");
}

// The frames a simulated module lost while this measurement had it open go into the
// recording's description. The module then rests before the next START opens one.
void releaseModule(Link &link) {
    {
        std::lock_guard lock(link.handleMutex);
        if (link.USBHandle == nullptr) return;
        UsbClose(link.USBHandle);
        link.USBHandle = nullptr;
    }
    const std::optional<uint64_t> lost = usbSimulatedLostFrames(link.moduleName);
    if (link.lostAtOpen && lost) {
        const uint64_t lostNow = *lost - std::min(*lost, *link.lostAtOpen);
        noteLostFrames(lostNow);
        if (lostNow > 0) reportReceiverOverrun(lostNow);
    }
    Measurement &m = measurement();
    std::lock_guard lock(m.reopenMutex);
    m.reopenAfter = std::chrono::steady_clock::now() + m.pauses.afterRelease;
}

void cancelReadsInFlight(Link &link) {
    std::lock_guard lock(link.handleMutex);
    if (link.USBHandle != nullptr) UsbCancelReads(link.USBHandle);
}

// The identifier is taken with an exchange: a stale one could name a new timer,
// since the timer service reuses identifiers.
void discardRefreshTimer() {
    const int id = timerID.exchange(0);
    if (id > 0) DiscardTimer(id);
}

// The display goes back to the idle frame before the buffers go.
void releaseBuffers(Link &link) {
    publishIdleFrame();
    link.buffer.fill(nullptr);
    link.storage.reset();
}

}  // namespace measurement_detail

using namespace measurement_detail;

namespace {

void restoreControls() {
    const int panel = panelHandle;
    ui::setValue(panel, meas_start_stop, 0);
    ui::setDimmed(panel, meas_start_stop, false);
    dimSettings(panel, false);
}

}  // namespace

void measurement_detail::dimSettings(int panel, bool measuring) {
    int type = 0;
    ui::getRingIndex(panel, CH_SLIDE, &type);
    ui::setDimmed(panel, CH_SLIDE, measuring);
    ui::setDimmed(panel, usbinterface, measuring);
    ui::setDimmed(panel, SPEED_SLIDE, measuring || isSteeringType(type));
}

namespace {

void announceClosed() {
    if (void (*hook)() = measurement().closedHook.load()) hook();
}

// Told once the measurement is closed: an at-once stop that dropped logged data, and the
// cycles left out of the log file.
void reportStopOutcome(bool droppedCycle) {
    if (droppedCycle) {
        ui::postMessage("Measurement",
                        "The measurement was stopped at once: its last, incomplete cycle was not "
                        "written to the log file.");
    }
    if (const std::string gaps = describeLogGaps(); !gaps.empty()) {
        ui::postMessage(log_gaps_title, gaps);
    }
}

}  // namespace

bool measurementOpen() {
    Measurement &m = measurement();
    std::lock_guard lock(m.lifecycle);
    return m.open;
}

bool measurementBusy() {
    return measurementOpen() || !measurement().threadFinished.load();
}

void onMeasurementClosed(void (*hook)()) {
    measurement().closedHook = hook;
}

// The acquisition thread completes the cycle in progress (or, at once, drops it) and then runs
// the complete stop itself, so no caller waits. The toggle shows STOP until then.
//
// Under the lifecycle mutex, so that the busy cursor and the toggle are set before a stop that
// meets this one (the measurement ending on its own) restores them.
void requestStop(bool atOnce) {
    Measurement &m = measurement();
    {
        std::lock_guard lock(m.lifecycle);
        if (!m.open) return;
        threadrun = 0;
        if (atOnce) m.stopAtOnce = true;
        ui::setBusyCursor(true);
        ui::setValue(panelHandle, meas_start_stop, 1);
    }
    if (atOnce) cancelReadsInFlight(m.link);
}

void stopOpen() {
    requestStop(threadrun.load() == 0);
}

namespace {

// What every end of a measurement gives back: the module, the refresh, the buffers, the log
// file, the controls and the cursor.
void releaseMeasurement(Link &link) {
    marker_detail::endMarkers();
    releaseModule(link);
    discardRefreshTimer();
    releaseBuffers(link);
    data_received = 0;
    closeLogFile();
    restoreControls();
    ui::setBusyCursor(false);
}

}  // namespace

void measurement_detail::finishStop() {
    Measurement &m = measurement();
    if (!claimClose()) return;
    Link &link = m.link;
    const bool droppedCycle = m.stopAtOnce.load() && log_to_file.load() == 1 &&
                              error_occured.load() == 0 && !link.streamEnded;
    link.data_port &= kRunBitsCleared;
    UsbWritePort(link.USBHandle, kDataPort, &link.data_port, 2);
    releaseMeasurement(link);
    startModuleScan();
    reportStopOutcome(droppedCycle);
    announceClosed();
}

// After "Telemetry not in sync" (acquisition thread): the run bits were never set. The log
// file of this start (header only) is closed and the buffers released; the module scan comes
// back with the next normal stop.
void stopOpenError() {
    threadrun = 0;
    if (!claimClose()) return;
    releaseMeasurement(measurement().link);
    announceClosed();
}

void joinAcquisitionThread() {
    Measurement &m = measurement();
    if (!m.thread.joinable()) return;
    if (!m.threadFinished.load()) {
        const ui::GuiWait wait;
        while (!m.threadFinished.load()) {
            ui::serveMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    m.thread.join();
}

void endMeasurement() {
    requestStop(false);
    joinAcquisitionThread();
}

}  // namespace ostrel
