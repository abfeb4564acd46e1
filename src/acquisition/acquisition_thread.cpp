// The acquisition thread: sync test, run bits, and the ring of 16 block reads
// in flight, each completed block published to the display, copied into the
// frame buffer and, once per cycle, handed to the log writer.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "acquisition/markers.h"
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

// Ends a cycle: a whole one goes to the log; one with a short block is left out, counted and
// placed (its words are incomplete). The cycle a failure or the end of a recording cuts short
// is the measurement's end, not a gap.
void finishCycle(const Link &link, bool whole) {
    if (log_to_file.load() != 1) return;
    if (whole) {
        writeDataToFileRaw();
    } else if (error_occured.load() == 0 && !link.streamEnded) {
        noteSkippedCycle();
    }
}

// The ring: waits for the reads in ring order until none is in flight. After a STOP only the
// reads that complete the cycle in progress are used; those after it are cancelled at once (a
// module library that cannot cancel is drained). A second stop drops the cycle in progress.
// Every read queued is waited for exactly once, so no read refers to a buffer when the stop
// releases it.
void runRing(Link &link, int inFlight) {
    bool cycleWhole = true;   // every block of this cycle arrived complete
    bool discarding = false;  // the reads still in flight are waited for, not used
    for (int index = 0; inFlight > 0; index = (index + 1) % bufcnt) {
        const bool arrived =
            UsbAsyncWait(link.USBHandle, &link.bytesread[index], link.transaction[index], 0) != 0;
        --inFlight;
        if (discarding) continue;
        if (measurement().stopAtOnce.load()) {
            cancelReadsInFlight(link);
            discarding = true;
            continue;
        }
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
        if (arrived) {
            publishFrame(words);
            marker_detail::noteBlockArrived();
        }
        std::memcpy(dataout.data() + std::size_t(index) * block_words, words, blocksize);
        const bool cycleEnds = index == bufcnt - 1;
        if (cycleEnds) {
            finishCycle(link, cycleWhole);
            cycleWhole = true;
        }
        if (threadrun.load() == 0 && (cycleEnds || error_occured.load() == 1 || link.streamEnded)) {
            cancelReadsInFlight(link);
            discarding = true;
        }
    }
}

// The thread no longer reads; after a failure, or at the end of a recording played back, it
// tells the operator. Then it runs the complete stop itself, whoever asked for it.
void endRing(const Link &link) {
    threadstopped = 1;
    if (error_occured.load() == 1) {
        noteMeasurementEnd(recording::MeasurementEnd::transferError);
        ui::showMessage("USB Error", "Data transfer error from USB module");
    } else if (link.streamEnded) {
        noteMeasurementEnd(recording::MeasurementEnd::endOfPlayback);
        ui::postMessage("Playback", "The recording has been played back to its end.");
    }
    finishStop();
}

}  // namespace

int getUsbData(void *) {
    raiseThreadPriority();
    log_description::publishStart();  // the first description, off the GUI thread
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
        finishStop();
        return 0;
    }
    UsbWritePort(link.USBHandle, kDataPort, &link.data_port, 2);
    runRing(link, fillRing(link));
    endRing(link);
    return error_occured.load() == 1 ? 1 : 0;
}

}  // namespace ostrel
