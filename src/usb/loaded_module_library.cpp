#include <dlfcn.h>

#include <string>
#include <vector>

#include "usb/module_library_selection.h"
#include "usb/ostrel_usb_module.h"

namespace ostrel {

namespace {

// The ten operations (and the optional cancel) resolved from a library opened with dlopen. The
// library is never unmapped (RTLD_NODELETE): threads it started and state it keeps stay valid for
// the whole process.
class LoadedModuleLibrary final : public ModuleLibrary {
  public:
    explicit LoadedModuleLibrary(void *dl) : dl_(dl) {}
    ~LoadedModuleLibrary() override { dlclose(dl_); }
    LoadedModuleLibrary(const LoadedModuleLibrary &) = delete;
    LoadedModuleLibrary &operator=(const LoadedModuleLibrary &) = delete;

    // Resolves every operation; returns the names of those the library lacks.
    std::vector<std::string> resolve() {
        std::vector<std::string> missing;
        bind(findModules_, "UsbFindModules", missing);
        bind(open_, "UsbOpen", missing);
        bind(close_, "UsbClose", missing);
        bind(setTimeout_, "UsbSetTimeout", missing);
        bind(readPort_, "UsbReadPort", missing);
        bind(writePort_, "UsbWritePort", missing);
        bind(readData_, "UsbReadData", missing);
        bind(readDataAsync_, "UsbReadDataAsync", missing);
        bind(asyncWait_, "UsbAsyncWait", missing);
        bind(getLastError_, "UsbGetLastError", missing);
        cancelReads_ = reinterpret_cast<decltype(cancelReads_)>(dlsym(dl_, "UsbCancelReads"));
        return missing;
    }

    int UsbFindModules(char *nameList, uint32_t size) override {
        return findModules_(nameList, size);
    }
    int UsbOpen(void **handle, const char *moduleName) override {
        return open_(handle, moduleName);
    }
    int UsbClose(void *handle) override { return close_(handle); }
    int UsbSetTimeout(void *handle, uint32_t timeoutMs) override {
        return setTimeout_(handle, timeoutMs);
    }
    int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) override {
        return readPort_(handle, port, value, length);
    }
    int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) override {
        return writePort_(handle, port, value, length);
    }
    int UsbReadData(void *handle, void *destination, uint32_t *length) override {
        return readData_(handle, destination, length);
    }
    int UsbReadDataAsync(void *handle, void *destination, uint32_t *length,
                         uint8_t *transaction) override {
        return readDataAsync_(handle, destination, length, transaction);
    }
    int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) override {
        return asyncWait_(handle, bytesCount, transaction, flag);
    }
    int UsbGetLastError(uint32_t *code) override { return getLastError_(code); }
    int UsbCancelReads(void *handle) override {
        return cancelReads_ != nullptr ? cancelReads_(handle)
                                       : ModuleLibrary::UsbCancelReads(handle);
    }
    bool canCancelReads() const override { return cancelReads_ != nullptr; }

  private:
    template <typename Fn>
    void bind(Fn &fn, const char *name, std::vector<std::string> &missing) {
        fn = reinterpret_cast<Fn>(dlsym(dl_, name));
        if (fn == nullptr) missing.emplace_back(name);
    }

    void *dl_;
    decltype(&::UsbFindModules) findModules_ = nullptr;
    decltype(&::UsbOpen) open_ = nullptr;
    decltype(&::UsbClose) close_ = nullptr;
    decltype(&::UsbSetTimeout) setTimeout_ = nullptr;
    decltype(&::UsbReadPort) readPort_ = nullptr;
    decltype(&::UsbWritePort) writePort_ = nullptr;
    decltype(&::UsbReadData) readData_ = nullptr;
    decltype(&::UsbReadDataAsync) readDataAsync_ = nullptr;
    decltype(&::UsbAsyncWait) asyncWait_ = nullptr;
    decltype(&::UsbGetLastError) getLastError_ = nullptr;
    decltype(&::UsbCancelReads) cancelReads_ = nullptr;  // optional
};

std::string joined(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) {
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

}  // namespace

std::unique_ptr<ModuleLibrary> loadModuleLibrary(const std::string &path, std::string &problem) {
    void *dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (dl == nullptr) {
        const char *reason = dlerror();
        problem = reason != nullptr ? reason : "it cannot be loaded";
        return nullptr;
    }
    auto library = std::make_unique<LoadedModuleLibrary>(dl);
    const std::vector<std::string> missing = library->resolve();
    if (!missing.empty()) {
        problem = (missing.size() == 1 ? "it lacks the operation " : "it lacks the operations ") +
                  joined(missing);
        return nullptr;
    }
    return library;
}

}  // namespace ostrel
