// The stream of a simulated module: port word and run bits, pacing, framing, time-outs and
// close, driven by injected clocks.
#include "sim_test_support.h"
#include "usb/sim/signal_table.h"

namespace ostrel::sim::test {
namespace {

Block expectedBlock(const ModuleConfig &config, uint64_t startFrame, uint32_t bytes = kBlockBytes) {
    Block block{};
    SignalTable(config).copy(startFrame, block.data(), bytes);
    return block;
}

uint64_t framesPerBlock(const ModuleConfig &config) {
    return kBlockBytes / (2 * config.wordsPerFrame);
}

TEST(SimPort, WrittenBitsReadBackAndTheSyncBitIsTheReceivers) {
    ManualRig rig(1s);
    rig.attach(simModule("M"));
    EXPECT_EQ(rig.readPort(), kSyncBit);
    const uint16_t rows[][2] = {{0xA5F0, 0xA5F0 | kSyncBit}, {0, kSyncBit}, {0xFFFF, 0xFFFF}};
    for (const auto &[written, read] : rows) {
        rig.writePort(written);
        EXPECT_EQ(rig.readPort(), read) << written;
    }
    // A one-byte access touches the low byte only.
    rig.writePort(0x1200);
    uint16_t word = 0x0034, length = 1;
    ASSERT_NE(rig.bus.UsbWritePort(rig.handle, 0, &word, 1), 0);
    EXPECT_EQ(rig.readPort(), 0x1234 | kSyncBit);
    ASSERT_NE(rig.bus.UsbReadPort(rig.handle, 0, &word, &length), 0);
    EXPECT_EQ(word, 0x34 | kSyncBit);
    length = 2;
    EXPECT_EQ(rig.bus.UsbReadPort(rig.handle, 1, &word, &length), 0);  // only port 0
    EXPECT_EQ(lastError(rig.bus), kUsbErrorInvalidArgument);
}

TEST(SimPort, StreamRunsOnlyWhileBothRunBitsAreSet) {
    ManualRig rig(1s);
    rig.attach(simModule("M:kbps=640"));
    Block block{};
    const uint8_t id = rig.queue(block.data());
    rig.clock->advance(10s);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);  // queued before the run bits: no data yet
    rig.writePort(0x0001);
    rig.clock->advance(10s);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);  // one run bit is not enough
    rig.writePort(kRunBits | 0x0040);
    // The stream starts at the write, so the first block needs one block time from now.
    rig.clock->advance(blockTime(640) - 1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);
    rig.clock->advance(1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorNone);
    EXPECT_EQ(rig.readPort(), 0x0143);
}

TEST(SimPort, WarmUpReadsReturnAtOnceBeforeTheRunBits) {
    SteppingRig rig(1ms);
    rig.attach(simModule("M"));
    std::array<uint8_t, 4096> idle{};
    uint32_t length = 512;
    const Nanos start = rig.clock->peek();
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    EXPECT_EQ(length, 512u);
    EXPECT_LT(rig.clock->peek() - start, 100ms);  // no wait for a time-out
    for (size_t w = 0; w < 256; ++w) EXPECT_EQ(idle[2 * w] & 0x0F, 0) << w;  // bits 15..4
    EXPECT_EQ(std::count(idle.begin() + 512, idle.end(), 0), 4096 - 512);    // never past length
}

TEST(SimStream, BlockPeriodFollowsTheLinkSpeedAndPace) {
    EXPECT_EQ(blockTime(160), 163200us);
    EXPECT_EQ(blockTime(640), 40800us);
    const struct {
        const char *config;
        Nanos period;
    } rows[] = {{"M:kbps=40", blockTime(40)},
                {"M:kbps=160", blockTime(160)},
                {"M:words=32,kbps=640", blockTime(640)},
                {"M:kbps=160,pace=4", blockTime(160) / 4}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.config);
        ManualRig rig(1s);
        rig.attach(simModule(row.config));
        rig.writePort(kRunBits);
        std::vector<Block> blocks(2);
        for (const uint8_t id : rig.queueAll(blocks)) {
            rig.clock->advance(row.period - 1ns);
            EXPECT_EQ(rig.poll(id), kUsbErrorPending);
            rig.clock->advance(1ns);
            uint32_t bytes = 0;
            EXPECT_EQ(rig.poll(id, &bytes), kUsbErrorNone);
            EXPECT_EQ(bytes, kBlockBytes);
        }
    }
}

TEST(SimStream, BlocksAreConsecutiveWholeFramesOfTheSignal) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M:words=32,kbps=640");
    rig.attach(config);
    rig.writePort(kRunBits);
    Block a{}, b{}, shortRead{}, c{};
    const uint8_t ids[] = {rig.queue(a.data()), rig.queue(b.data()),
                           rig.queue(shortRead.data(), 100), rig.queue(c.data())};
    rig.clock->advance(3 * blockTime(640) + blockTime(640) / 32);
    for (const uint8_t id : ids) ASSERT_EQ(rig.wait(id), kUsbErrorNone);
    EXPECT_EQ(a, expectedBlock(config, 0));
    EXPECT_EQ(b, expectedBlock(config, 64));
    EXPECT_EQ(shortRead, expectedBlock(config, 128, 100));
    // The 100-byte read took two 64-byte frames; the next read starts at the next frame.
    EXPECT_EQ(c, expectedBlock(config, 130));
}

