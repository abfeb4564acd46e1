#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "usb/usb_error.h"

namespace ostrel {

// One source of receiver modules: the built-in modules (the simulator), a library loaded at
// run time, or none.
// The operations have the arguments and results of the C interface in ostrel_usb_module.h.
// Implementations are safe to call from several threads at once.
class ModuleLibrary {
  public:
    virtual ~ModuleLibrary() = default;

    virtual int UsbFindModules(char *nameList, uint32_t size) = 0;
    virtual int UsbOpen(void **handle, const char *moduleName) = 0;
    virtual int UsbClose(void *handle) = 0;
    virtual int UsbSetTimeout(void *handle, uint32_t timeoutMs) = 0;
    virtual int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) = 0;
    virtual int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) = 0;
    virtual int UsbReadData(void *handle, void *destination, uint32_t *length) = 0;
    virtual int UsbReadDataAsync(void *handle, void *destination, uint32_t *length,
                                 uint8_t *transaction) = 0;
    virtual int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) = 0;
    virtual int UsbGetLastError(uint32_t *code) = 0;
    // Optional: cancels every read in flight on an open module, which stays open. Each
    // cancelled read completes at once (its wait fails); reads already complete keep their
    // data. A source without it fails with kUsbErrorNotSupported and its reads are drained.
    virtual int UsbCancelReads(void * /*handle*/) { return usbResult(kUsbErrorNotSupported); }
    virtual bool canCancelReads() const { return false; }

    // What only simulated modules tell; a real library has none of it.
    // Whether the source is the simulator (its error codes are those of usb_error.h).
    virtual bool simulated() const { return false; }
    // Frames the module `name` has lost to receive buffer overruns since it was plugged.
    virtual std::optional<uint64_t> simulatedLostFrames(std::string_view /*name*/) const {
        return std::nullopt;
    }
    // Whether the module `name` has no time base (pace=fast): its link waits for its reader.
    virtual bool paceless(std::string_view /*name*/) const { return false; }
};

}  // namespace ostrel
