// The module name list at its limits, and modules coming and going.
#include <cstring>

#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

// A name list buffer of `size` bytes followed by guard bytes that must stay untouched.
struct NameBuffer {
    explicit NameBuffer(size_t size) : size(size), bytes(size + 16, '\xEE') {}

    bool guardIntact() const {
        return std::all_of(bytes.begin() + static_cast<long>(size), bytes.end(),
                           [](char c) { return c == '\xEE'; });
    }
    size_t size;
    std::vector<char> bytes;
};

std::string find(SimulatedBus &bus, NameBuffer &buffer) {
    EXPECT_NE(bus.UsbFindModules(buffer.bytes.data(), static_cast<uint32_t>(buffer.size)), 0);
    EXPECT_TRUE(buffer.guardIntact());
    // Walk the names up to the empty one, as the program does, never past the buffer.
    size_t at = 0;
    while (at < buffer.size && buffer.bytes[at] != '\0') {
        at += strnlen(&buffer.bytes[at], buffer.size - at) + 1;
    }
    return std::string(buffer.bytes.data(), std::min(at + 1, buffer.size));
}

TEST(NameList, EmptyBusGivesAnEmptyList) {
    SimulatedBus bus;
    NameBuffer buffer(512);
    EXPECT_NE(bus.UsbFindModules(buffer.bytes.data(), 512), 0);
    EXPECT_EQ(buffer.bytes[0], '\0');
    EXPECT_EQ(buffer.bytes[1], '\xEE');  // nothing written after the terminator
}

TEST(NameList, TwoModulesInTheOrderTheyWerePlugged) {
    SimulatedBus bus({plainModule("ZED"), plainModule("ALPHA")});
    NameBuffer buffer(512);
    EXPECT_EQ(find(bus, buffer), std::string("ZED\0ALPHA\0\0", 11));
}

TEST(NameList, ListThatFillsTheBufferExactly) {
    SimulatedBus bus({plainModule("AB"), plainModule("CDE")});
    NameBuffer buffer(8);  // "AB\0CDE\0\0"
    EXPECT_EQ(find(bus, buffer), std::string("AB\0CDE\0\0", 8));
}

TEST(NameList, NamesThatDoNotFitAreLeftOffAndTheListStaysTerminated) {
    SimulatedBus bus({plainModule("AB"), plainModule("CDE")});
    NameBuffer seven(7);
    EXPECT_EQ(find(bus, seven), std::string("AB\0\0", 4));
    NameBuffer one(1);
    EXPECT_EQ(find(bus, one), std::string("\0", 1));
}

TEST(NameList, NoBufferIsRefused) {
    SimulatedBus bus({plainModule("AB")});
    char byte = 'x';
    EXPECT_EQ(bus.UsbFindModules(&byte, 0), 0);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(bus.UsbFindModules(nullptr, 512), 0);
    EXPECT_EQ(lastError(bus), kUsbErrorInvalidArgument);
}

TEST(NameList, ManyModulesNeverOverrunTheProgramsBuffer) {
    SimulatedBus bus;
    for (int i = 0; i < 60; ++i) bus.plug(plainModule("RECEIVER-MODULE-" + std::to_string(i)));
    NameBuffer buffer(512);
    const std::string list = find(bus, buffer);
    EXPECT_LE(list.size(), 512u);
    EXPECT_EQ(list.substr(0, 18), std::string("RECEIVER-MODULE-0\0", 18));
}

TEST(NameList, DefaultModulesInTheirOrder) {
    SimulatedBus bus(modulesFromEnvironment(nullptr));
    NameBuffer buffer(512);
    EXPECT_EQ(find(bus, buffer),
              std::string("SIM-8CH\0SIM-4CH\0SIM-16CH\0SIM-32CH\0SIM-STEER\0\0", 45));
}

TEST(NameList, PluggedAndUnpluggedModulesShowAtTheNextFind) {
    auto clock = std::make_shared<ManualClock>(1s);
    SimulatedBus bus({plainModule("A"), withConfig("GONE-SOON:unplug=1500")}, clock);
    NameBuffer buffer(512);
    EXPECT_EQ(find(bus, buffer), std::string("A\0GONE-SOON\0\0", 13));
    EXPECT_TRUE(bus.plug(plainModule("B")));
    EXPECT_FALSE(bus.plug(plainModule("B")));
    EXPECT_EQ(find(bus, buffer), std::string("A\0GONE-SOON\0B\0\0", 15));
    clock->advance(1500ms);
    EXPECT_EQ(find(bus, buffer), std::string("A\0B\0\0", 5));
    EXPECT_TRUE(bus.unplug("A"));
    EXPECT_EQ(find(bus, buffer), std::string("B\0\0", 3));
}

}  // namespace
}  // namespace ostrel::sim::test
