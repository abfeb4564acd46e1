#include "usb/usb_error.h"

namespace ostrel {

namespace {
// Per calling thread, like the module libraries this mirrors.
thread_local uint32_t lastError = kUsbErrorNone;
}  // namespace

uint32_t usbLastError() {
    return lastError;
}

void setUsbLastError(uint32_t code) {
    lastError = code;
}

int usbResult(uint32_t code) {
    lastError = code;
    return code == kUsbErrorNone ? 1 : 0;
}

}  // namespace ostrel
