// The stream of a simulated module: port word and run bits, pacing, framing, time-outs and
// close, driven by injected clocks; and the steering module's word layout.
#include <cmath>
#include <thread>

#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

// The port word reads back as written, with the receiver's sync bit; before the run bits a
// blocking read returns at once with what the receiver holds (nothing without sync).
TEST(SimPort, PortWordAndWarmUpReads) {
    for (const auto &[config, held] : {std::pair{"M", 512u}, std::pair{"M:nosync", 0u}}) {
        SCOPED_TRACE(config);
        SteppingRig rig(1ms);
        rig.attach(simModule(config));
        const uint16_t sync = held != 0 ? kSyncBit : 0;
        EXPECT_EQ(rig.readPort(), sync);
        for (const uint16_t word : {0xA5F0, 0x0000}) {
            rig.writePort(word);
            EXPECT_EQ(rig.readPort(), word | sync);
        }
        std::array<uint8_t, 4096> idle{};
        uint32_t length = 512;
        const Nanos start = rig.clock->now();
        ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
        EXPECT_EQ(length, held);
        EXPECT_LT(rig.clock->now() - start, 100ms);  // no wait for a time-out
        for (size_t w = 0; w < 256; ++w) EXPECT_EQ(idle[2 * w] & 0x0F, 0) << w;  // bits 15..4
        EXPECT_TRUE(std::all_of(idle.begin() + held, idle.end(), [](int b) { return !b; }));
    }
}

// One run bit is not enough; the stream starts when both are written, and each block completes
// one block time after the one before.
TEST(SimStream, RunBitsStartTheStreamAndTheBlockPeriodFollowsSpeedAndPace) {
    const std::pair<const char *, Nanos> rows[] = {{"M:kbps=40", blockTime(40)},
                                                   {"M:kbps=160", blockTime(160)},
                                                   {"M:words=32,kbps=640", blockTime(640)},
                                                   {"M:kbps=160,pace=4", blockTime(160) / 4}};
    for (const auto &[config, period] : rows) {
        SCOPED_TRACE(config);
        ManualRig rig(1s);
        rig.attach(simModule(config));
        std::vector<Block> blocks(2);
        const std::vector<uint8_t> ids = rig.queueAll(blocks);
        rig.writePort(0x0001);
        rig.clock->advance(10s);
        EXPECT_EQ(rig.poll(ids[0]), kUsbErrorPending);
        rig.writePort(kRunBits | 0x0040);
        for (const uint8_t id : ids) {
            rig.clock->advance(period - 1ns);
            EXPECT_EQ(rig.poll(id), kUsbErrorPending);
            rig.clock->advance(1ns);
            EXPECT_EQ(rig.poll(id), kUsbErrorNone);
        }
        EXPECT_EQ(rig.readPort(), 0x0143);
    }
}

TEST(SimStream, SixteenReadsInFlightCompleteInOrderAndAStallKeepsWhatTheReceiverHolds) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M");  // 8 words: 256 frames a block
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<Block> ring(16);
    std::vector<uint8_t> ids = rig.queueAll(ring);
    rig.clock->advance(blockTime(160) * 11 / 2);
    EXPECT_EQ(rig.poll(ids[10]), kUsbErrorPending);
    // Waiting for the fifth completes the four ahead of it too.
    EXPECT_EQ(rig.wait(ids[4]), kUsbErrorNone);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.poll(ids[k]), kUsbErrorNone) << k;
    EXPECT_EQ(rig.poll(ids[5]), kUsbErrorPending);

    // The consumer stalls for 10 s. The 16 reads in flight and the 16 KiB fifo (4 blocks) hold
    // what the link carried first; those complete at once, without gaps, the rest is lost.
    for (size_t k = 0; k < 5; ++k) ids[k] = rig.queue(ring[k].data());
    rig.clock->advance(10s);
    int done = 5;
    for (size_t k = 5; rig.poll(ids[k]) == kUsbErrorNone; k = (k + 1) % ring.size()) {
        EXPECT_EQ(ring[k], expectedBlock(config, done * 256)) << done;
        ++done;
        ids[k] = rig.queue(ring[k].data());
    }
    EXPECT_EQ(done, 25);
}

// Reads take consecutive whole frames (the 100-byte read takes two 64-byte frames). Clearing
// the run bits completes what the link carried, the read being filled with a short count, and
// fails the rest at once.
TEST(SimStream, ReadsAreWholeFramesAndClearingTheRunBitsEndsThemAtOnce) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M:words=32,kbps=640");
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<Block> blocks(6);
    std::vector<uint8_t> ids;
    for (size_t k = 0; k < blocks.size(); ++k)
        ids.push_back(rig.queue(blocks[k].data(), k == 2 ? 100 : kBlockBytes));
    rig.clock->advance(blockTime(640) * 3 + blockTime(640) / 32 + blockTime(640) / 2);
    rig.writePort(0);
    const struct {
        uint64_t frame;
        uint32_t bytes;
    } expected[] = {
        {0, kBlockBytes}, {64, kBlockBytes}, {128, 100}, {130, kBlockBytes}, {194, 2048}};
    for (size_t k = 0; k < 5; ++k) {
        uint32_t bytes = 0;
        EXPECT_EQ(rig.poll(ids[k], &bytes), kUsbErrorNone) << k;
        EXPECT_EQ(bytes, expected[k].bytes) << k;
        EXPECT_EQ(blocks[k], expectedBlock(config, expected[k].frame, expected[k].bytes)) << k;
    }
    EXPECT_EQ(rig.wait(ids[5]), kUsbErrorStreamStopped);
}

