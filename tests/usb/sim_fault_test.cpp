// The faults a simulated module can be told to show.
#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

// Each row queues `reads` reads and waits for them in order (time-out 1 s, clock steps 100 us a
// reading): reads [failFrom, failTo) fail with `error`, buffers untouched; the others complete.
TEST(SimFault, StreamFaultsFailTheirWaits) {
    const struct {
        const char *config;
        size_t reads, failFrom, failTo;
        uint32_t error;
    } rows[] = {
        {"M:nosync", 1, 0, 1, kUsbErrorTimedOut},
        {"M:pace=fast,failblock=3", 5, 2, 3, kUsbErrorTransferFailed},  // the stream goes on
        {"M:kbps=640,stall=2", 4, 2, 4, kUsbErrorTimedOut},
        // 1 s holds 24.5 blocks: the 24 the link carried arrive, then the module is gone.
        {"M:kbps=640,unplug=1s", 25, 24, 25, kUsbErrorDisconnected},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.config);
        SteppingRig rig(100us);
        rig.attach(simModule(row.config));
        rig.writePort(kRunBits);
        std::vector<Block> blocks(row.reads);
        const std::vector<uint8_t> ids = rig.queueAll(blocks);
        for (size_t k = 0; k < ids.size(); ++k) {
            const bool fails = k >= row.failFrom && k < row.failTo;
            EXPECT_EQ(rig.wait(ids[k]), fails ? row.error : kUsbErrorNone) << k;
            EXPECT_EQ(blocks[k] == Block{}, fails) << k;
        }
        EXPECT_EQ(rig.bus.moduleNames().empty(), row.error == kUsbErrorDisconnected);
    }
}

TEST(SimFault, OpenFailIsListedButCannotBeOpenedAndQueueFailFailsTheNthQueuing) {
    ManualRig rig(1s);
    ASSERT_TRUE(rig.bus.plug(simModule("BROKEN:openfail")));
    rig.attach(simModule("M:queuefail=5"));
    EXPECT_EQ(rig.bus.moduleNames(), (std::vector<std::string>{"BROKEN", "M"}));
    void *handle = nullptr;
    EXPECT_EQ(rig.bus.UsbOpen(&handle, "BROKEN"), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorOpenFailed);
    EXPECT_EQ(handle, nullptr);

    rig.writePort(kRunBits);
    std::vector<Block> ring(6);
    for (int k = 0; k < 6; ++k) {
        uint32_t length = kBlockBytes;
        uint8_t id = 0;
        const bool queued = rig.bus.UsbReadDataAsync(rig.handle, ring[k].data(), &length, &id);
        EXPECT_EQ(queued, k != 4) << k;
        EXPECT_EQ(lastError(rig.bus), queued ? kUsbErrorNone : kUsbErrorQueueFailed);
    }
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);  // those in flight are cancelled
}

}  // namespace
}  // namespace ostrel::sim::test
