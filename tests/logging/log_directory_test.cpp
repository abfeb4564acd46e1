// Choosing the log directory, its 260-byte record in "log_path.dat", and finding it again
// after a restart. Each test runs in its own temporary working directory.
#include "logging/log_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logging/log_path_record.h"
#include "panel/ostrel_panel.h"
#include "support/scratch_directory.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

class LogDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::current_path(temp);
        ui::headlessFrontend()->reset();  // messages and dialogs are then kept across restarts
        restart();
    }
    void TearDown() override {
        ui::discardPanel(panelHandle.exchange(0));
        std::error_code ignored;
        fs::current_path(previous, ignored);
    }

    // A new program start as far as the log directory goes: a fresh panel and read_log_path.
    void restart() {
        ui::discardPanel(panelHandle.exchange(0));
        panelHandle = ui::loadPanel(mainPanelDescription());
        ui::installControlCallback(panelHandle, LOGPATHBUTTON, selectLogPath, nullptr);
        read_log_path();
    }
    // The operator presses "Path" and the dialog answers `answer` (nullopt: Cancel).
    void choose(std::optional<std::string> answer) {
        ui::headlessFrontend()->scriptDirectory(std::move(answer));
        ASSERT_TRUE(ui::operatorPressButton(panelHandle, LOGPATHBUTTON));
    }
    std::string logPath() const { return ui::controlState(panelHandle, LOGPATH)->text(); }
    std::vector<ui::RecordedMessage> messages() const { return ui::headlessFrontend()->messages(); }
    void expectOnePathError(const std::string &mentioning) {
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0].title, "Path Error");
        EXPECT_NE(messages()[0].text.find(mentioning), std::string::npos) << messages()[0].text;
    }
    static void writeFile(std::string b) { std::ofstream(log_path_file, std::ios::binary) << b; }
    static std::string readFile() {
        std::ifstream in(log_path_file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string recordOf(std::string p) { return p + std::string(260 - p.size(), '\0'); }

    const fs::path previous = fs::current_path();
    const test::ScratchDirectory scratch;
    const fs::path temp = scratch.path();
};

TEST_F(LogDirectory, ChoiceIsSavedAndBackAfterRestartAndCancelChangesNothing) {
    choose(std::nullopt);
    EXPECT_EQ(logPath(), defaultLogDirectory());
    EXPECT_FALSE(fs::exists(log_path_file)) << "neither start-up nor cancel creates it";
    choose("/data/ostrel logs");
    EXPECT_EQ(ui::headlessFrontend()->directoryDialogTitles(),
              std::vector<std::string>(2, "Log-Directory"));
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_EQ(readFile(), recordOf("/data/ostrel logs"));
    choose(std::nullopt);
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    restart();
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_EQ(readFile(), recordOf("/data/ostrel logs"));
    EXPECT_TRUE(messages().empty());
}

TEST_F(LogDirectory, RecordIsRewrittenTo260BytesAndALongerPathIsRefused) {
    writeFile(std::string(300, 'x'));
    const std::string longest = "/" + std::string(258, 'd');
    choose(longest);
    EXPECT_EQ(readFile(), recordOf(longest));
    choose("/kept");
    EXPECT_EQ(readFile(), recordOf("/kept")) << "no tail of the longer path";
    choose(longest + "d");
    EXPECT_EQ(logPath(), "/kept");
    // A zero byte inside would cut the path: refused too.
    EXPECT_EQ(writeLogPathFile(log_path_file, "/a\0b"s), std::errc::filename_too_long);
    EXPECT_EQ(readFile(), recordOf("/kept"));
    expectOnePathError("259");
}

TEST_F(LogDirectory, FailedWriteIsReportedAndTheChoiceHoldsForThisRun) {
    fs::create_directory(log_path_file);  // cannot be written, not even by root
    choose("/data");
    EXPECT_EQ(logPath(), "/data");
    expectOnePathError("log_path.dat");
    restart();
    EXPECT_EQ(logPath(), defaultLogDirectory()) << "not remembered, and no unreadable file read";
}

// The path ends at the first zero byte in the first 260; a shorter file without one (written
// by hand) is used without its one line end, a longer one ignored rather than cut. An empty
// file, or one that is not a regular file, leaves the default.
TEST_F(LogDirectory, OddFilesAtStartUp) {
    const std::pair<std::string, std::string> cases[] = {
        {" /data/logs \r\n", " /data/logs "},
        {"/data/logs\n", "/data/logs"},
        {"/data/logs\n\n", "/data/logs\n"},
        {std::string(259, 'a'), std::string(259, 'a')},
        {std::string(259, 'a') + '\0' + "tail", std::string(259, 'a')},
        {std::string(260, 'a') + '\0', defaultLogDirectory()},
        {std::string(300, 'x'), defaultLogDirectory()},
        {"/logs\0junk"s, "/logs"},
        {"", defaultLogDirectory()},
    };
    for (const auto &[bytes, path] : cases) {
        writeFile(bytes);
        restart();
        EXPECT_EQ(logPath(), path) << bytes.size() << " bytes";
    }
    fs::remove(log_path_file);
    ASSERT_EQ(::mkfifo(log_path_file, 0600), 0);
    restart();  // with no writer, a blocking open would never return
    EXPECT_EQ(logPath(), defaultLogDirectory());
    EXPECT_TRUE(messages().empty());
}

// The messages about a log directory say where it came from.
TEST_F(LogDirectory, ADirectoryIsDescribedWithWhereItCameFrom) {
    choose("/data/chosen");
    EXPECT_EQ(describeLogDirectory("/data/chosen"),
              "/data/chosen (chosen in the Log-Directory dialog)");
    writeFile("/data/typed\n");
    restart();
    EXPECT_EQ(describeLogDirectory(logPath()),
              "/data/typed (read from log_path.dat in " + fs::current_path().string() + ")");
    EXPECT_EQ(describeLogDirectory("/data/chosen"), "/data/chosen") << "no longer known";
    noteLogDirectorySource("/srv/x", LogDirectorySource::commandLine);
    EXPECT_EQ(describeLogDirectory("/srv/x"), "/srv/x (given with --dir)");
    EXPECT_EQ(describeLogDirectory(defaultLogDirectory()),
              defaultLogDirectory() + " (the default, the home directory)");
}

}  // namespace
}  // namespace ostrel
