// The stops of a measurement and what they share with a failed start.
#include <algorithm>
#include <thread>

#include "acquisition/measurement.h"
#include "acquisition/measurement_state.h"
#include "acquisition/module_discovery.h"
#include "logging/log_description.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/stream_buffers.h"
#include "timer/async_timer.h"
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
    while (std::chrono::steady_clock::now() < until) {
        ui::serveMessages();  // does nothing off the GUI thread
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The frames a simulated module lost while this measurement had it open go into the
// recording's description.
void releaseModule(Link &link) {
    if (link.USBHandle == nullptr) return;
    UsbClose(link.USBHandle);
    link.USBHandle = nullptr;
    const std::optional<uint64_t> lost = usbSimulatedLostFrames(link.moduleName);
    if (link.lostAtOpen && lost) noteLostFrames(*lost - std::min(*lost, *link.lostAtOpen));
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

// The GUI thread's wait for the acquisition thread's drain: serves messages on
// every pass (the thread may be waiting for one) and yields the processor.
void waitForThreadStopped() {
    while (threadstopped.load() == 0) {
        ui::serveMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void restoreControls() {
    const int panel = panelHandle;
    ui::setValue(panel, meas_start_stop, 0);
    ui::setDimmed(panel, meas_start_stop, false);
    ui::setDimmed(panel, CH_SLIDE, false);
    ui::setDimmed(panel, usbinterface, false);
}

}  // namespace

bool measurementOpen() {
    Measurement &m = measurement();
    std::lock_guard lock(m.lifecycle);
    return m.open;
}

void stopOpen() {
    threadrun = 0;
    if (!claimClose()) return;  // another stop closes this measurement
    Link &link = measurement().link;
    ui::setBusyCursor(true);
    waitForThreadStopped();
    link.data_port &= kRunBitsCleared;
    UsbWritePort(link.USBHandle, kDataPort, &link.data_port, 2);
    releaseModule(link);
    discardRefreshTimer();
    releaseBuffers(link);
    pauseFor(measurement().pauses.afterRelease);
    data_received = 0;
    closeLogFile();
    restoreControls();
    ui::setBusyCursor(false);
    startModuleScan();
}

// After "Telemetry not in sync": the run bits were never set. The log file of
// this start (header only) is closed and the buffers released; the module scan
// comes back with the next normal stop.
void stopOpenError() {
    threadrun = 0;
    if (!claimClose()) return;
    Link &link = measurement().link;
    ui::setBusyCursor(true);
    waitForThreadStopped();
    releaseModule(link);
    discardRefreshTimer();
    releaseBuffers(link);
    data_received = 0;
    closeLogFile();
    restoreControls();
    ui::setBusyCursor(false);
}

void joinAcquisitionThread() {
    Measurement &m = measurement();
    if (!m.thread.joinable()) return;
    while (!m.threadFinished.load()) {
        ui::serveMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m.thread.join();
}

void endMeasurement() {
    if (measurementOpen()) stopOpen();
    joinAcquisitionThread();
}

}  // namespace ostrel
