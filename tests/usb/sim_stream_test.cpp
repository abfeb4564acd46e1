// Pacing and framing of the simulated stream, driven by injected clocks.
#include <thread>

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

TEST(SimStream, BlockPeriodFollowsTheLinkSpeed) {
    EXPECT_EQ(blockTime(160), 163200us);
    EXPECT_EQ(blockTime(640), 40800us);
    for (const int kbps : {40, 160, 320, 640}) {
        SCOPED_TRACE(kbps);
        ManualRig rig(1s);
        rig.attach(plainModule("M", 8, kbps));
        Block first{}, second{};
        rig.setRunBits(true);
        const uint8_t a = rig.queue(first.data());
        const uint8_t b = rig.queue(second.data());
        rig.clock->advance(blockTime(kbps) - 1ns);
        EXPECT_EQ(rig.poll(a), kUsbErrorPending);
        rig.clock->advance(1ns);
        uint32_t bytes = 0;
        EXPECT_EQ(rig.poll(a, &bytes), kUsbErrorNone);
        EXPECT_EQ(bytes, kBlockBytes);
        rig.clock->advance(blockTime(kbps) - 1ns);
        EXPECT_EQ(rig.poll(b), kUsbErrorPending);
        rig.clock->advance(1ns);
        EXPECT_EQ(rig.poll(b), kUsbErrorNone);
    }
}

TEST(SimStream, PaceFactorScalesTheBlockPeriod) {
    ManualRig rig(1s);
    rig.attach(withConfig("M:kbps=160,pace=4"));
    Block block{};
    rig.setRunBits(true);
    const uint8_t id = rig.queue(block.data());
    rig.clock->advance(blockTime(160) / 4 - 1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);
    rig.clock->advance(1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorNone);
}

TEST(SimStream, FastPaceCompletesReadsAsSoonAsTheyAreWaitedFor) {
    ManualRig rig(1s);
    const ModuleConfig config = withConfig("M:words=16,pace=fast");
    rig.attach(config);
    rig.setRunBits(true);
    std::vector<Block> blocks(16);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    for (size_t k = 0; k < blocks.size(); ++k) {
        ASSERT_EQ(rig.wait(ids[k]), kUsbErrorNone);
        EXPECT_EQ(blocks[k], expectedBlock(config, k * framesPerBlock(config)));
    }
}

TEST(SimStream, BlocksAreConsecutiveWholeFramesOfTheSignal) {
    ManualRig rig(1s);
    const ModuleConfig config = plainModule("M", 32, 640);
    rig.attach(config);
    rig.setRunBits(true);
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

TEST(SimStream, SteeringFramesStayAlignedInEveryBlock) {
    ManualRig rig(1s);
    rig.attach(withConfig("STEER:signal=steering,pace=fast"));
    rig.setRunBits(true);
    Block odd{};
    ASSERT_EQ(rig.wait(rig.queue(odd.data(), 70)), kUsbErrorNone);
    for (int round = 0; round < 20; ++round) {
        Block block{};
        ASSERT_EQ(rig.wait(rig.queue(block.data())), kUsbErrorNone);
        for (size_t frame = 0; frame < 64; ++frame) {
            const uint8_t *f = block.data() + frame * 64;
            ASSERT_EQ(wordAt(f, 30), 0x8000);
            ASSERT_EQ(wordAt(f, 31), 0x8000);
            for (size_t w = 0; w < 10; ++w) ASSERT_EQ(wordAt(f, w), wordAt(f, w + 10));
        }
    }
}

TEST(SimStream, SixteenReadsInFlightCompleteInQueueOrder) {
    ManualRig rig(1s);
    const ModuleConfig config = plainModule("M", 8, 160);
    rig.attach(config);
    rig.setRunBits(true);
    std::vector<Block> blocks(16);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));

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
    const ModuleConfig config = plainModule("M", 8, 160);
    rig.attach(config);
    rig.setRunBits(true);
    std::vector<Block> ring(16);
    std::vector<uint8_t> ids;
    for (Block &block : ring) ids.push_back(rig.queue(block.data()));
    rig.clock->advance(10s);  // 10 s = 61.27 block times

    int caughtUp = 0;
    for (size_t k = 0;; k = (k + 1) % ring.size()) {
        if (rig.poll(ids[k]) != kUsbErrorNone) break;
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
    rig.attach(plainModule("M", 8, 160));
    rig.setRunBits(true);
    std::vector<Block> blocks(16);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    rig.clock->advance(blockTime(160) * 5 / 2);
    rig.setRunBits(false);

    uint32_t bytes = 0;
    EXPECT_EQ(rig.poll(ids[0], &bytes), kUsbErrorNone);
    EXPECT_EQ(bytes, kBlockBytes);
    EXPECT_EQ(rig.poll(ids[1]), kUsbErrorNone);
    EXPECT_EQ(rig.poll(ids[2], &bytes), kUsbErrorNone);
    EXPECT_EQ(bytes, kBlockBytes / 2);  // the half block the link had carried
    for (int k = 3; k < 16; ++k) EXPECT_EQ(rig.wait(ids[k]), kUsbErrorStreamStopped) << k;
}

