// The port word of a simulated module and the reads before the stream runs.
#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimPort, FreshModuleReportsTheSyncBitOnly) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    uint16_t word = 0xFFFF, length = 2;
    ASSERT_NE(rig.bus.UsbReadPort(rig.handle, 0, &word, &length), 0);
    EXPECT_EQ(word, kSyncBit);
    EXPECT_EQ(length, 2);
}

TEST(SimPort, WrittenBitsReadBackAndTheSyncBitIsTheReceivers) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    rig.writePort(0xA5F0);
    EXPECT_EQ(rig.readPort(), 0xA5F0 | kSyncBit);
    rig.writePort(0x0000);
    EXPECT_EQ(rig.readPort(), kSyncBit);  // the program cannot clear the receiver's sync bit
    rig.writePort(0xFFFF);
    EXPECT_EQ(rig.readPort(), 0xFFFF);
}

TEST(SimPort, OneByteAccessTouchesTheLowByteOnly) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    rig.writePort(0x1200);
    uint16_t low = 0x0034;
    ASSERT_NE(rig.bus.UsbWritePort(rig.handle, 0, &low, 1), 0);
    EXPECT_EQ(rig.readPort(), 0x1234 | kSyncBit);
    uint16_t word = 0, length = 1;
    ASSERT_NE(rig.bus.UsbReadPort(rig.handle, 0, &word, &length), 0);
    EXPECT_EQ(word, (0x34 | kSyncBit) & 0xFF);
}

TEST(SimPort, OnlyPortZeroWithOneOrTwoBytesIsAccepted) {
    ManualRig rig(1s);
    rig.attach(plainModule("M"));
    uint16_t word = 0, length = 2;
    EXPECT_EQ(rig.bus.UsbReadPort(rig.handle, 1, &word, &length), 0);
    EXPECT_EQ(lastError(rig.bus), kUsbErrorInvalidArgument);
    length = 3;
    EXPECT_EQ(rig.bus.UsbReadPort(rig.handle, 0, &word, &length), 0);
    EXPECT_EQ(rig.bus.UsbWritePort(rig.handle, 0, &word, 0), 0);
    EXPECT_EQ(rig.bus.UsbWritePort(rig.handle, 0, nullptr, 2), 0);
    EXPECT_EQ(rig.bus.UsbReadPort(rig.handle, 0, nullptr, &length), 0);
}

TEST(SimPort, StreamRunsOnlyWhileBothRunBitsAreSet) {
    ManualRig rig(1s);
    rig.attach(plainModule("M", 8, 640));
    Block block{};
    const uint8_t id = rig.queue(block.data());
    rig.clock->advance(10s);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);  // queued before the run bits: no data yet
    rig.writePort(0x0001);
    rig.clock->advance(10s);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);  // one run bit is not enough
    rig.writePort(0x0101 | 0x0040);
    // The stream starts at the write, so the first block needs one block time from now.
    rig.clock->advance(blockTime(640) - 1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorPending);
    rig.clock->advance(1us);
    EXPECT_EQ(rig.poll(id), kUsbErrorNone);
    EXPECT_EQ(rig.readPort(), 0x0143);
}

TEST(SimPort, WarmUpReadsReturnAtOnceBeforeTheRunBits) {
    SteppingRig rig(1ms);
    rig.attach(plainModule("M", 8, 160));
    std::array<uint8_t, 4096> idle{};
    uint32_t length = 512;
    const Nanos start = rig.clock->peek();
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    ASSERT_NE(rig.bus.UsbReadData(rig.handle, idle.data(), &length), 0);
    EXPECT_EQ(length, 512u);
    EXPECT_LT(rig.clock->peek() - start, 100ms);  // no wait for a time-out
    for (size_t w = 0; w < 256; ++w) EXPECT_EQ(wordAt(idle.data(), w) & 0x000F, 0) << w;
    EXPECT_EQ(std::count(idle.begin() + 512, idle.end(), 0), 4096 - 512);  // never past length
}

// The calls of a measurement start, in the acquisition thread's order.
TEST(SimPort, MeasurementStartSequenceQueuesSixteenReads) {
    ManualRig rig(1s);
    rig.attach(plainModule("M", 8, 160));
    std::array<uint8_t, 4096> idle{};
    uint32_t length = 512;
    rig.bus.UsbReadData(rig.handle, idle.data(), &length);
    rig.bus.UsbReadData(rig.handle, idle.data(), &length);
    rig.setTimeout(2000);
    uint16_t port = 0, portLength = 2;
    ASSERT_NE(rig.bus.UsbReadPort(rig.handle, 0, &port, &portLength), 0);
    ASSERT_EQ(port & kSyncBit, kSyncBit);
    port |= kRunBits;
    ASSERT_NE(rig.bus.UsbWritePort(rig.handle, 0, &port, 2), 0);
    std::vector<Block> ring(16);
    for (Block &block : ring) rig.queue(block.data());
    port &= 0xFEFE;
    ASSERT_NE(rig.bus.UsbWritePort(rig.handle, 0, &port, 2), 0);
    EXPECT_NE(rig.bus.UsbClose(rig.handle), 0);
}

}  // namespace
}  // namespace ostrel::sim::test
