// Choosing the log directory and finding it again after a restart, through the
// headless runtime, with "log_path.dat" in a temporary working directory.
#include "logging/log_directory.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/startup.h"
#include "temp_directory.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/ostrel_panel.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

using namespace std::string_literals;

class LogDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(temp.path().empty());
        workingDirectory.emplace(temp.path());
        start();
    }
    void TearDown() override {
        stop();
        workingDirectory.reset();
    }

    void start() {
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
    }
    void stop() { discardMainPanel(); }
    void restart() {
        stop();
        start();
    }

    // The operator presses "Path" and the dialog answers `answer` (nullopt: Cancel).
    void choose(std::optional<std::string> answer) {
        ui::headlessFrontend()->scriptDirectory(std::move(answer));
        ASSERT_TRUE(ui::operatorPressButton(panelHandle, LOGPATHBUTTON));
    }
    std::string logPath() const { return ui::controlState(panelHandle, LOGPATH)->text(); }
    std::vector<ui::RecordedMessage> messages() const { return ui::headlessFrontend()->messages(); }

    TempDirectory temp;
    std::filesystem::path file = temp.path() / "log_path.dat";
    std::optional<WorkingDirectory> workingDirectory;
};

// --- Choosing and remembering ----------------------------------------------------

TEST_F(LogDirectory, FirstStartWithoutFileShowsTheDefault) {
    EXPECT_EQ(logPath(), defaultLogDirectory());
    EXPECT_FALSE(std::filesystem::exists(file)) << "reading creates no file";
}

TEST_F(LogDirectory, ChosenDirectoryIsShownSavedAndBackAfterRestart) {
    choose("/data/ostrel logs");
    EXPECT_EQ(ui::headlessFrontend()->directoryDialogTitles(),
              std::vector<std::string>{"Log-Directory"});
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_EQ(readBytes(file), "/data/ostrel logs"s + std::string(260 - 17, '\0'));

    restart();
    EXPECT_EQ(logPath(), "/data/ostrel logs");
    EXPECT_TRUE(messages().empty());
}

TEST_F(LogDirectory, CancelChangesNeitherTheFieldNorTheFile) {
    choose(std::nullopt);
    EXPECT_EQ(logPath(), defaultLogDirectory());
    EXPECT_FALSE(std::filesystem::exists(file));

    choose("/first");
    const std::string saved = readBytes(file);
    choose(std::nullopt);
    EXPECT_EQ(logPath(), "/first");
    EXPECT_EQ(readBytes(file), saved);
    EXPECT_TRUE(messages().empty());
}

// --- Paths and files that do not fit ---------------------------------------------

TEST_F(LogDirectory, PathTooLongForTheRecordIsRefusedWithAMessage) {
    choose("/kept");
    choose("/" + std::string(259, 'd'));  // 260 bytes
    EXPECT_EQ(logPath(), "/kept");
    EXPECT_EQ(readBytes(file), "/kept"s + std::string(255, '\0'));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Path Error");
    EXPECT_NE(messages()[0].text.find("259"), std::string::npos) << messages()[0].text;

    const std::string longest = "/" + std::string(258, 'd');
    choose(longest);
    EXPECT_EQ(logPath(), longest);
    restart();
    EXPECT_EQ(logPath(), longest);
}

TEST_F(LogDirectory, FailedWriteIsReportedAndTheChoiceHoldsForThisRun) {
    std::filesystem::create_directory(file);  // cannot be written, not even by root
    choose("/data");
    EXPECT_EQ(logPath(), "/data");
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, "Path Error");
    EXPECT_NE(messages()[0].text.find("log_path.dat"), std::string::npos) << messages()[0].text;

    restart();
    EXPECT_EQ(logPath(), defaultLogDirectory()) << "not remembered";
}

TEST_F(LogDirectory, OddFilesAtStartUp) {
    writeBytes(file, " /data/logs \r\n");  // another tool's file: used as it is
    restart();
    EXPECT_EQ(logPath(), " /data/logs \r\n");

    writeBytes(file, std::string(300, 'x'));  // no zero byte in 260: ignored
    restart();
    EXPECT_EQ(logPath(), defaultLogDirectory());

    writeBytes(file, "");
    restart();
    EXPECT_EQ(logPath(), "");
    EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace ostrel
