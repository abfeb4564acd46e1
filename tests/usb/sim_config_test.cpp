// The OSTREL_SIM grammar.
#include "sim_test_support.h"

namespace ostrel::sim::test {
namespace {

TEST(SimConfig, UnsetGivesTheFiveDefaultModules) {
    const std::vector<ModuleConfig> modules = modulesFromEnvironment(nullptr);
    ASSERT_EQ(modules.size(), 5u);
    const struct {
        const char *name;
        int words, kbps;
        SignalKind signal;
    } expected[] = {{"SIM-8CH", 8, 160, SignalKind::Plain},
                    {"SIM-4CH", 4, 40, SignalKind::Plain},
                    {"SIM-16CH", 16, 320, SignalKind::Plain},
                    {"SIM-32CH", 32, 640, SignalKind::Plain},
                    {"SIM-STEER", 32, 640, SignalKind::Steering}};
    for (size_t i = 0; i < modules.size(); ++i) {
        EXPECT_EQ(modules[i].name, expected[i].name);
        EXPECT_EQ(modules[i].wordsPerFrame, expected[i].words);
        EXPECT_EQ(modules[i].kbps, expected[i].kbps);
        EXPECT_EQ(modules[i].signal, expected[i].signal);
        EXPECT_FALSE(modules[i].pace.fast);
        EXPECT_EQ(modules[i].pace.factor, 1.0);
    }
}

TEST(SimConfig, SetButEmptyGivesNoModules) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(modulesFromEnvironment("").empty());
    EXPECT_TRUE(modulesFromEnvironment(" ; ").empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(SimConfig, EveryKeyIsParsed) {
    const SimConfig config = parseSimConfig(
        " RX-1 : words=32, kbps=640 ,signal=plain,seed=7,pace=2.5,nosync,openfail,failblock=3,"
        "queuefail=2,unplug=1500ms,stall=9 ; RX-2:pace=fast,unplug=2s;RX-3:queuefail,unplug=250;"
        "RX-4");
    ASSERT_TRUE(config.problems.empty()) << config.problems.front();
    ASSERT_EQ(config.modules.size(), 4u);
    const ModuleConfig &a = config.modules[0];
    EXPECT_EQ(a.name, "RX-1");
    EXPECT_EQ(a.wordsPerFrame, 32);
    EXPECT_EQ(a.kbps, 640);
    EXPECT_EQ(a.seed, 7u);
    EXPECT_EQ(a.pace.factor, 2.5);
    EXPECT_TRUE(a.faults.noSync);
    EXPECT_TRUE(a.faults.openFails);
    EXPECT_EQ(a.faults.failBlock, 3u);
    EXPECT_EQ(a.faults.queueFail, 2u);
    EXPECT_EQ(a.faults.unplugAfter, 1500ms);
    EXPECT_EQ(a.faults.stallAfter, 9u);
    EXPECT_TRUE(config.modules[1].pace.fast);
    EXPECT_EQ(config.modules[1].faults.unplugAfter, 2s);
    EXPECT_EQ(config.modules[2].faults.queueFail, 1u);
    EXPECT_EQ(config.modules[2].faults.unplugAfter, 250ms);
    const ModuleConfig &plain = config.modules[3];
    EXPECT_EQ(plain.wordsPerFrame, 8);
    EXPECT_EQ(plain.kbps, 160);
    EXPECT_FALSE(plain.faults.noSync || plain.faults.openFails || plain.faults.stallAfter);
}

TEST(SimConfig, SteeringDefaultsToThirtyTwoWordsAt640Kbps) {
    const SimConfig config = parseSimConfig(
        "S:signal=steering;T:signal=steering,kbps=160;"
        "U:signal=steering,words=8");
    ASSERT_EQ(config.modules.size(), 2u);
    EXPECT_EQ(config.modules[0].wordsPerFrame, 32);
    EXPECT_EQ(config.modules[0].kbps, 640);
    EXPECT_EQ(config.modules[1].kbps, 160);
    ASSERT_EQ(config.problems.size(), 1u);
    EXPECT_NE(config.problems[0].find("U:signal=steering,words=8"), std::string::npos);
}

TEST(SimConfig, MalformedPartsAreNamedAndTheRestIsKept) {
    const SimConfig config = parseSimConfig(
        "GOOD:words=4;BAD:words=7;:kbps=10;X:colour=red;Y:pace=0;Z:nosync=1;GOOD:kbps=40;"
        "K:kbps=fast;F:failblock=0;W:words;OK2");
    ASSERT_EQ(config.modules.size(), 2u);
    EXPECT_EQ(config.modules[0].name, "GOOD");
    EXPECT_EQ(config.modules[1].name, "OK2");
    const char *badParts[] = {"BAD:words=7", ":kbps=10",      "X:colour=red",
                              "Y:pace=0",    "Z:nosync=1",    "GOOD:kbps=40",
                              "K:kbps=fast", "F:failblock=0", "W:words"};
    ASSERT_EQ(config.problems.size(), std::size(badParts));
    for (size_t i = 0; i < std::size(badParts); ++i) {
        EXPECT_NE(config.problems[i].find(badParts[i]), std::string::npos) << config.problems[i];
    }
    EXPECT_NE(config.problems[2].find("colour"), std::string::npos);
}

TEST(SimConfig, MalformedValueGivesOneMessageOnStderr) {
    testing::internal::CaptureStderr();
    const std::vector<ModuleConfig> modules = modulesFromEnvironment("A;B:words=5;C:stall=x");
    const std::string message = testing::internal::GetCapturedStderr();
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].name, "A");
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_NE(message.find("OSTREL_SIM"), std::string::npos);
    EXPECT_NE(message.find("B:words=5"), std::string::npos);
    EXPECT_NE(message.find("C:stall=x"), std::string::npos);
}

}  // namespace
}  // namespace ostrel::sim::test