TEST(SimStream, DrainingSixteenReadsTakesAtMostSixteenBlockTimes) {
    SteppingRig rig(50us);
    rig.attach(plainModule("M", 32, 640));
    rig.setTimeout(2000);
    rig.setRunBits(true);
    std::vector<Block> blocks(16);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    const Nanos start = rig.clock->peek();
    for (const uint8_t id : ids) ASSERT_EQ(rig.wait(id), kUsbErrorNone);
    EXPECT_LE(rig.clock->peek() - start, 16 * blockTime(640) + 1ms);
}

TEST(SimStream, WaitTimesOutAndTheReadIsCancelled) {
    SteppingRig rig(100us);
    const ModuleConfig config = plainModule("M", 8, 160);
    rig.attach(config);
    rig.setTimeout(10);
    rig.setRunBits(true);
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
    const uint8_t nextId = rig.queue(next.data());
    EXPECT_EQ(rig.wait(nextId), kUsbErrorNone);
    EXPECT_EQ(next, expectedBlock(config, 0));
}

TEST(SimStream, BlockingReadWhileStreamingQueuesBehindTheAsyncReads) {
    SteppingRig rig(100us);
    const ModuleConfig config = plainModule("M", 8, 640);
    rig.attach(config);
    rig.setRunBits(true);
    Block async{}, blocking{};
    const uint8_t id = rig.queue(async.data());
    uint32_t length = kBlockBytes;
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, blocking.data(), &length), 0);
    EXPECT_EQ(length, kBlockBytes);
    EXPECT_EQ(rig.poll(id), kUsbErrorNone);
    EXPECT_EQ(async, expectedBlock(config, 0));
    EXPECT_EQ(blocking, expectedBlock(config, framesPerBlock(config)));
}

TEST(SimStream, TransactionIdentifiersAreReusedOnlyWhenFree) {
    ManualRig rig(1s);
    rig.attach(withConfig("M:pace=fast"));
    std::vector<Block> blocks(256);
    std::vector<uint8_t> ids;
    for (Block &block : blocks) ids.push_back(rig.queue(block.data()));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
    uint32_t length = kBlockBytes;
    uint8_t id = 0;
    Block extra{};
    EXPECT_EQ(rig.bus.UsbReadDataAsync(rig.handle, extra.data(), &length, &id), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorTooManyTransfers);
}

TEST(SimStream, CloseCancelsReadsInFlightAndWakesTheWaiter) {
    ManualRig rig(1s);
    rig.attach(plainModule("M", 8, 160));
    rig.setRunBits(true);
    auto blocks = std::make_unique<std::vector<Block>>(16);
    std::vector<uint8_t> ids;
    for (Block &block : *blocks) ids.push_back(rig.queue(block.data()));
    rig.setTimeout(60'000);

    std::atomic<uint32_t> waitError{kUsbErrorNone};
    std::thread waiter([&] { waitError = rig.wait(ids[0]); });
    std::this_thread::sleep_for(20ms);
    ASSERT_NE(rig.bus.UsbClose(rig.handle), 0);
    blocks.reset();  // a late write into a buffer would now be caught by AddressSanitizer
    waiter.join();
    EXPECT_TRUE(waitError == kUsbErrorCancelled || waitError == kUsbErrorInvalidHandle)
        << waitError;
    rig.clock->advance(10s);
    EXPECT_EQ(rig.wait(ids[1]), kUsbErrorInvalidHandle);
}

// The acquisition thread's loop, on a real clock: waits in ring order and re-queues into the same
// buffer, while another thread closes the module.
TEST(SimStream, RingOnARealClockSurvivesCloseFromAnotherThread) {
    SimulatedBus bus({withConfig("M:words=32,kbps=640,pace=50")});
    void *handle = nullptr;
    ASSERT_NE(bus.UsbOpen(&handle, "M"), 0);
    uint16_t run = kRunBits;
    ASSERT_NE(bus.UsbWritePort(handle, 0, &run, 2), 0);
    auto ring = std::make_unique<std::vector<Block>>(16);
    std::array<uint8_t, 16> ids{};
    uint32_t length = kBlockBytes;
    for (size_t k = 0; k < 16; ++k) {
        ASSERT_NE(bus.UsbReadDataAsync(handle, (*ring)[k].data(), &length, &ids[k]), 0);
    }
    Block *const buffers = ring->data();  // the consumer never dereferences the vector
    std::atomic<int> completed{0};
    std::atomic<bool> ended{false};
    std::thread consumer([&] {
        for (size_t k = 0;; k = (k + 1) % 16) {
            uint32_t bytes = 0;
            if (bus.UsbAsyncWait(handle, &bytes, ids[k], 0) == 0) {
                ended = true;
                return;
            }
            ++completed;
            uint32_t again = kBlockBytes;
            bus.UsbReadDataAsync(handle, buffers[k].data(), &again, &ids[k]);
        }
    });
    while (completed < 40 && !ended) std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(ended) << "a wait failed before the close";
    ASSERT_NE(bus.UsbClose(handle), 0);
    ring.reset();
    consumer.join();
    EXPECT_GE(completed.load(), 40);
}

}  // namespace
}  // namespace ostrel::sim::test
