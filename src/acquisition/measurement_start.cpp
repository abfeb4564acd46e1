// START: from the toggle's commit to a running acquisition thread.
#include <new>
#include <string>
#include <thread>

#include "acquisition/markers.h"
#include "acquisition/measurement.h"
#include "acquisition/measurement_state.h"
#include "acquisition/module_discovery.h"
#include "display/display_refresh.h"
#include "logging/log_description.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "timer/async_timer.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {

using namespace measurement_detail;

namespace {

constexpr double kRefreshInterval = 0.1;  // seconds

void restoreAfterFailedStart(int panel) {
    ui::setValue(panel, meas_start_stop, 0);
    dimSettings(panel, false);
}

void discardModuleScan() {
    const int id = timerID_Modules.exchange(0);
    if (id > 0) DiscardTimer(id);
}

// The module chosen is the module the ring shows selected.
std::string selectedModuleName(int panel) {
    std::string name;
    if (ui::getValue(panel, usbinterface, &name) != ui::UI_OK) name.clear();
    return name;
}

// Markers count from this START on, at the time base of its type and speed.
void startMarkersOf(int panel, const Link &link) {
    int speedIndex = -1;
    ui::getRingIndex(panel, SPEED_SLIDE, &speedIndex);
    const int type = channel_index;
    marker_detail::startMarkers(type, samplePeriodMicros(type, speedIndex), link.moduleName);
}

bool allocateBuffers(Link &link) {
    if (measurement().failAllocation.exchange(false)) return false;
    link.storage.reset(new (std::nothrow) uint8_t[std::size_t{bufcnt} * blocksize]);
    if (!link.storage) return false;
    for (int k = 0; k < bufcnt; ++k)
        link.buffer[k] = link.storage.get() + std::size_t(k) * blocksize;
    return true;
}

// Opens the module; on failure tells the operator and closes the prepared log file.
bool openModule(int panel, Link &link) {
    link.moduleName = selectedModuleName(panel);
    link.lostAtOpen = usbSimulatedLostFrames(link.moduleName);
    link.streamEnded = false;
    if (UsbOpen(&link.USBHandle, link.moduleName.c_str()) != 0) return true;
    link.USBHandle = nullptr;
    uint32_t errorCode = 0;
    UsbGetLastError(&errorCode);
    ui::showMessage("USB Error", "Can't open USB module");
    noteMeasurementEnd(recording::MeasurementEnd::notStarted);
    closeLogFile();
    ui::setValue(panel, meas_start_stop, 0);
    return false;
}

void refuseWithoutBuffers(int panel, Link &link) {
    noteMeasurementEnd(recording::MeasurementEnd::notStarted);
    releaseModule(link);
    closeLogFile();
    restoreAfterFailedStart(panel);
    ui::showMessage("USB Error", "Not enough memory for the transfer buffers");
    startModuleScan();
}

// The module closed last rests a moment before the next is opened (serving messages).
void restBeforeReopen() {
    Measurement &m = measurement();
    std::chrono::steady_clock::time_point until;
    {
        std::lock_guard lock(m.reopenMutex);
        until = m.reopenAfter;
    }
    const auto left = until - std::chrono::steady_clock::now();
    if (left > left.zero()) {
        pauseFor(std::chrono::ceil<std::chrono::milliseconds>(left));
    }
}

void launchAcquisitionThread() {
    Measurement &m = measurement();
    {
        std::lock_guard lock(m.lifecycle);
        m.open = true;
    }
    threadrun = 1;
    threadstopped = 0;
    m.stopAtOnce = false;
    m.threadFinished = false;
    m.thread = std::thread([] {
        getUsbData(nullptr);
        measurement().threadFinished = true;
    });
}

// Created only while the measurement is still open: a stop that came first
// (the sync test failed meanwhile) means no refresh timer.
void createRefreshTimer() {
    Measurement &m = measurement();
    std::lock_guard lock(m.lifecycle);
    if (!m.open) return;
    timerID = CreateTimer(kRefreshInterval, -1, 1, sortUsbData, nullptr);
}

}  // namespace

int startstop(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) startStop();
    return 0;
}

int usb_interface(int, int, int, void *, int, int) {
    return 0;
}

void startStop() {
    int value = 0;
    ui::getValue(panelHandle, meas_start_stop, &value);
    openclosed = value;
    if (value == 1) {
        findModules();
        startOpen();
    } else {
        noteMeasurementEnd(recording::MeasurementEnd::stop);
        stopOpen();
    }
}

void startOpen() {
    const int panel = panelHandle;
    Measurement &m = measurement();
    joinAcquisitionThread();                  // the previous measurement's thread has ended
    ui::setValue(panel, meas_start_stop, 1);  // its own stop may have reset the toggle meanwhile
    if (log_data_info() != 0) {
        restoreAfterFailedStart(panel);
        return;
    }
    discardModuleScan();
    error_occured = 0;
    restBeforeReopen();
    if (!openModule(panel, m.link)) return;
    dimSettings(panel, true);
    if (!allocateBuffers(m.link)) {
        refuseWithoutBuffers(panel, m.link);
        return;
    }
    data_received = 0;
    startMarkersOf(panel, m.link);
    setLogWaitsForDisk(usbSimulatedPaceless(m.link.moduleName));
    launchAcquisitionThread();
    ui::setBusyCursor(true);
    pauseFor(m.pauses.beforeRefresh);
    createRefreshTimer();
    ui::setBusyCursor(false);
}

namespace measurement_testing {

void usePauses(const Pauses &pauses) {
    measurement().pauses = pauses;
}

void failNextBufferAllocation() {
    measurement().failAllocation = true;
}

int closesSoFar() {
    return measurement().closes.load();
}

}  // namespace measurement_testing

}  // namespace ostrel
