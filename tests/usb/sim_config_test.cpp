// The OSTREL_SIM grammar and the module name list.
#include <algorithm>
#include <cstring>
#include <tuple>

#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimConfig, EveryKeyIsParsed) {
    const SimConfig config = parseSimConfig(
        " RX-1 : words=32, kbps=640 ,signal=plain,seed=7,pace=2.5,nosync,openfail,failblock=3,"
        "queuefail=2,unplug=1500ms,stall=9 ; RX-2:pace=fast,unplug=2s;RX-3:queuefail,unplug=250;"
        "RX-4;S:signal=steering;T:signal=steering,kbps=160");
    ASSERT_TRUE(config.problems.empty()) << config.problems.front();
    ASSERT_EQ(config.modules.size(), 6u);
    const ModuleConfig &a = config.modules[0];
    EXPECT_EQ(std::tuple(a.name, a.wordsPerFrame, a.kbps, a.seed, a.pace.factor),
              std::tuple("RX-1", 32, 640, 7u, 2.5));
    EXPECT_TRUE(a.faults.noSync && a.faults.openFails);
    EXPECT_EQ(std::tuple(a.faults.failBlock, a.faults.queueFail, a.faults.stallAfter),
              std::tuple(3u, 2u, 9u));
    EXPECT_EQ(a.faults.unplugAfter, 1500ms);
    EXPECT_TRUE(config.modules[1].pace.fast);
    EXPECT_EQ(config.modules[1].faults.unplugAfter, 2s);
    EXPECT_EQ(config.modules[2].faults.queueFail, 1u);
    EXPECT_EQ(config.modules[2].faults.unplugAfter, 250ms);
    const ModuleConfig &plain = config.modules[3];
    EXPECT_EQ(std::tuple(plain.wordsPerFrame, plain.kbps), std::tuple(8, 160));
    EXPECT_FALSE(plain.faults.noSync || plain.faults.openFails || plain.faults.stallAfter);
    EXPECT_EQ(std::tuple(config.modules[4].wordsPerFrame, config.modules[4].kbps),
              std::tuple(32, 640));  // steering defaults
    EXPECT_EQ(config.modules[5].kbps, 160);
}

TEST(SimConfig, MalformedPartsAreNamedAndTheRestIsKept) {
    const SimConfig config = parseSimConfig(
        "GOOD:words=4;BAD:words=7;:kbps=10;X:colour=red;Y:pace=0;Z:nosync=1;GOOD:kbps=40;"
        "K:kbps=fast;F:failblock=0;W:words;U:signal=steering,words=8;OK2");
    ASSERT_EQ(config.modules.size(), 2u);
    EXPECT_EQ(config.modules[0].name, "GOOD");
    EXPECT_EQ(config.modules[1].name, "OK2");
    const char *badParts[] = {
        "BAD:words=7",  ":kbps=10",    "X:colour=red",  "Y:pace=0", "Z:nosync=1",
        "GOOD:kbps=40", "K:kbps=fast", "F:failblock=0", "W:words",  "U:signal=steering,words=8"};
    ASSERT_EQ(config.problems.size(), std::size(badParts));
    for (size_t i = 0; i < std::size(badParts); ++i) {
        EXPECT_NE(config.problems[i].find(badParts[i]), std::string::npos) << config.problems[i];
    }
    EXPECT_NE(config.problems[2].find("colour"), std::string::npos);
}

TEST(SimConfig, EnvironmentValueGivesOneMessageOnlyWhenMalformed) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(modulesFromEnvironment("").empty());
    EXPECT_TRUE(modulesFromEnvironment(" ; ").empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testing::internal::CaptureStderr();
    const std::vector<ModuleConfig> modules = modulesFromEnvironment("A;B:words=5;C:stall=x");
    const std::string message = testing::internal::GetCapturedStderr();
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "A");
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    for (const char *part : {"OSTREL_SIM", "B:words=5", "C:stall=x"}) {
        EXPECT_NE(message.find(part), std::string::npos) << message;
    }
}

// Fills a buffer of `size` bytes followed by guard bytes; the list must end with its empty name
// and nothing past `size` may be written.
std::string findModules(SimulatedBus &bus, uint32_t size) {
    std::vector<char> bytes(size + 16, '\xEE');
    EXPECT_NE(bus.UsbFindModules(bytes.data(), size), 0);
    EXPECT_TRUE(std::all_of(bytes.begin() + size, bytes.end(), [](char c) { return c == '\xEE'; }));
    return listedNames(bytes.data(), size);
}

// Rows name the modules by an OSTREL_SIM value (null: unset, the default modules).
TEST(NameList, ListsAtTheBuffersLimits) {
    const struct {
        const char *modules;
        uint32_t size;
        std::string expected;
    } rows[] = {
        {"", 512, std::string("\0", 1)},
        {"ZED;ALPHA", 512, std::string("ZED\0ALPHA\0\0", 11)},  // plugging order
        {"AB;CDE", 8, std::string("AB\0CDE\0\0", 8)},           // fills the buffer exactly
        {"AB;CDE", 7, std::string("AB\0\0", 4)},                // a name that does not fit
        {"AB;CDE", 1, std::string("\0", 1)},
        {nullptr, 512, std::string("SIM-8CH\0SIM-4CH\0SIM-16CH\0SIM-32CH\0SIM-STEER\0\0", 45)},
    };
    for (const auto &row : rows) {
        SimulatedBus bus(modulesFromEnvironment(row.modules));
        EXPECT_EQ(findModules(bus, row.size), row.expected) << row.size;
    }
    SimulatedBus many;
    for (int i = 0; i < 60; ++i) many.plug(simModule("RECEIVER-MODULE-" + std::to_string(i)));
    const std::string list = findModules(many, 512);  // cut, and still terminated
    EXPECT_EQ(list.substr(0, 18), std::string("RECEIVER-MODULE-0\0", 18));
    EXPECT_EQ(list.substr(list.size() - 2), std::string(2, '\0'));

    char byte = 'x';
    EXPECT_EQ(many.UsbFindModules(&byte, 0), 0);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(many.UsbFindModules(nullptr, 512), 0);
    EXPECT_EQ(lastError(many), kUsbErrorInvalidArgument);
    // The first default module matches the default telemetry type and speed.
    const ModuleConfig first = modulesFromEnvironment(nullptr).front();
    EXPECT_EQ(std::tuple(first.wordsPerFrame, first.kbps), std::tuple(8, 160));
}

}  // namespace
}  // namespace ostrel::sim::test
