// The window program's command line.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

CommandLine parse(std::vector<std::string_view> args) {
    return parseCommandLine(args);
}

TEST(CommandLine, OptionsOfOursAndQtsOwn) {
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"--replay", "/r/a.dat"}).replayPath, std::optional<std::string>("/r/a.dat"));
    EXPECT_EQ(parse({"--replay=/r/b.dat"}).replayPath, std::optional<std::string>("/r/b.dat"));
    EXPECT_TRUE(parse({"-platform", "offscreen"}).error.empty()) << "Qt's options are Qt's";
    EXPECT_NE(parse({"--replay"}).error.find("--replay needs"), std::string::npos);
    EXPECT_NE(parse({"--replay="}).error.find("--replay needs"), std::string::npos);
    EXPECT_NE(parse({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
    EXPECT_NE(usageText().find("OSTREL_MODULE_LIBRARY"), std::string::npos);
    EXPECT_EQ(versionText(), "ostrel 1.3.1\n");
}

}  // namespace
}  // namespace ostrel
