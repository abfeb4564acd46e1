#include "usb/module_library_selection.h"

#include <atomic>

#include "usb/usb_error.h"

namespace ostrel {

namespace {

// Set before main by the library that provides the built-in modules, read by the first
// selection.
std::atomic<BuiltInModuleLibrary> builtInSource{nullptr};

// The source used when a named library is unusable: no modules, every operation fails.
class EmptyModuleLibrary final : public ModuleLibrary {
  public:
    int UsbFindModules(char *nameList, uint32_t size) override {
        if (nameList == nullptr || size == 0) return usbResult(kUsbErrorInvalidArgument);
        nameList[0] = '\0';
        return usbResult(kUsbErrorNone);
    }
    int UsbOpen(void **, const char *) override { return usbResult(kUsbErrorNoLibrary); }
    int UsbClose(void *) override { return usbResult(kUsbErrorNoLibrary); }
    int UsbSetTimeout(void *, uint32_t) override { return usbResult(kUsbErrorNoLibrary); }
    int UsbReadPort(void *, uint8_t, uint16_t *, uint16_t *) override {
        return usbResult(kUsbErrorNoLibrary);
    }
    int UsbWritePort(void *, uint8_t, uint16_t *, uint16_t) override {
        return usbResult(kUsbErrorNoLibrary);
    }
    int UsbReadData(void *, void *, uint32_t *) override { return usbResult(kUsbErrorNoLibrary); }
    int UsbReadDataAsync(void *, void *, uint32_t *, uint8_t *) override {
        return usbResult(kUsbErrorNoLibrary);
    }
    int UsbAsyncWait(void *, uint32_t *, uint8_t, int) override {
        return usbResult(kUsbErrorNoLibrary);
    }
    int UsbGetLastError(uint32_t *code) override {
        if (code == nullptr) return 0;
        *code = usbLastError();
        return 1;
    }
};

}  // namespace

std::unique_ptr<ModuleLibrary> makeEmptyModuleLibrary() {
    return std::make_unique<EmptyModuleLibrary>();
}

void setBuiltInModuleLibrary(BuiltInModuleLibrary source) {
    builtInSource.store(source);
}

ModuleLibrarySelection selectModuleLibrary(const char *libraryPath) {
    if (libraryPath == nullptr || libraryPath[0] == '\0') {
        const BuiltInModuleLibrary builtIn = builtInSource.load();
        if (builtIn == nullptr) return {makeEmptyModuleLibrary(), std::nullopt};
        // The built-in source lives until the process ends, so the selection does not own it.
        return {std::shared_ptr<ModuleLibrary>(&builtIn(), [](ModuleLibrary *) {}), std::nullopt};
    }
    std::string reason;
    std::unique_ptr<ModuleLibrary> library = loadModuleLibrary(libraryPath, reason);
    if (library) return {std::move(library), std::nullopt};
    return {makeEmptyModuleLibrary(),
            "Can't use the USB module library \"" + std::string(libraryPath) + "\": " + reason};
}

}  // namespace ostrel
