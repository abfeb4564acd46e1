// A module library for tests, built from the simulator: it exports the ten operations with C
// linkage, as an adapter for receiver hardware would. Modules from OSTREL_TEST_LIBRARY_SIM
// (OSTREL_SIM grammar), by default "LIB-A" and "LIB-B". OSTREL_TEST_LIBRARY_GARBAGE makes the
// name list unterminated 'G's. Built a second time without UsbAsyncWait, and a third time
// without the optional UsbCancelReads.
#include <cstdlib>
#include <cstring>

#include "sim/simulated_bus.h"
#include "usb/ostrel_usb_module.h"

namespace {

ostrel::sim::SimulatedBus &libraryBus() {
    static ostrel::sim::SimulatedBus *const bus = [] {
        const char *config = std::getenv("OSTREL_TEST_LIBRARY_SIM");
        return new ostrel::sim::SimulatedBus(ostrel::sim::modulesFromEnvironment(
            config != nullptr ? config : "LIB-A:pace=fast;LIB-B:words=32,kbps=640,pace=fast"));
    }();
    return *bus;
}

}  // namespace

extern "C" {

int UsbFindModules(char *nameList, uint32_t size) {
    if (std::getenv("OSTREL_TEST_LIBRARY_GARBAGE") != nullptr && nameList != nullptr) {
        std::memset(nameList, 'G', size);
        return 1;
    }
    return libraryBus().UsbFindModules(nameList, size);
}

int UsbOpen(void **handle, const char *moduleName) {
    return libraryBus().UsbOpen(handle, moduleName);
}

int UsbClose(void *handle) {
    return libraryBus().UsbClose(handle);
}

int UsbSetTimeout(void *handle, uint32_t timeoutMs) {
    return libraryBus().UsbSetTimeout(handle, timeoutMs);
}

int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) {
    return libraryBus().UsbReadPort(handle, port, value, length);
}

int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) {
    return libraryBus().UsbWritePort(handle, port, value, length);
}

int UsbReadData(void *handle, void *destination, uint32_t *length) {
    return libraryBus().UsbReadData(handle, destination, length);
}

int UsbReadDataAsync(void *handle, void *destination, uint32_t *length, uint8_t *transaction) {
    return libraryBus().UsbReadDataAsync(handle, destination, length, transaction);
}

#ifndef OSTREL_TEST_LIBRARY_WITHOUT_ASYNC_WAIT
int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) {
    return libraryBus().UsbAsyncWait(handle, bytesCount, transaction, flag);
}
#endif

int UsbGetLastError(uint32_t *code) {
    return libraryBus().UsbGetLastError(code);
}

#ifndef OSTREL_TEST_LIBRARY_WITHOUT_CANCEL
int UsbCancelReads(void *handle) {
    return libraryBus().UsbCancelReads(handle);
}
#endif

}  // extern "C"
