#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/signal_table.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "usb/port_word.h"
#include "usb/usb_error.h"

namespace ostrel::sim::test {

using namespace std::chrono_literals;

constexpr uint32_t kBlockBytes = 4096;

using Block = std::array<uint8_t, kBlockBytes>;

// One well-formed module in OSTREL_SIM notation, e.g. "M:words=32,kbps=640" (throws otherwise).
inline ModuleConfig simModule(std::string_view text) {
    return parseSimConfig(text).modules.at(0);
}

// Link time of one 4096-byte block at `kbps`, whatever the frame size: 2048 words x 12.75 bits.
constexpr Nanos blockTime(int kbps) {
    return Nanos{2048LL * 12'750'000 / kbps};
}
static_assert(blockTime(160) == 163200us && blockTime(640) == 40800us);

// `bytes` bytes of the signal from frame `startFrame`, the rest of the block zero.
inline Block signalBlock(const SignalTable &table, uint64_t startFrame,
                         uint32_t bytes = kBlockBytes) {
    Block block{};
    table.copy(startFrame, block.data(), bytes);
    return block;
}

inline Block expectedBlock(const ModuleConfig &config, uint64_t startFrame,
                           uint32_t bytes = kBlockBytes) {
    return signalBlock(SignalTable(config), startFrame, bytes);
}

inline uint32_t lastError(ModuleLibrary &library) {
    uint32_t code = 0;
    library.UsbGetLastError(&code);
    return code;
}

// A clock that moves on by `step` every time it is read, so that a blocking wait runs through
// its deadline without another thread and without real sleeping.
class SteppingClock final : public Clock {
  public:
    explicit SteppingClock(Nanos step) : step_(step.count()) {}
    Nanos now() const override { return Nanos{now_.fetch_add(step_) + step_}; }
    Nanos pollInterval() const override { return Nanos{0}; }

  private:
    const Nanos::rep step_;
    mutable std::atomic<Nanos::rep> now_{Nanos{1s}.count()};
};

// A bus on an injected clock with one open module.
template <typename ClockType>
struct Rig {
    explicit Rig(Nanos clockArgument) : clock(std::make_shared<ClockType>(clockArgument)) {}

    void attach(const ModuleConfig &config) {
        ASSERT_TRUE(bus.plug(config));
        ASSERT_NE(bus.UsbOpen(&handle, config.name.c_str()), 0) << lastError(bus);
    }
    void writePort(uint16_t word) { ASSERT_NE(bus.UsbWritePort(handle, 0, &word, 2), 0); }
    uint16_t readPort() {
        uint16_t word = 0, length = 2;
        EXPECT_NE(bus.UsbReadPort(handle, 0, &word, &length), 0);
        return word;
    }
    void setTimeout(uint32_t ms) { ASSERT_NE(bus.UsbSetTimeout(handle, ms), 0); }

    uint8_t queue(uint8_t *buffer, uint32_t length = kBlockBytes) {
        uint8_t id = 0;
        EXPECT_NE(bus.UsbReadDataAsync(handle, buffer, &length, &id), 0) << lastError(bus);
        return id;
    }
    std::vector<uint8_t> queueAll(std::vector<Block> &blocks) {
        std::vector<uint8_t> ids;
        for (Block &block : blocks) ids.push_back(queue(block.data()));
        return ids;
    }
    // Waits (flag 0) or checks (flag 1); returns the error code, kUsbErrorNone on success.
    uint32_t wait(uint8_t id, int flag = 0, uint32_t *bytes = nullptr) {
        uint32_t count = 0;
        if (bus.UsbAsyncWait(handle, &count, id, flag) == 0) return lastError(bus);
        if (bytes != nullptr) *bytes = count;
        return kUsbErrorNone;
    }
    uint32_t poll(uint8_t id, uint32_t *bytes = nullptr) { return wait(id, 1, bytes); }

    std::shared_ptr<ClockType> clock;
    SimulatedBus bus{{}, clock};
    void *handle = nullptr;
};

using ManualRig = Rig<ManualClock>;
using SteppingRig = Rig<SteppingClock>;

}  // namespace ostrel::sim::test
