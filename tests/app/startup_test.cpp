// Start-up and shutdown of the main panel, through the headless runtime.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "app/window_signals.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "process_support.h"
#include "recording/recording_description.h"
#include "sim/simulated_bus.h"
#include "support/log_file_check.h"
#include "support/scratch_directory.h"
#include "telemetry/selections.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::headlessFrontend()->reset();
        panelHandle = ui::loadPanel(mainPanelDescription());
        attachCallbacks(panelHandle);
        startPanel();
    }
    void TearDown() override { discardMainPanel(); }
    ui::ControlState control(int id) { return *ui::controlState(panelHandle, id); }
};

// What start-up reads and prepares; the panel it lays out is the Qt program's test, the
// panel's own initial values the panel description's.
TEST_F(StartUp, ReadsTheSelectionsFillsTheIdleBlockAndStartsTheModuleScan) {
    EXPECT_EQ(channels, 8);
    EXPECT_EQ(channel_index, 1);
    EXPECT_EQ(block_speed_factor, 8);
    EXPECT_EQ(control(timebase).text(), " 163.20 ms") << "160 kbps, 8 x 512 bytes";
    for (uint16_t word : dummydata) ASSERT_EQ(word, 0x8000);
    double interval = 0.0;
    ASSERT_EQ(GetTimerAttribute(timerID_Modules, kTimerAttrInterval, &interval), 0);
    EXPECT_EQ(interval, 1.0);
    int count = 0;
    ASSERT_EQ(GetTimerAttribute(timerID_Modules, kTimerAttrCount, &count), 0);
    EXPECT_LT(count, 0) << "runs until discarded";
}

TEST(Shutdown, ClosingWhileIdleEndsTheEventLoopAndDiscardsThePanel) {
    auto headless = ui::headlessFrontend();
    headless->reset();
    int seenPanel = 0;
    headless->post([&] {
        seenPanel = panelHandle;
        EXPECT_TRUE(ui::panelState(seenPanel)->displayed);
        EXPECT_TRUE(ui::operatorClosePanel(seenPanel));
    });
    runMainPanel();
    EXPECT_GT(seenPanel, 0);
    EXPECT_FALSE(ui::panelState(seenPanel).has_value()) << "discarded after the loop";
    EXPECT_EQ(panelHandle, 0);
    EXPECT_EQ(ui::setValue(seenPanel, timebase, "late"), ui::UI_NO_PANEL);
}

// Closing the window while data flows into a log file, with its close button or by a
// signal to the program (SIGTERM here; the program's test sends each signal that ends it): the
// complete stop runs before the event loop ends, the file holds whole cycles, its description says
// how it ended, nothing stays open.
enum class Close { button, sigterm, sigtermWithMessageUp };

class ClosingDuringAMeasurement : public ::testing::TestWithParam<Close> {};

// The close, once the measurement logs: the close button, or the signal to this process and
// the GUI thread serving it as the program's event loop does.
void closeAs(Close how, WindowSignals &windowSignals) {
    if (how == Close::button) {
        EXPECT_TRUE(ui::operatorClosePanel(panelHandle));
        return;
    }
    // A message up holds operator input (the close waits for its acknowledgement), but not
    // the end of the measurement.
    std::optional<ui::InputHold> messageUp;
    if (how == Close::sigtermWithMessageUp) messageUp.emplace();
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    pollfd readable{windowSignals.readFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 30000), 1) << "the handler wrote to the pipe";
    EXPECT_EQ(windowSignals.serve(), 1);
    if (!messageUp) return;
    // Generous for a fast module (its cycle takes milliseconds), short enough that a failure
    // does not leave gigabytes of log behind.
    EXPECT_TRUE(test::pollUntil([] { return !measurementBusy(); }, std::chrono::seconds(5),
                                std::chrono::milliseconds(2)))
        << "the measurement waited for the message";
}

// Checks every log file in `directory`: whole cycles only, and a description that says how
// the measurement ended and how many cycles the file holds. Returns the files seen.
int checkLogFiles(const std::string &directory, recording::MeasurementEnd ended) {
    namespace fs = std::filesystem;
    int files = 0;
    for (const auto &entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() != ".dat") continue;  // not its description
        const test::LogFileCheck check = test::checkLogFile(entry.path(), {});
        EXPECT_TRUE(check.ok()) << check.text();
        EXPECT_GE(check.cycles, 1u);
        const recording::ParsedDescription described =
            recording::readDescription(recording::descriptionPathFor(entry.path().string()));
        if (!described.description) {
            ADD_FAILURE() << described.error;
            continue;
        }
        EXPECT_EQ(described.description->ended, ended);
        EXPECT_EQ(described.description->cycles, check.cycles);
        ++files;
    }
    return files;
}

TEST_P(ClosingDuringAMeasurement, StopsItCompletely) {
    namespace fs = std::filesystem;
    auto headless = ui::headlessFrontend();
    headless->reset();
    WindowSignals windowSignals;
    ASSERT_GE(windowSignals.readFd(), 0);
    measurement_testing::usePauses({std::chrono::milliseconds(10), std::chrono::milliseconds(30),
                                    std::chrono::milliseconds(10)});
    const test::ScratchDirectory scratch("ostrel-close");
    const std::string &pattern = scratch.path();
    sim::ModuleConfig module;
    module.name = "APP-FAST";
    module.pace.fast = true;
    sim::bus().plug(module);
    auto closeOnceLogging = [&] {
        test::pollUntil([] { return loggedCycles() >= 1; }, std::chrono::seconds(30),
                        std::chrono::milliseconds(2));
        EXPECT_TRUE(measurementOpen());
        closeAs(GetParam(), windowSignals);
    };
    headless->post([&] {
        findModules();
        ui::setValue(panelHandle, usbinterface, "APP-FAST");
        ui::setValue(panelHandle, LOGPATH, pattern);
        ui::setValue(panelHandle, LOG_STATE, 1);
        EXPECT_TRUE(ui::operatorPressButton(panelHandle, meas_start_stop));
        headless->post(closeOnceLogging);  // after START has returned to the event loop
    });
    runMainPanel();
    EXPECT_FALSE(measurementOpen());
    EXPECT_EQ(threadstopped, 1);
    EXPECT_EQ(log_file_open, 0);
    double interval = 0;
    EXPECT_NE(GetTimerAttribute(timerID_Modules, kTimerAttrInterval, &interval), 0)
        << "no timer outlives the panel";
    void *handle = nullptr;
    EXPECT_NE(sim::bus().UsbOpen(&handle, "APP-FAST"), 0) << "the module was closed";
    sim::bus().UsbClose(handle);
    sim::bus().unplug("APP-FAST");
    EXPECT_EQ(
        checkLogFiles(pattern, GetParam() == Close::button ? recording::MeasurementEnd::windowClosed
                                                           : recording::MeasurementEnd::signal),
        1);
}

std::string closeName(const ::testing::TestParamInfo<Close> &info) {
    const char *const names[] = {"Button", "Sigterm", "SigtermWithMessageUp"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(ButtonOrSignal, ClosingDuringAMeasurement,
                         ::testing::Values(Close::button, Close::sigterm,
                                           Close::sigtermWithMessageUp),
                         closeName);

}  // namespace
}  // namespace ostrel