TEST(SimStream, SixteenReadsInFlightCompleteInQueueOrder) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M");
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<Block> blocks(16);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    rig.clock->advance(5 * blockTime(160) + blockTime(160) / 2);
    EXPECT_EQ(rig.poll(ids[10]), kUsbErrorPending);
    // Waiting for the fifth completes the four ahead of it too.
    EXPECT_EQ(rig.wait(ids[4]), kUsbErrorNone);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.poll(ids[k]), kUsbErrorNone) << k;
    EXPECT_EQ(rig.poll(ids[5]), kUsbErrorPending);

    rig.clock->advance(11 * blockTime(160));
    EXPECT_EQ(rig.wait(ids[15]), kUsbErrorNone);
    for (int k = 5; k < 15; ++k) EXPECT_EQ(rig.poll(ids[k]), kUsbErrorNone) << k;
    for (size_t k = 0; k < blocks.size(); ++k) {
        EXPECT_EQ(blocks[k], expectedBlock(config, k * framesPerBlock(config))) << k;
    }
}

TEST(SimStream, CatchesUpWithWhatTheLinkCarriedDuringAStall) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M");
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<Block> ring(16);
    std::vector<uint8_t> ids = rig.queueAll(ring);
    rig.clock->advance(10s);  // 10 s = 61.27 block times

    int caughtUp = 0;
    for (size_t k = 0; rig.poll(ids[k]) == kUsbErrorNone; k = (k + 1) % ring.size()) {
        EXPECT_EQ(ring[k], expectedBlock(config, caughtUp * framesPerBlock(config)));
        ++caughtUp;
        ids[k] = rig.queue(ring[k].data());
    }
    EXPECT_EQ(caughtUp, 61);
    rig.clock->advance(blockTime(160));
    EXPECT_EQ(rig.poll(ids[61 % 16]), kUsbErrorNone);
}

TEST(SimStream, ClearingTheRunBitsEndsOutstandingReadsAtOnce) {
    ManualRig rig(1s);
    rig.attach(simModule("M"));
    rig.writePort(kRunBits);
    std::vector<Block> blocks(16);
    const std::vector<uint8_t> ids = rig.queueAll(blocks);
    rig.clock->advance(blockTime(160) * 5 / 2);
    rig.writePort(0);

    uint32_t bytes = 0;
    EXPECT_EQ(rig.poll(ids[0], &bytes), kUsbErrorNone);
    EXPECT_EQ(bytes, kBlockBytes);
    EXPECT_EQ(rig.poll(ids[1]), kUsbErrorNone);
    EXPECT_EQ(rig.poll(ids[2], &bytes), kUsbErrorNone);
    EXPECT_EQ(bytes, kBlockBytes / 2);  // the half block the link had carried
    for (int k = 3; k < 16; ++k) EXPECT_EQ(rig.wait(ids[k]), kUsbErrorStreamStopped) << k;
}

TEST(SimStream, WaitTimesOutAndTheReadIsCancelled) {
    SteppingRig rig(100us);
    const ModuleConfig config = simModule("M");
    rig.attach(config);
    rig.setTimeout(10);
    rig.writePort(kRunBits);
    Block late{}, next{};
    const uint8_t lateId = rig.queue(late.data());
    const Nanos start = rig.clock->peek();
    EXPECT_EQ(rig.wait(lateId), kUsbErrorTimedOut);
    EXPECT_GE(rig.clock->peek() - start, 10ms);
    EXPECT_LT(rig.clock->peek() - start, blockTime(160));
    EXPECT_EQ(rig.wait(lateId), kUsbErrorUnknownTransaction);
    EXPECT_EQ(late, Block{});

    // The time-out applies to later waits; the stream is not shifted by the cancelled read.
    rig.setTimeout(2000);
    EXPECT_EQ(rig.wait(rig.queue(next.data())), kUsbErrorNone);
    EXPECT_EQ(next, expectedBlock(config, 0));
}

TEST(SimStream, At256ReadsInFlightQueuingIsRefused) {
    ManualRig rig(1s);
    rig.attach(simModule("M:pace=fast"));
    std::vector<Block> blocks(257);
    std::vector<uint8_t> ids;
    for (size_t k = 0; k < 256; ++k) ids.push_back(rig.queue(blocks[k].data()));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
    uint32_t length = kBlockBytes;
    uint8_t id = 0;
    EXPECT_EQ(rig.bus.UsbReadDataAsync(rig.handle, blocks[256].data(), &length, &id), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorTooManyTransfers);
}

TEST(SimStream, CloseWakesABlockedWaiterAndNeverWritesFreedBuffers) {
    ManualRig rig(1s);
    rig.attach(simModule("M"));
    rig.writePort(kRunBits);
    auto blocks = std::make_unique<std::vector<Block>>(16);
    const std::vector<uint8_t> ids = rig.queueAll(*blocks);
    rig.setTimeout(60'000);
    const uint32_t error = rig.blockedWaitEndedBy(ids[0], [&] {
        ASSERT_NE(rig.bus.UsbClose(rig.handle), 0);
        blocks.reset();  // a late write into a buffer would now be caught by AddressSanitizer
    });
    EXPECT_TRUE(error == kUsbErrorCancelled || error == kUsbErrorInvalidHandle) << error;
    rig.clock->advance(10s);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorInvalidHandle);
}

}  // namespace
}  // namespace ostrel::sim::test
