// The faults a simulated module can be told to show, and misuse of handles.
#include <thread>

#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimFault, NoSyncClearsTheSyncBitAndNothingStreams) {
    SteppingRig rig(1ms);
    rig.attach(withConfig("M:nosync"));
    EXPECT_EQ(rig.readPort() & kSyncBit, 0);
    std::array<uint8_t, 512> idle{};
    uint32_t length = 512;
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    EXPECT_EQ(length, 0u);  // the receiver's buffer holds nothing
    rig.setRunBits(true);
    Block block{};
    EXPECT_EQ(rig.wait(rig.queue(block.data())), kUsbErrorTimedOut);
}

TEST(SimFault, OpenFailIsListedButCannotBeOpened) {
    ManualRig rig(1s);
    ASSERT_TRUE(rig.bus.plug(withConfig("M:openfail")));
    EXPECT_EQ(rig.bus.moduleNames(), std::vector<std::string>{"M"});
    void *handle = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&handle, "M"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorOpenFailed);
    EXPECT_EQ(handle, nullptr);
}

TEST(SimFault, FailBlockFailsThatWaitOnlyAndTheStreamGoesOn) {
    ManualRig rig(1s);
    const ModuleConfig config = withConfig("M:pace=fast,failblock=3");
    rig.attach(config);
    rig.setRunBits(true);
    std::vector<Block> blocks(5);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[2]), kUsbErrorTransferFailed);
    EXPECT_EQ(blocks[2], Block{});
    EXPECT_EQ(rig.wait(ids[3]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[4]), kUsbErrorNone);
    EXPECT_NE(blocks[3], blocks[4]);
}

TEST(SimFault, QueueFailFailsTheFirstQueuingByDefault) {
    ManualRig rig(1s);
    rig.attach(withConfig("M:queuefail"));
    rig.setRunBits(true);
    Block block{};
    uint32_t length = kBlockBytes;
    uint8_t id = 0;
    EXPECT_EQ(rig.bus.UsbReadDataAsync(rig.handle, block.data(), &length, &id), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorQueueFailed);
    EXPECT_NE(rig.bus.UsbReadDataAsync(rig.handle, block.data(), &length, &id), 0);
}

TEST(SimFault, QueueFailCanHitTheMiddleOfTheRing) {
    ManualRig rig(1s);
    rig.attach(withConfig("M:queuefail=5"));
    rig.setRunBits(true);
    std::vector<Block> ring(16);
    uint32_t length = kBlockBytes;
    int queued = 0;
    for (Block &block : ring) {
        uint8_t id = 0;
        if (rig.bus.UsbReadDataAsync(rig.handle, block.data(), &length, &id) == 0) break;
        ++queued;
    }
    EXPECT_EQ(queued, 4);
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);  // the four still in flight are cancelled
}

TEST(SimFault, UnplugAfterATimeLeavesTheListAndFailsTheWaits) {
    ManualRig rig(1s);
    rig.attach(withConfig("M:kbps=640,unplug=2s"));
    ASSERT_TRUE(rig.bus.plug(plainModule("OTHER")));
    rig.setRunBits(true);
    std::vector<Block> blocks(50);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    rig.clock->advance(1999ms);
    EXPECT_EQ(rig.bus.moduleNames(), (std::vector<std::string>{"M", "OTHER"}));
    rig.clock->advance(10s);
    EXPECT_EQ(rig.bus.moduleNames(), std::vector<std::string>{"OTHER"});
    // Blocks the link carried before the module left still arrive: 2 s hold 49 block times.
    EXPECT_EQ(rig.wait(ids[48]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[49]), kUsbErrorDisconnected);
    uint32_t length32 = kBlockBytes;
    uint8_t id = 0;
    EXPECT_EQ(rig.bus.UsbReadDataAsync(rig.handle, blocks[0].data(), &length32, &id), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorDisconnected);
    uint16_t word = 0, length = 2;
    EXPECT_EQ(rig.bus.UsbReadPort(rig.handle, 0, &word, &length), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorDisconnected);
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
    void *again = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&again, "M"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorNoSuchModule);
}

TEST(SimFault, UnplugByHandWakesABlockedWaiter) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    rig.setTimeout(60'000);
    rig.setRunBits(true);
    Block block{};
    const uint8_t id = rig.queue(block.data());
    std::atomic<uint32_t> waitError{kUsbErrorNone};
    std::thread waiter([&] { waitError = rig.wait(id); });
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(rig.bus.unplug("M"));
    waiter.join();
    EXPECT_EQ(waitError.load(), kUsbErrorDisconnected);
    EXPECT_FALSE(rig.bus.unplug("M"));
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
    EXPECT_TRUE(rig.bus.plug(plainModule("M")));  // plugged in again, a new module
    void *handle = nullptr;
    EXPECT_NE(rig.bus.UsbOpen(&handle, "M"), 0);
}

TEST(SimFault, StallStopsTheStreamAfterThatManyBlocks) {
    SteppingRig rig(200us);
    rig.attach(withConfig("M:kbps=640,stall=2"));
    rig.setTimeout(500);
    rig.setRunBits(true);
    std::vector<Block> blocks(4);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorNone);
    const Nanos start = rig.clock->peek();
    EXPECT_EQ(rig.wait(ids[2]), kUsbErrorTimedOut);
    EXPECT_GE(rig.clock->peek() - start, 500ms);
    rig.setTimeout(10);
    EXPECT_EQ(rig.wait(ids[3]), kUsbErrorTimedOut);
}

TEST(SimFault, AModuleOpensOnceAndStaleHandlesAreRefused) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    void *second = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&second, "M"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorBusy);
    EXPECT_EQ(rig.bus.UsbOpen(&second, "NOPE"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorNoSuchModule);
    void *const stale = rig.handle;
    ASSERT_NE(rig.bus.UsbClose(stale), 0);
    EXPECT_EQ(rig.bus.UsbClose(stale), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorInvalidHandle);
    EXPECT_EQ(rig.bus.UsbSetTimeout(stale, 10), 0);
    EXPECT_EQ(rig.bus.UsbSetTimeout(nullptr, 10), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorInvalidHandle);
    ASSERT_NE(rig.bus.UsbOpen(&second, "M"), 0);
    EXPECT_NE(second, stale);
}

TEST(SimFault, LastErrorIsPerThread) {
    ManualRig rig(1s);
    void *handle = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&handle, "NOPE"), 0);
    uint32_t other = 99;
    std::thread([&] { rig.bus.UsbGetLastError(&other); }).join();
    EXPECT_EQ(other, kUsbErrorNone);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorNoSuchModule);
}

}  // namespace
}  // namespace ostrel::sim::test