// Cancelling keeps the reads whose frames have arrived, fails the rest at once and leaves the
// module open: the next read goes on with the frames the receiver kept.
TEST(SimStream, CancelledReadsCompleteAtOnceAndTheModuleStaysOpen) {
    ManualRig rig(1s);
    const ModuleConfig config = simModule("M");  // 8 words, 160 kbps: 256 frames a block
    rig.attach(config);
    rig.writePort(kRunBits);
    std::vector<Block> ring(4);
    const std::vector<uint8_t> ids = rig.queueAll(ring);
    rig.clock->advance(blockTime(160) * 3 / 2);
    ASSERT_NE(rig.bus.UsbCancelReads(rig.handle), 0);
    EXPECT_EQ(rig.wait(ids[0]), kUsbErrorNone);
    EXPECT_EQ(ring[0], expectedBlock(config, 0));
    for (size_t k = 1; k < ids.size(); ++k) EXPECT_EQ(rig.poll(ids[k]), kUsbErrorCancelled) << k;
    Block next{};
    const uint8_t nextId = rig.queue(next.data());
    rig.clock->advance(blockTime(160));
    EXPECT_EQ(rig.wait(nextId), kUsbErrorNone);
    EXPECT_EQ(next, expectedBlock(config, 256)) << "the frames held by the receiver go on";
    EXPECT_TRUE(rig.bus.canCancelReads());
}

TEST(SimStream, WaitTimesOutAndTheReadIsCancelled) {
    SteppingRig rig(100us);
    const ModuleConfig config = simModule("M");
    rig.attach(config);
    rig.setTimeout(10);
    rig.writePort(kRunBits);
    Block late{}, next{};
    const uint8_t lateId = rig.queue(late.data());
    const Nanos start = rig.clock->now();
    EXPECT_EQ(rig.wait(lateId), kUsbErrorTimedOut);
    EXPECT_GE(rig.clock->now() - start, 10ms);
    EXPECT_LT(rig.clock->now() - start, blockTime(160));
    EXPECT_EQ(rig.wait(lateId), kUsbErrorUnknownTransaction);
    EXPECT_EQ(late, Block{});

    // The time-out applies to later waits; the stream is not shifted by the cancelled read.
    rig.setTimeout(2000);
    EXPECT_EQ(rig.wait(rig.queue(next.data())), kUsbErrorNone);
    EXPECT_EQ(next, expectedBlock(config, 0));
}

TEST(SimStream, CloseWakesABlockedWaiterAndNeverWritesFreedBuffers) {
    ManualRig rig(1s);
    rig.attach(simModule("M"));
    rig.writePort(kRunBits);
    rig.setTimeout(60'000);
    auto blocks = std::make_unique<std::vector<Block>>(16);
    const std::vector<uint8_t> ids = rig.queueAll(*blocks);
    std::atomic<uint32_t> error{kUsbErrorNone};
    std::thread waiter([&] { error = rig.wait(ids[0]); });
    std::this_thread::sleep_for(20ms);  // not a timing assert: the result holds either way
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
    blocks.reset();  // a late write into a buffer would now be caught by AddressSanitizer
    waiter.join();
    EXPECT_TRUE(error == kUsbErrorCancelled || error == kUsbErrorInvalidHandle) << error;
    rig.clock->advance(10s);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorInvalidHandle);
}

// Words 0..9 repeat in 10..19 and 20..29 and words 30, 31 stay mid-scale; the low-range words
// 1, 3, 5 carry words 0, 2, 4 at 10, 10 and 2 times the sensitivity, saturating at full scale.
TEST(SimSignal, SteeringWordLayoutAndSaturatingLowRanges) {
    const SignalTable table(simModule("S:signal=steering"));
    std::array<int, 3> saturated{};
    for (uint64_t f = 0; f < SignalTable::kFrames; ++f) {
        const auto scaled = [&](int w) { return ((table.word(f, w) >> 4) - 2047.5) / 2047.5; };
        for (int w = 0; w < 20; ++w) ASSERT_EQ(table.word(f, w), table.word(f, w + 10)) << f;
        ASSERT_EQ(table.word(f, 30), 0x8000);
        ASSERT_EQ(table.word(f, 31), 0x8000);
        for (int i = 0; i < 3; ++i) {
            const double gain = i == 2 ? 2 : 10, low = scaled(2 * i + 1);
            ASSERT_NEAR(low, std::clamp(scaled(2 * i) * gain, -1.0, 1.0), gain / 2047.5) << f;
            saturated[i] += std::abs(low) == 1.0;
        }
    }
    for (const int count : saturated) EXPECT_GT(count, 0) << "a low range never saturates";
}

}  // namespace
}  // namespace ostrel::sim::test
