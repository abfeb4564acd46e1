#pragma once

#include <cstdint>

namespace ostrel {

// Error codes that the simulated modules and the dispatch report through UsbGetLastError.
// A loaded module library reports codes of its own.
enum UsbErrorCode : uint32_t {
    kUsbErrorNone = 0,
    kUsbErrorInvalidArgument = 1,     // null pointer, bad length or port address
    kUsbErrorInvalidHandle = 2,       // not a handle of an open module
    kUsbErrorNoSuchModule = 3,        // no attached module of that name
    kUsbErrorOpenFailed = 4,          // the module refused to open
    kUsbErrorBusy = 5,                // the module is already open
    kUsbErrorDisconnected = 6,        // the module was unplugged
    kUsbErrorTimedOut = 7,            // the time-out passed before the read completed
    kUsbErrorTransferFailed = 8,      // the transfer itself failed
    kUsbErrorUnknownTransaction = 9,  // no queued read has that identifier
    kUsbErrorTooManyTransfers = 10,   // every transaction identifier is in use
    kUsbErrorQueueFailed = 11,        // the module could not queue the read
    kUsbErrorCancelled = 12,          // the read was cancelled, or the module closed, in flight
    kUsbErrorStreamStopped = 13,      // the run bits were cleared before any data arrived
    kUsbErrorPending = 14,            // checked without blocking: the read has not completed
    kUsbErrorNoLibrary = 15,          // the module library could not be loaded
    kUsbErrorOutOfMemory = 16,
    kUsbErrorEndOfStream = 17,   // a recording played back has no more frames
    kUsbErrorNotSupported = 18,  // the module library lacks this optional operation
};

// The last error code of the calling thread. Every operation of the simulator and of the
// dispatch sets it: to kUsbErrorNone on success, to the failure's code otherwise.
uint32_t usbLastError();
void setUsbLastError(uint32_t code);

// Sets the calling thread's last error and returns the operation's result: 1 for kUsbErrorNone,
// 0 otherwise.
int usbResult(uint32_t code);

}  // namespace ostrel
