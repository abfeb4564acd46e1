#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "usb/usb_error.h"

// The USB module library's operations as the program calls them. They dispatch to the active
// source of modules, chosen once on first use (thread-safe):
// - the environment variable OSTREL_MODULE_LIBRARY names a shared library exporting the ten
//   operations of ostrel_usb_module.h: that library (no modules if it cannot be used);
// - otherwise the built-in modules: the simulated modules of sim::bus() (configured by
//   OSTREL_SIM) in every program that links them, else none.
// Each returns non-zero on success, 0 on failure; UsbGetLastError gives the calling thread's
// last error code.
namespace ostrel {

int UsbFindModules(char *nameList, uint32_t size);
int UsbOpen(void **handle, const char *moduleName);
int UsbClose(void *handle);
int UsbSetTimeout(void *handle, uint32_t timeoutMs);
int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length);
int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length);
int UsbReadData(void *handle, void *destination, uint32_t *length);
int UsbReadDataAsync(void *handle, void *destination, uint32_t *length, uint8_t *transaction);
int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag);
int UsbGetLastError(uint32_t *code);
// Cancels the reads in flight on an open module without closing it: each completes at once and
// its wait fails. Any thread. Fails with kUsbErrorNotSupported where the source lacks it.
int UsbCancelReads(void *handle);
// Whether the active source can cancel reads (else a stop waits for the reads in flight).
bool usbCanCancelReads();

// Why the library named by OSTREL_MODULE_LIBRARY cannot be used (it names the library and the
// reason), or nothing when the active source works. Selects the source if not yet done. The
// same text is printed once on stderr when the source is selected.
std::optional<std::string> usbLibraryLoadProblem();

// True when the active source is the simulated modules (its error codes are those of
// usb/usb_error.h), false for a loaded module library.
bool usbModulesSimulated();

// Frames the simulated module `name` has lost to receive buffer overruns since it was plugged;
// nothing when the active source is a loaded module library (real hardware does not say).
std::optional<uint64_t> usbSimulatedLostFrames(const std::string &name);

// True for a simulated module without a time base (pace=fast): nothing is lost when it is read
// late, so its reader may wait for the disk instead of leaving cycles out of the log.
bool usbSimulatedPaceless(const std::string &name);

}  // namespace ostrel
