// The faults a simulated module can be told to show, and the receive buffer overruns of a
// consumer that falls behind.
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

constexpr uint64_t kFramesPerBlock32 = kBlockBytes / 64;  // 32-word frames

// A 2 s stall at 640 kbps with no read queued: the link carries 3137 frames, the 16 KiB fifo
// keeps the first 256 (4 blocks) and drops the rest. The first reads take the fifo at once; the
// next one waits for the link, its data follows the gap in the signal's time base, and the gap
// is counted as it is handed over.
TEST(SimOverrun, AStalledConsumerGetsTheFifoThenTheStreamAfterAGap) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M:words=32,kbps=640");
    rig.attach(config);
    rig.writePort(kRunBits);
    rig.clock->advance(2s);
    std::vector<Block> ring(16);
    const std::vector<uint8_t> ids = rig.queueAll(ring);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(rig.poll(ids[k]), kUsbErrorNone) << k;
        EXPECT_EQ(ring[k], expectedBlock(config, k * kFramesPerBlock32)) << k;
    }
    EXPECT_EQ(rig.poll(ids[4]), kUsbErrorPending);
    EXPECT_EQ(rig.bus.lostFrames("M"), 0u);  // nothing has followed the gap yet
    rig.clock->advance(blockTime(640));
    EXPECT_EQ(rig.poll(ids[4]), kUsbErrorNone);
    EXPECT_EQ(ring[4], expectedBlock(config, 3137));
    EXPECT_EQ(rig.poll(ids[5]), kUsbErrorPending);
    EXPECT_EQ(rig.bus.lostFrames("M"), 3137u - 256);
}

// Dropped frames are a loss only when a frame handed to a read follows them, be it in the short
// read of the stop; frames dropped after the last read are none. Each row: a 2 s stall with no
// read (frames 256 to 3136 dropped), then `reads` blocks queued, `more` clock time, the run bits
// cleared or not, and the close, which reports a loss on stderr.
TEST(SimOverrun, DropsCountOnlyWhenALaterFrameIsHandedOver) {
    const struct {
        const char *what;
        size_t reads;
        Nanos more;
        bool stop;
        uint64_t lost;
    } rows[] = {
        {"the fifo's frames, then the stop", 4, 1s, true, 0},
        {"the fifo's frames, closed while streaming", 4, 1s, false, 0},
        {"nothing read", 0, 1s, true, 0},
        {"the read being filled at the stop", 5, blockTime(640) / 2, true, 2881},
    };
    const ModuleConfig config = simModule("M:words=32,kbps=640");
    const SignalTable table(config);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ManualRig rig(1s);
        rig.attach(config);
        rig.writePort(kRunBits);
        rig.clock->advance(2s);
        std::vector<Block> blocks(row.reads);
        const std::vector<uint8_t> ids = rig.queueAll(blocks);
        rig.clock->advance(row.more);
        if (row.stop) rig.writePort(0);
        for (size_t k = 0; k < ids.size(); ++k) {
            const bool fromFifo = k < 4;
            const uint32_t expectedBytes = fromFifo ? kBlockBytes : kBlockBytes / 2;
            uint32_t bytes = 0;
            EXPECT_EQ(rig.poll(ids[k], &bytes), kUsbErrorNone) << k;
            EXPECT_EQ(bytes, expectedBytes) << k;
            const uint64_t frame = fromFifo ? k * kFramesPerBlock32 : 3137;
            EXPECT_EQ(blocks[k], signalBlock(table, frame, expectedBytes)) << k;
        }
        testing::internal::CaptureStderr();
        EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rig.bus.lostFrames("M"), row.lost);
        EXPECT_EQ(report, row.lost == 0 ? ""
                                        : "ostrel: simulated module \"M\" lost 2881 frames "
                                          "(receive buffer overrun)\n");
    }
}

// A consumer that keeps `inFlight` reads queued, looks at them every `period` of clock time for
// 6 s and takes every completed read, queuing it again. It loses nothing, and gets the signal
// without a gap, while the reads in flight and the fifo hold what arrives in a period; the fast
// pace never loses.
TEST(SimOverrun, AConsumerThatKeepsUpLosesNothing) {
    const struct {
        const char *config;
        size_t inFlight;
        Nanos period;
        bool loses;
    } rows[] = {
        {"M:words=32,kbps=640", 16, 600ms, false},          // 16 reads and the fifo: 816 ms
        {"M:words=32,kbps=640", 1, 100ms, false},           // 1 read and the fifo: 204 ms
        {"M:words=32,kbps=640,fifo=4096", 1, 100ms, true},  // 1 read and a block: 81.6 ms
        {"M:words=32,kbps=640,fifo=262144", 1, 2s, false},  // 1 read and 64 blocks: 2.65 s
        {"M:kbps=160,pace=2", 2, 400ms, false},             // 2 reads and 4 blocks: 490 ms
        {"M:pace=fast,fifo=16", 1, 1s, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.config);
        ManualRig rig(1s);
        const ModuleConfig config = simModule(row.config);
        const SignalTable table(config);
        const uint64_t framesPerBlock = kBlockBytes / table.frameBytes();
        rig.attach(config);
        rig.writePort(kRunBits);
        std::vector<Block> ring(row.inFlight);
        std::vector<uint8_t> ids = rig.queueAll(ring);
        uint64_t blocksRead = 0;
        size_t next = 0;
        for (Nanos elapsed{0}; elapsed < 6s; elapsed += row.period) {
            rig.clock->advance(row.period);
            for (int taken = 0; taken < 200 && rig.poll(ids[next]) == kUsbErrorNone; ++taken) {
                if (!row.loses) {
                    ASSERT_EQ(ring[next], signalBlock(table, blocksRead * framesPerBlock))
                        << blocksRead;
                }
                ++blocksRead;
                ids[next] = rig.queue(ring[next].data());
                next = (next + 1) % ring.size();
            }
        }
        EXPECT_GT(blocksRead, 50u);
        EXPECT_EQ(rig.bus.lostFrames("M") > 0, row.loses);
    }
}

// A read whose wait timed out is cancelled: the frames it was being filled with stay in the
// receiver for the next reads as far as the fifo holds them, the oldest first.
TEST(SimOverrun, ACancelledReadLeavesItsFramesToTheFifo) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M:words=32,kbps=640");
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<uint8_t> large(1u << 20);
    const uint8_t largeId = rig.queue(large.data(), static_cast<uint32_t>(large.size()));
    rig.clock->advance(1s);  // 1568 of its 16384 frames
    rig.setTimeout(0);
    EXPECT_EQ(rig.wait(largeId), kUsbErrorTimedOut);
    EXPECT_TRUE(std::all_of(large.begin(), large.end(), [](uint8_t b) { return b == 0; }));
    std::vector<Block> blocks(5);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(rig.poll(ids[k]), kUsbErrorNone) << k;
        EXPECT_EQ(blocks[k], expectedBlock(config, k * kFramesPerBlock32)) << k;
    }
    rig.clock->advance(blockTime(640));
    EXPECT_EQ(rig.poll(ids[4]), kUsbErrorNone);
    EXPECT_EQ(blocks[4], expectedBlock(config, 1568));
    EXPECT_EQ(rig.bus.lostFrames("M"), 1568u - 256);
}

}  // namespace
}  // namespace ostrel::sim::test
