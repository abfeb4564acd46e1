#include "sim/simulated_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "usb/module_library_selection.h"
#include "usb/program_name.h"
#include "usb/usb_error.h"

namespace ostrel::sim {

namespace {

ModuleLibrary &processBus() {
    return bus();
}

// Registered before main, in every program this file is linked into (the bus itself is made
// on first use, once the program has named itself).
[[maybe_unused]] const bool registeredAsBuiltIn = [] {
    setBuiltInModuleLibrary(&processBus);
    return true;
}();

void reportLostFrames(const std::string &name, uint64_t frames) {
    std::fprintf(stderr, "%s: simulated module \"%s\" lost %llu frame%s (receive buffer overrun)\n",
                 usbProgramName().c_str(), name.c_str(), static_cast<unsigned long long>(frames),
                 frames == 1 ? "" : "s");
}

}  // namespace

SimulatedBus::SimulatedBus(const std::vector<ModuleConfig> &modules, std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)) {
    for (const ModuleConfig &config : modules) plug(config);
}

SimulatedBus::~SimulatedBus() {
    for (auto &[handle, session] : sessions_) session->close();
}

bool SimulatedBus::plug(const ModuleConfig &config, Placement placement) {
    if (config.playback && !config.playback->recording) return false;
    const Nanos now = clock_->now();
    std::lock_guard lock(mutex_);
    if (findModule(config.name, now)) return false;
    auto module = std::make_shared<SimulatedModule>(config, now);
    if (placement == Placement::first) {
        modules_.insert(modules_.begin(), std::move(module));
    } else {
        modules_.push_back(std::move(module));
    }
    return true;
}

bool SimulatedBus::unplug(const std::string &name) {
    const Nanos now = clock_->now();
    std::vector<SessionPtr> affected;
    {
        std::lock_guard lock(mutex_);
        const ModulePtr module = findModule(name, now);
        if (!module) return false;
        module->unplugAt(now);
        pruneGoneModules(now);
        for (const auto &[handle, session] : sessions_) {
            if (session->module() == module.get()) affected.push_back(session);
        }
    }
    for (const SessionPtr &session : affected) session->wake();
    return true;
}

std::vector<std::string> SimulatedBus::moduleNames() const {
    const Nanos now = clock_->now();
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const ModulePtr &module : modules_) {
        if (module->presentAt(now)) names.push_back(module->config().name);
    }
    return names;
}

uint64_t SimulatedBus::lostFrames(std::string_view name) const {
    const Nanos now = clock_->now();
    std::lock_guard lock(mutex_);
    for (const ModulePtr &module : modules_) {
        if (module->presentAt(now) && module->config().name == name) return module->lostFrames();
    }
    return 0;
}

bool SimulatedBus::paceless(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const ModulePtr &module : modules_) {
        if (module->config().name == name) return module->config().pace.fast;
    }
    return false;
}

std::shared_ptr<const PlaybackRecording> SimulatedBus::playbackRecording(
    std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const ModulePtr &module : modules_) {
        const ModuleConfig &config = module->config();
        if (config.name == name && config.playback) return config.playback->recording;
    }
    return nullptr;
}

// Caller holds mutex_.
void SimulatedBus::pruneGoneModules(Nanos now) {
    std::erase_if(modules_, [now](const ModulePtr &module) { return !module->presentAt(now); });
}

// Caller holds mutex_.
SimulatedBus::ModulePtr SimulatedBus::findModule(std::string_view name, Nanos now) {
    pruneGoneModules(now);
    const auto found = std::find_if(modules_.begin(), modules_.end(), [name](const ModulePtr &m) {
        return m->config().name == name;
    });
    return found == modules_.end() ? nullptr : *found;
}

// Caller holds mutex_.
bool SimulatedBus::isOpen(const SimulatedModule *module) const {
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [module](const auto &entry) { return entry.second->module() == module; });
}

SimulatedBus::SessionPtr SimulatedBus::session(void *handle) const {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
    return found == sessions_.end() ? nullptr : found->second;
}

