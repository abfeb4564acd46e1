// The log directory: its 260-byte record, and choosing it and finding it again
// after a restart through the headless runtime. Each panel test runs in a fresh
// temporary working directory, where "log_path.dat" lives.
#include "logging/log_directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "logging/log_path_record.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

void writeBytes(const std::string &bytes) {
    std::ofstream(log_path_file, std::ios::binary) << bytes;
}

std::string readBytes() {
    std::ifstream in(log_path_file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class LogDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ostrel-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        temp = pattern;
        fs::current_path(temp);
        start();
    }
    void TearDown() override {
        discardMainPanel();
        std::error_code ignored;
        fs::current_path(previous, ignored);
        if (!temp.empty()) fs::remove_all(temp, ignored);
    }

    void start() {
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
    }
    void restart() {
        discardMainPanel();
        start();
    }
    // The operator presses "Path" and the dialog answers `answer` (nullopt: Cancel).
    void choose(std::optional<std::string> answer) {
        ui::headlessFrontend()->scriptDirectory(std::move(answer));
        ASSERT_TRUE(ui::operatorPressButton(panelHandle, LOGPATHBUTTON));
    }
    std::string logPath() const { return ui::controlState(panelHandle, LOGPATH)->text(); }
    std::vector<ui::RecordedMessage> messages() const { return ui::headlessFrontend()->messages(); }

    const fs::path previous = fs::current_path();
    fs::path temp;
};

TEST_F(LogDirectory, RecordIsRewrittenInPlaceToExactly260Bytes) {
    writeBytes(std::string(300, 'x'));
    ASSERT_FALSE(writeLogPathFile(log_path_file, std::string(259, 'p')));
    EXPECT_EQ(readBytes(), std::string(259, 'p') + '\0');
    ASSERT_FALSE(writeLogPathFile(log_path_file, "/b"));
    EXPECT_EQ(readBytes(), "/b"s + std::string(258, '\0')) << "no tail of the longer path";
    // A zero byte inside would cut the path: refused, and the file left alone.
    EXPECT_EQ(writeLogPathFile(log_path_file, "/a\0b"s), std::errc::filename_too_long);
    EXPECT_EQ(readLogPathFile(log_path_file), "/b");
}

TEST(LogPathRecord, PathEndsAtTheFirstZeroByteInTheFirst260) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/logs\0junk\0"s, "/logs"},
        {"\0/logs"s, ""},
        {std::string(259, 'a') + '\0' + std::string(50, 'b'), std::string(259, 'a')},
        {std::string(259, 'a'), std::string(259, 'a')},  // short without a zero: as it is
        {std::string(260, 'a'), std::nullopt},           // 260 without one: ignored, not cut
        {std::string(260, 'a') + '\0', std::nullopt},    // a zero beyond the record
    };
    for (const auto &[bytes, path] : cases) {
        EXPECT_EQ(decodeLogPathRecord(bytes), path) << bytes.size() << " bytes";
    }
}

TEST_F(LogDirectory, ChosenDirectoryIsShownSavedAndBackAfterRestart) {
    choose("/data/ostrel logs");
    EXPECT_EQ(ui::headlessFrontend()->directoryDialogTitles(),
              std::vector<std::string>{"Log-Directory"});
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_EQ(readBytes(), "/data/ostrel logs"s + std::string(260 - 17, '\0'));
    restart();
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_TRUE(messages().empty());
}

TEST_F(LogDirectory, CancelChangesNeitherTheFieldNorTheFile) {
    choose(std::nullopt);
    EXPECT_EQ(logPath(), defaultLogDirectory());
    EXPECT_FALSE(fs::exists(log_path_file)) << "neither start-up nor cancel creates it";
    choose("/first");
    const std::string saved = readBytes();
    choose(std::nullopt);
    EXPECT_EQ(logPath(), "/first");
    EXPECT_EQ(readBytes(), saved);
    EXPECT_TRUE(messages().empty());
}

TEST_F(LogDirectory, PathTooLongForTheRecordIsRefusedWithAMessage) {
    choose("/kept");
    choose("/" + std::string(259, 'd'));  // 260 bytes
    EXPECT_EQ(logPath(), "/kept");
    EXPECT_EQ(readBytes(), "/kept"s + std::string(255, '\0'));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Path Error");
    EXPECT_NE(messages()[0].text.find("259"), std::string::npos) << messages()[0].text;
}

TEST_F(LogDirectory, FailedWriteIsReportedAndTheChoiceHoldsForThisRun) {
    fs::create_directory(log_path_file);  // cannot be written, not even by root
    choose("/data");
    EXPECT_EQ(logPath(), "/data");
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Path Error");
    EXPECT_NE(messages()[0].text.find("log_path.dat"), std::string::npos) << messages()[0].text;
    restart();
    EXPECT_EQ(logPath(), defaultLogDirectory()) << "not remembered, and no unreadable file read";
}

TEST_F(LogDirectory, OddFilesAtStartUp) {
    const std::pair<std::string, std::string> cases[] = {
        {" /data/logs \r\n", " /data/logs \r\n"},        // short without a zero byte: as it is
        {std::string(300, 'x'), defaultLogDirectory()},  // long without one: ignored
        {"", ""},
    };
    for (const auto &[bytes, path] : cases) {
        writeBytes(bytes);
        restart();
        EXPECT_EQ(logPath(), path) << bytes.size() << " bytes";
    }
    EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace ostrel
