// The OSTREL_SIM grammar (the name list at the buffers' limits: the sim_config fuzz target).
#include <algorithm>
#include <tuple>

#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimConfig, EveryKeyIsParsed) {
    const SimConfig config = parseSimConfig(
        " RX-1 : words=32, kbps=640 ,signal=plain,seed=7,pace=2.5,nosync,openfail,failblock=3,"
        "queuefail=2,unplug=1500ms,stall=9,fifo=67108864 ; RX-2:pace=fast,unplug=2s;"
        "RX-3:queuefail,unplug=250,fifo=16;"
        "RX-4;S:signal=steering");
    ASSERT_TRUE(config.problems.empty()) << config.problems.front();
    ASSERT_EQ(config.modules.size(), 5u);
    const ModuleConfig &a = config.modules[0];
    EXPECT_EQ(std::tuple(a.name, a.wordsPerFrame, a.kbps, a.seed, a.pace.factor),
              std::tuple("RX-1", 32, 640, 7u, 2.5));
    EXPECT_TRUE(a.faults.noSync && a.faults.openFails);
    EXPECT_EQ(std::tuple(a.faults.failBlock, a.faults.queueFail, a.faults.stallAfter),
              std::tuple(3u, 2u, 9u));
    EXPECT_EQ(a.faults.unplugAfter, 1500ms);
    EXPECT_EQ(a.fifoBytes, 64u << 20);
    EXPECT_TRUE(config.modules[1].pace.fast);
    EXPECT_EQ(config.modules[1].faults.unplugAfter, 2s);
    EXPECT_EQ(config.modules[2].faults.queueFail, 1u);
    EXPECT_EQ(config.modules[2].faults.unplugAfter, 250ms);
    EXPECT_EQ(config.modules[2].fifoBytes, 16u);  // one frame of 8 words
    const ModuleConfig &plain = config.modules[3];
    EXPECT_EQ(std::tuple(plain.wordsPerFrame, plain.kbps, plain.fifoBytes),
              std::tuple(8, 160, 16384u));
    EXPECT_FALSE(plain.faults.noSync || plain.faults.openFails || plain.faults.stallAfter);
    EXPECT_EQ(std::tuple(config.modules[4].wordsPerFrame, config.modules[4].kbps),
              std::tuple(32, 640));  // steering defaults
}

TEST(SimConfig, MalformedModulesAreNamedInOneMessageAndTheRestAreKept) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(modulesFromEnvironment("").empty());
    EXPECT_TRUE(modulesFromEnvironment(" ; ").empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const char *badParts[] = {
        "BAD:words=7",      ":kbps=10",    "X:colour=red",  "Y:pace=0", "Z:nosync=1",
        "GOOD:kbps=40",     "K:kbps=fast", "F:failblock=0", "W:words",  "U:signal=steering,words=8",
        "B0:fifo=67108865", "B1:fifo=-1",  "B2:fifo=0",     "B3:fifo",  "B4:fifo=32,words=32"};
    std::string value = "GOOD:words=4;";
    for (const char *part : badParts) value += std::string(part) + ";";
    value += "OK2";
    EXPECT_EQ(parseSimConfig(value).problems.size(), std::size(badParts));
    testing::internal::CaptureStderr();
    const std::vector<ModuleConfig> modules = modulesFromEnvironment(value.c_str());
    const std::string message = testing::internal::GetCapturedStderr();
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0].name + "," + modules[1].name, "GOOD,OK2");
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_NE(message.find("OSTREL_SIM"), std::string::npos) << message;
    for (const char *part : badParts) EXPECT_NE(message.find(part), std::string::npos) << part;
    for (const char *reason : {"fifo must be a number", "fifo must hold one frame, 64 bytes"}) {
        EXPECT_NE(message.find(reason), std::string::npos) << reason;
    }
}

}  // namespace
}  // namespace ostrel::sim::test
