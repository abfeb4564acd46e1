#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/module_session.h"
#include "sim/sim_config.h"
#include "sim/simulated_module.h"
#include "usb/module_library.h"

namespace ostrel::sim {

// Simulated receiver modules behind the ten operations of the module library. Modules are listed
// in the order they were plugged; each can be open once at a time. Handles are tokens, so a
// stale handle fails with kUsbErrorInvalidHandle instead of reaching freed memory. UsbClose
// reports on stderr the frames the module lost while it was open, if any.
// Thread-safe; the last error is per calling thread.
class SimulatedBus final : public ModuleLibrary {
  public:
    explicit SimulatedBus(const std::vector<ModuleConfig> &modules = {},
                          std::shared_ptr<Clock> clock = steadyClock());
    ~SimulatedBus() override;
    SimulatedBus(const SimulatedBus &) = delete;
    SimulatedBus &operator=(const SimulatedBus &) = delete;

    enum class Placement { last, first };
    // Attaches a module at the end (or the top) of the list; false when a module of that name
    // is attached, or for a playback module whose recording is not loaded (preparePlayback).
    bool plug(const ModuleConfig &config, Placement placement = Placement::last);
    // Detaches a module: it leaves the list, and the operations on it fail, its waits at once.
    // False when no module of that name is attached.
    bool unplug(const std::string &name);
    // The attached modules' names, in list order.
    std::vector<std::string> moduleNames() const;
    // Frames the attached module `name` lost to receive buffer overruns, over all the times it
    // was open since it was plugged; 0 when no such module is attached.
    uint64_t lostFrames(std::string_view name) const;
    // Whether the module `name` has no time base (pace=fast): its link waits for its reader.
    bool paceless(std::string_view name) const override;
    // The recording the attached module `name` plays back; null for a generated signal or
    // when no such module is attached.
    std::shared_ptr<const PlaybackRecording> playbackRecording(std::string_view name) const;
    Clock &clock() const { return *clock_; }

    int UsbFindModules(char *nameList, uint32_t size) override;
    int UsbOpen(void **handle, const char *moduleName) override;
    int UsbClose(void *handle) override;
    int UsbSetTimeout(void *handle, uint32_t timeoutMs) override;
    int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length) override;
    int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length) override;
    int UsbReadData(void *handle, void *destination, uint32_t *length) override;
    int UsbReadDataAsync(void *handle, void *destination, uint32_t *length,
                         uint8_t *transaction) override;
    int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction, int flag) override;
    int UsbGetLastError(uint32_t *code) override;
    int UsbCancelReads(void *handle) override;
    bool canCancelReads() const override { return true; }
    bool simulated() const override { return true; }
    std::optional<uint64_t> simulatedLostFrames(std::string_view name) const override {
        return lostFrames(name);
    }

  private:
    using ModulePtr = std::shared_ptr<SimulatedModule>;
    using SessionPtr = std::shared_ptr<ModuleSession>;

    void pruneGoneModules(Nanos now);
    ModulePtr findModule(std::string_view name, Nanos now);
    bool isOpen(const SimulatedModule *module) const;
    uint32_t open(void **handle, const char *moduleName);
    SessionPtr session(void *handle) const;

    const std::shared_ptr<Clock> clock_;
    mutable std::mutex mutex_;                  // guards modules_, sessions_ and nextHandle_
    std::vector<ModulePtr> modules_;            // attached modules, in list order
    std::map<uintptr_t, SessionPtr> sessions_;  // open modules by handle
    uintptr_t nextHandle_ = 0x5100;
};

// The process-wide simulated bus, configured from OSTREL_SIM on first use (thread-safe).
// It is the module library's built-in source in every program that links the simulator, so it
// serves the program unless OSTREL_MODULE_LIBRARY names a library. Never destroyed, so it
// stays usable by threads that outlive main.
SimulatedBus &bus();

}  // namespace ostrel::sim