// The names, each ended by a zero byte, then an empty name; a name that does not fit ends the
// list, so the list never exceeds `size` bytes and is always terminated.
int SimulatedBus::UsbFindModules(char *nameList, uint32_t size) {
    if (nameList == nullptr || size == 0) return usbResult(kUsbErrorInvalidArgument);
    size_t used = 0;
    for (const std::string &name : moduleNames()) {
        if (used + name.size() + 2 > size) break;
        std::memcpy(nameList + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
    }
    nameList[used] = '\0';
    return usbResult(kUsbErrorNone);
}

uint32_t SimulatedBus::open(void **handle, const char *moduleName) {
    if (handle == nullptr || moduleName == nullptr) return kUsbErrorInvalidArgument;
    ModulePtr module;
    {
        std::lock_guard lock(mutex_);
        module = findModule(moduleName, clock_->now());
    }
    if (!module) return kUsbErrorNoSuchModule;
    if (module->config().faults.openFails) return kUsbErrorOpenFailed;
    std::unique_ptr<FrameSource> source;
    try {
        source = module->openSource();  // built outside the bus lock
    } catch (const std::bad_alloc &) {
        return kUsbErrorOutOfMemory;
    }
    if (!source) return kUsbErrorOpenFailed;
    std::lock_guard lock(mutex_);
    if (findModule(moduleName, clock_->now()) != module) return kUsbErrorNoSuchModule;
    if (isOpen(module.get())) return kUsbErrorBusy;
    const uintptr_t token = nextHandle_;
    nextHandle_ += 0x10;
    sessions_.emplace(token, std::make_shared<ModuleSession>(module, std::move(source), clock_));
    *handle = reinterpret_cast<void *>(token);
    return kUsbErrorNone;
}

int SimulatedBus::UsbOpen(void **handle, const char *moduleName) {
    return usbResult(open(handle, moduleName));
}

int SimulatedBus::UsbClose(void *handle) {
    SessionPtr closing;
    {
        std::lock_guard lock(mutex_);
        const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
        if (found == sessions_.end()) return usbResult(kUsbErrorInvalidHandle);
        closing = std::move(found->second);
        sessions_.erase(found);
    }
    const uint64_t lost = closing->close();
    if (lost > 0) reportLostFrames(closing->module()->config().name, lost);
    return usbResult(kUsbErrorNone);
}

int SimulatedBus::UsbSetTimeout(void *handle, uint32_t timeoutMs) {
    const SessionPtr s = session(handle);
    return usbResult(s ? s->setTimeout(timeoutMs) : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) {
    const SessionPtr s = session(handle);
    return usbResult(s ? s->readPort(port, value, length) : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) {
    if (value == nullptr) return usbResult(kUsbErrorInvalidArgument);
    const SessionPtr s = session(handle);
    return usbResult(s ? s->writePort(port, *value, length) : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbReadData(void *handle, void *destination, uint32_t *length) {
    const SessionPtr s = session(handle);
    return usbResult(s ? s->readData(static_cast<uint8_t *>(destination), length)
                       : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbReadDataAsync(void *handle, void *destination, uint32_t *length,
                                   uint8_t *transaction) {
    if (length == nullptr) return usbResult(kUsbErrorInvalidArgument);
    const SessionPtr s = session(handle);
    return usbResult(s ? s->queueRead(static_cast<uint8_t *>(destination), *length, transaction)
                       : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) {
    const SessionPtr s = session(handle);
    return usbResult(s ? s->wait(transaction, flag, bytesCount) : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbCancelReads(void *handle) {
    const SessionPtr s = session(handle);
    return usbResult(s ? s->cancelReads() : kUsbErrorInvalidHandle);
}

int SimulatedBus::UsbGetLastError(uint32_t *code) {
    if (code == nullptr) return 0;
    *code = usbLastError();
    return 1;
}

SimulatedBus &bus() {
    static SimulatedBus *const instance =
        new SimulatedBus(modulesFromEnvironment(std::getenv("OSTREL_SIM")));
    return *instance;
}

}  // namespace ostrel::sim
