// Start-up and shutdown of the main panel, through the headless runtime.
#include "app/startup.h"

#include <poll.h>

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
#include "support/scratch_directory.h"
#include "telemetry/selections.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;

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
    EXPECT_EQ(std::tuple(channels.load(), channel_index.load(), block_speed_factor.load(),
                         control(timebase).text()),
              std::tuple(8, 1, 8, " 163.20 ms"))
        << "160 kbps, 8 x 512 bytes";
    for (uint16_t word : dummydata) ASSERT_EQ(word, 0x8000);
    double interval = 0.0;
    int count = 0;
    const int read[] = {GetTimerAttribute(timerID_Modules, kTimerAttrInterval, &interval),
                        GetTimerAttribute(timerID_Modules, kTimerAttrCount, &count)};
    EXPECT_EQ(std::tuple(read[0], read[1], interval, count < 0), std::tuple(0, 0, 1.0, true))
        << "a count below 0 runs until discarded";
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
    EXPECT_EQ(std::pair(ui::setValue(seenPanel, timebase, "late"), ui::discardPanel(seenPanel)),
              std::pair(ui::UI_NO_PANEL, ui::UI_NO_PANEL));
}

// Closing the window while it logs, by its close button or SIGTERM (the program's test sends each
// signal): the whole stop runs before the loop ends, the file holds whole cycles, its
// description says how it ended, nothing stays open.
enum class Close { button, sigterm, sigtermWithMessageUp };

class ClosingDuringAMeasurement : public ::testing::TestWithParam<Close> {};

// The close button, or the signal to this process served as the program's event loop does.
void closeAs(Close how, WindowSignals &windowSignals) {
    if (how == Close::button) {
        EXPECT_TRUE(ui::operatorClosePanel(panelHandle));
        return;
    }
    // A message up holds operator input (the close waits for it), not the measurement's end.
    std::optional<ui::InputHold> messageUp;
    if (how == Close::sigtermWithMessageUp) messageUp.emplace();
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    pollfd readable{windowSignals.readFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 30000), 1) << "the handler wrote to the pipe";
    EXPECT_EQ(windowSignals.serve(), 1);
    if (!messageUp) return;
    // 5 s: generous for a fast module, short enough not to leave gigabytes of log behind.
    EXPECT_TRUE(test::waitFor([] { return !measurementBusy(); }, 5s, 2ms))
        << "the measurement waited for the message";
}

TEST_P(ClosingDuringAMeasurement, StopsItCompletely) {
    auto headless = ui::headlessFrontend();
    headless->reset();
    WindowSignals windowSignals;
    ASSERT_GE(windowSignals.readFd(), 0);
    measurement_testing::usePauses({10ms, 30ms, 10ms});
    const test::ScratchDirectory scratch("ostrel-close");
    const std::string &pattern = scratch.path();
    sim::ModuleConfig module;
    module.name = "APP-FAST";
    module.pace.fast = true;
    sim::bus().plug(module);
    auto closeOnceLogging = [&] {
        test::waitFor([] { return loggedCycles() >= 1; }, 30s, 2ms);
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
    double interval = 0;
    void *handle = nullptr;  // the module is closed, no timer outlives the panel
    EXPECT_EQ(std::tuple(measurementOpen(), threadstopped.load(), log_file_open.load(),
                         GetTimerAttribute(timerID_Modules, kTimerAttrInterval, &interval) != 0,
                         sim::bus().UsbOpen(&handle, "APP-FAST") != 0),
              std::tuple(false, 1, 0, true, true));
    sim::bus().UsbClose(handle);
    sim::bus().unplug("APP-FAST");
    const std::vector<std::string> files = scratch.entries();  // the log file, its description
    ASSERT_EQ(files.size(), 2u);
    const test::LogFileCheck check = test::checkLogFile(scratch.file(files[0]), {});
    EXPECT_TRUE(check.ok()) << check.text();
    EXPECT_GE(check.cycles, 1u);
    const recording::ParsedDescription described =
        recording::readDescription(recording::descriptionPathFor(scratch.file(files[0])));
    ASSERT_TRUE(described.description) << described.error;
    EXPECT_EQ(std::pair(described.description->ended, described.description->cycles),
              std::pair(GetParam() == Close::button ? recording::MeasurementEnd::windowClosed
                                                    : recording::MeasurementEnd::signal,
                        check.cycles));
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
