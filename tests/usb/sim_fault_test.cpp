// The faults a simulated module can be told to show, and misuse of handles.
#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimFault, NoSyncClearsTheSyncBitAndNothingStreams) {
    SteppingRig rig(1ms);
    rig.attach(simModule("M:nosync"));
    EXPECT_EQ(rig.readPort() & kSyncBit, 0);
    std::array<uint8_t, 512> idle{};
    uint32_t length = 512;
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    EXPECT_EQ(length, 0u);  // the receiver's buffer holds nothing
    rig.writePort(kRunBits);
    Block block{};
    EXPECT_EQ(rig.wait(rig.queue(block.data())), kUsbErrorTimedOut);
}

TEST(SimFault, OpenFailIsListedButCannotBeOpenedAndAModuleOpensOnce) {
    ManualRig rig(1s);
    ASSERT_TRUE(rig.bus.plug(simModule("BROKEN:openfail")));
    rig.attach(simModule("M"));
    EXPECT_EQ(rig.bus.moduleNames(), (std::vector<std::string>{"BROKEN", "M"}));
    const struct {
        const char *name;
        uint32_t error;
    } rows[] = {
        {"BROKEN", kUsbErrorOpenFailed}, {"M", kUsbErrorBusy}, {"NOPE", kUsbErrorNoSuchModule}};
    for (const auto &row : rows) {
        void *handle = nullptr;
        EXPECT_EQ(rig.bus.UsbOpen(&handle, row.name), 0);
        EXPECT_EQ(lastError(rig.bus), row.error) << row.name;
        EXPECT_EQ(handle, nullptr);
    }
    // The last error is the calling thread's.
    uint32_t other = 99;
    std::thread([&] { rig.bus.UsbGetLastError(&other); }).join();
    EXPECT_EQ(other, kUsbErrorNone);
}

TEST(SimFault, FailBlockFailsThatWaitOnlyAndTheStreamGoesOn) {
    ManualRig rig(1s);
    rig.attach(simModule("M:pace=fast,failblock=3"));
    rig.writePort(kRunBits);
    std::vector<Block> blocks(5);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    const uint32_t expected[] = {kUsbErrorNone, kUsbErrorNone, kUsbErrorTransferFailed,
                                 kUsbErrorNone, kUsbErrorNone};
    for (size_t k = 0; k < ids.size(); ++k) EXPECT_EQ(rig.wait(ids[k]), expected[k]) << k;
    EXPECT_EQ(blocks[2], Block{});
    EXPECT_NE(blocks[3], blocks[4]);
}

TEST(SimFault, QueueFailFailsTheNthQueuingOnly) {
    ManualRig rig(1s);
    rig.attach(simModule("M:queuefail=5"));
    rig.writePort(kRunBits);
    std::vector<Block> ring(6);
    uint32_t length = kBlockBytes;
    uint8_t id = 0;
    for (int k = 0; k < 6; ++k) {
        const bool queued = rig.bus.UsbReadDataAsync(rig.handle, ring[k].data(), &length, &id);
        EXPECT_EQ(queued, k != 4) << k;
        EXPECT_EQ(lastError(rig.bus), queued ? kUsbErrorNone : kUsbErrorQueueFailed);
    }
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);  // those in flight are cancelled
}

TEST(SimFault, UnplugAfterATimeLeavesTheListAndFailsTheWaits) {
    ManualRig rig(1s);
    rig.attach(simModule("M:kbps=640,unplug=2s"));
    ASSERT_TRUE(rig.bus.plug(simModule("OTHER")));
    rig.writePort(kRunBits);
    std::vector<Block> blocks(50);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    rig.clock->advance(1999ms);
    EXPECT_EQ(rig.bus.moduleNames(), (std::vector<std::string>{"M", "OTHER"}));
    rig.clock->advance(10s);
    EXPECT_EQ(rig.bus.moduleNames(), std::vector<std::string>{"OTHER"});
    // Blocks the link carried before the module left still arrive: 2 s hold 49 block times.
    EXPECT_EQ(rig.wait(ids[48]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[49]), kUsbErrorDisconnected);
    uint32_t length = kBlockBytes;
    uint8_t id = 0;
    EXPECT_EQ(rig.bus.UsbReadDataAsync(rig.handle, blocks[0].data(), &length, &id), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorDisconnected);
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
    void *again = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&again, "M"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorNoSuchModule);
}

TEST(SimFault, UnplugByHandWakesABlockedWaiterAndTheModuleCanComeBack) {
    ManualRig rig(1s);
    rig.attach(simModule("M"));
    rig.setTimeout(60'000);
    rig.writePort(kRunBits);
    Block block{};
    EXPECT_EQ(
        rig.blockedWaitEndedBy(rig.queue(block.data()), [&] { EXPECT_TRUE(rig.bus.unplug("M")); }),
        kUsbErrorDisconnected);
    EXPECT_FALSE(rig.bus.unplug("M"));
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
    EXPECT_TRUE(rig.bus.plug(simModule("M")));
    EXPECT_NE(rig.bus.UsbOpen(&rig.handle, "M"), 0);
}

TEST(SimFault, StallStopsTheStreamAfterThatManyBlocks) {
    SteppingRig rig(200us);
    rig.attach(simModule("M:kbps=640,stall=2"));
    rig.setTimeout(500);
    rig.writePort(kRunBits);
    std::vector<Block> blocks(4);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorNone);
    const Nanos start = rig.clock->peek();
    EXPECT_EQ(rig.wait(ids[2]), kUsbErrorTimedOut);
    EXPECT_GE(rig.clock->peek() - start, 500ms);
    rig.setTimeout(10);
    EXPECT_EQ(rig.wait(ids[3]), kUsbErrorTimedOut);
}

}  // namespace
}  // namespace ostrel::sim::test
