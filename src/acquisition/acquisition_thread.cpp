// The acquisition thread: sync test, run bits, and the ring of 16 block reads
// in flight, each completed block published to the display, copied into the
// frame buffer and, once per cycle, handed to the log writer.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "acquisition/measurement.h"
#include "acquisition/measurement_state.h"
#include "logging/log_description.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "ui/panel.h"
#include "usb/usb_module.h"

namespace ostrel {

using namespace measurement_detail;

namespace {

// The highest priority Linux grants this thread without privileges; a refusal
// leaves the thread as it is.
void raiseThreadPriority() {
    const id_t thread = static_cast<id_t>(::gettid());
    for (int nice = -20; nice < 0; ++nice) {
        if (::setpriority(PRIO_PROCESS, thread, nice) == 0) return;
    }
}

// The 1.0 s between the run bits and the first reads; a STOP ends it early.
void waitBeforeReads(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (threadrun.load() == 1 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Warm-up reads and the sync bit; true when the receiver is in sync.
bool receiverInSync(Link &link) {
    uint32_t len = kWarmUpBytes;
    UsbReadData(link.USBHandle, dummydata.data(), &len);
    UsbReadData(link.USBHandle, dummydata.data(), &len);
    UsbSetTimeout(link.USBHandle, kSyncTimeoutMs);
    uint16_t len_port = 2;
    UsbReadPort(link.USBHandle, kDataPort, &link.data_port, &len_port);
    return (link.data_port & kSyncBit) == kSyncBit;
}

bool queueRead(Link &link, int position) {
    uint32_t length = blocksize;
    return UsbReadDataAsync(link.USBHandle, link.buffer[position], &length,
                            &link.transaction[position]) != 0;
}

// A failed wait or queuing: the run flag goes, the remaining reads drain fast. The end of a
// recording played back by a simulated module is no error: the measurement ends like a STOP.
void noteTransferFailure(Link &link) {
    uint32_t errorCode = 0;
    UsbGetLastError(&errorCode);
    threadrun = 0;
    UsbSetTimeout(link.USBHandle, kDrainTimeoutMs);
    if (errorCode == kUsbErrorEndOfStream && usbModulesSimulated()) {
        link.streamEnded = true;
        return;
    }
    error_occured = 1;
}

// Queues the first reads; returns how many are in flight. A failure ends the
// ring like a failed transfer.
int fillRing(Link &link) {
    for (int position = 0; position < bufcnt; ++position) {
        if (!queueRead(link, position)) {
            noteTransferFailure(link);
            return position;
        }
    }
    return bufcnt;
}

// The ring: waits for the reads in ring order until none is in flight after
// the run flag went. Every read queued is waited for exactly once, so no read
// refers to a buffer when the stop releases it.
void runRing(Link &link, int inFlight) {
    bool cycleWhole = true;  // every block of this cycle arrived complete
    for (int index = 0; inFlight > 0; index = (index + 1) % bufcnt) {
        const bool arrived =
            UsbAsyncWait(link.USBHandle, &link.bytesread[index], link.transaction[index], 0) != 0;
        --inFlight;
        if (threadrun.load() == 0 && inFlight == 0) return;  // the last read: not used
        if (!arrived) {
            noteTransferFailure(link);
        } else {
            data_received = 1;
        }
        cycleWhole = cycleWhole && arrived && link.bytesread[index] == blocksize;
        if (threadrun.load() == 1) {
            if (queueRead(link, index)) {
                ++inFlight;
            } else {
                noteTransferFailure(link);
            }
        }
        const auto *words = reinterpret_cast<const uint16_t *>(link.buffer[index]);
        if (arrived) publishFrame(words);
        std::memcpy(dataout.data() + std::size_t(index) * block_words, words, blocksize);
        if (index == bufcnt - 1) {
            if (cycleWhole && log_to_file.load() == 1) writeDataToFileRaw();
            cycleWhole = true;
        }
    }
}

// The thread no longer touches the module; after a failure, or at the end of
// a recording played back, it tells the operator and runs the complete stop
// itself.
void endRing(const Link &link) {
    threadstopped = 1;
    if (error_occured.load() == 1) {
        noteMeasurementEnd(recording::MeasurementEnd::transferError);
        ui::showMessage("USB Error", "Data transfer error from USB module");
        stopOpen();
    } else if (link.streamEnded) {
        noteMeasurementEnd(recording::MeasurementEnd::endOfPlayback);
        ui::postMessage("Playback", "The recording has been played back to its end.");
        stopOpen();
    }
}

}  // namespace

int getUsbData(void *) {
    raiseThreadPriority();
    Link &link = measurement().link;
    const int panel = panelHandle;
    ui::setDimmed(panel, meas_start_stop, true);
    if (!receiverInSync(link)) {
        noteMeasurementEnd(recording::MeasurementEnd::notInSync);
        ui::showMessage("USB Error", "Telemetry not in sync");
        threadstopped = 1;
        stopOpenError();
        return 0;
    }
    ui::setDimmed(panel, meas_start_stop, false);
    link.data_port |= kRunBits;
    waitBeforeReads(measurement().pauses.beforeReads);
    if (threadrun.load() == 0) {  // STOP during the wait: no read was queued
        threadstopped = 1;
        return 0;
    }
    UsbWritePort(link.USBHandle, kDataPort, &link.data_port, 2);
    runRing(link, fillRing(link));
    endRing(link);
    return error_occured.load() == 1 ? 1 : 0;
}

}  // namespace ostrel
