#include "usb/usb_module.h"

#include <cstdio>
#include <cstdlib>

#include "usb/module_library_selection.h"
#include "usb/program_name.h"

namespace ostrel {

namespace {

// The source chosen from OSTREL_MODULE_LIBRARY on first use. Never destroyed, so threads still
// calling at exit (and a loaded library's code) stay valid.
const ModuleLibrarySelection &active() {
    static const ModuleLibrarySelection *const selection = [] {
        auto *chosen =
            new ModuleLibrarySelection(selectModuleLibrary(std::getenv("OSTREL_MODULE_LIBRARY")));
        if (chosen->problem) {
            std::fprintf(stderr, "%s: %s\n", usbProgramName().c_str(), chosen->problem->c_str());
        }
        return chosen;
    }();
    return *selection;
}

ModuleLibrary &library() {
    return *active().library;
}

}  // namespace

int UsbFindModules(char *nameList, uint32_t size) {
    return library().UsbFindModules(nameList, size);
}

int UsbOpen(void **handle, const char *moduleName) {
    return library().UsbOpen(handle, moduleName);
}

int UsbClose(void *handle) {
    return library().UsbClose(handle);
}

int UsbSetTimeout(void *handle, uint32_t timeoutMs) {
    return library().UsbSetTimeout(handle, timeoutMs);
}

int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) {
    return library().UsbReadPort(handle, port, value, length);
}

int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) {
    return library().UsbWritePort(handle, port, value, length);
}

int UsbReadData(void *handle, void *destination, uint32_t *length) {
    return library().UsbReadData(handle, destination, length);
}

int UsbReadDataAsync(void *handle, void *destination, uint32_t *length, uint8_t *transaction) {
    return library().UsbReadDataAsync(handle, destination, length, transaction);
}

int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) {
    return library().UsbAsyncWait(handle, bytesCount, transaction, flag);
}

int UsbGetLastError(uint32_t *code) {
    return library().UsbGetLastError(code);
}

int UsbCancelReads(void *handle) {
    return library().UsbCancelReads(handle);
}

bool usbCanCancelReads() {
    return library().canCancelReads();
}

std::optional<std::string> usbLibraryLoadProblem() {
    return active().problem;
}

bool usbModulesSimulated() {
    return library().simulated();
}

bool usbSimulatedPaceless(const std::string &name) {
    return library().paceless(name);
}

std::optional<uint64_t> usbSimulatedLostFrames(const std::string &name) {
    return library().simulatedLostFrames(name);
}

}  // namespace ostrel
