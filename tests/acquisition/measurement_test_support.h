// A headless main panel with simulated modules, for tests of whole measurements:
// the operator presses START and STOP, the tests read the panel and the log files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "display/channel_layout.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "recording/recording_description.h"
#include "sim/playback.h"
#include "sim/sim_config.h"
#include "sim/simulated_bus.h"
#include "support/log_file_check.h"
#include "support/scratch_directory.h"
#include "support/wait.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "timer/async_timer.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline sim::ModuleConfig simModule(std::string_view text) {
    return sim::parseSimConfig(text).modules.at(0);
}

class Measuring : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { setenv("OSTREL_SIM", "", 1); }

    void SetUp() override {
        headless()->reset();
        measurement_testing::usePauses({10ms, 30ms, 10ms});
        panelHandle = ui::loadPanel(mainPanelDescription());
        ui::installControlCallback(panelHandle, meas_start_stop, startstop, nullptr);
        ui::installControlCallback(panelHandle, CH_SLIDE, channel_change, nullptr);
        ui::setValue(panelHandle, LOGPATH, directory.string());
        unplugAll();
        startModuleScan();
    }

    void TearDown() override {
        endMeasurement();
        DiscardTimer(kAllTimers);
        ui::discardPanel(panelHandle.exchange(0));
        unplugAll();
        headless()->reset();
        channel_index = default_telemetry_type;
        channels = 8;
        chart_index_1 = 0;
        chart_index_2 = 1;
    }

    static std::shared_ptr<ui::HeadlessFrontend> headless() { return ui::headlessFrontend(); }
    static void unplugAll() {
        for (const std::string &name : sim::bus().moduleNames()) sim::bus().unplug(name);
    }

    // Plugs the module and selects it in the module ring, as the operator would.
    void use(std::string_view config) {
        const sim::ModuleConfig module = simModule(config);
        sim::bus().plug(module);
        findModules();
        ASSERT_EQ(ui::setValue(panelHandle, usbinterface, module.name), ui::UI_OK);
    }
    void selectType(int type) {
        ASSERT_TRUE(ui::operatorSelectRingItem(panelHandle, CH_SLIDE, type));
    }
    void logging(int on, int separatorIndex = 0) {
        ui::setValue(panelHandle, LOG_STATE, on);
        ui::setRingIndex(panelHandle, FILE_SEP, separatorIndex);
    }
    // START, or STOP and its completion (the acquisition thread ends the cycle in progress and
    // closes the measurement itself).
    void press() {
        const bool stopping = toggle() == 1;
        ASSERT_TRUE(ui::operatorPressButton(panelHandle, meas_start_stop));
        if (stopping) joinAcquisitionThread();
    }
    int toggle() const { return ui::controlState(panelHandle, meas_start_stop)->intValue(); }
    bool dimmed(int control) const { return ui::controlState(panelHandle, control)->dimmed; }
    std::string text(int control) const { return ui::controlState(panelHandle, control)->text(); }
    std::vector<ui::RecordedMessage> messages() const { return headless()->messages(); }

    std::vector<fs::path> logFiles() const { return scratch.filesEndingIn(".dat"); }
    static std::string contents(const fs::path &file) { return readFile(file); }
    // The log file's lines without their CR LF; fails when a line ends otherwise.
    static std::vector<std::string> lines(const std::string &text) {
        LogLines split = splitLogLines(text);
        EXPECT_EQ(split.problem, "");
        return split.lines;
    }
    // Checks the only log file in the directory against `expected`; returns what it holds.
    LogFileCheck checkTheLogFile(LogFileExpectation expected) const {
        const std::vector<fs::path> files = logFiles();
        EXPECT_EQ(files.size(), 1u);
        if (files.empty()) return {};
        LogFileCheck check = checkLogFile(files[0], expected);
        EXPECT_TRUE(check.ok()) << check.text();
        return check;
    }
    // START with logging on `config`, until `cycles` are logged, then STOP: idle again.
    void record(std::string_view config, uint64_t cycles, std::chrono::milliseconds limit = 30s) {
        use(config);
        logging(1);
        press();
        EXPECT_TRUE(waitFor([&] { return loggedCycles() >= cycles; }, limit));
        press();
        expectIdle();
    }
    // START with logging on `config`, and the measurement's own end: the program is idle.
    void runUntilItEnds(std::string_view config, std::chrono::milliseconds limit = 30s) {
        use(config);
        logging(1);
        press();
        EXPECT_TRUE(waitFor([&] { return !messages().empty() && !measurementOpen(); }, limit));
        joinAcquisitionThread();
        expectIdle();
    }
    // Plays `recording` back on a fast-paced module "PLAY" to its end (logging as it is set).
    void playToItsEnd(const fs::path &recording) {
        sim::ModuleConfig player = simModule("PLAY:pace=fast,file=" + recording.string());
        ASSERT_EQ(sim::preparePlayback(player), std::nullopt);
        ASSERT_TRUE(sim::bus().plug(player));
        findModules();
        ASSERT_EQ(ui::setValue(panelHandle, usbinterface, "PLAY"), ui::UI_OK);
        press();
        ASSERT_TRUE(waitFor([] { return !measurementOpen(); })) << "the end of the recording stops";
        joinAcquisitionThread();
    }
    // The records of the latest log file, and its description.
    std::size_t records() { return lines(contents(logFilePath())).size() - 2; }
    static recording::RecordingDescription description(const fs::path &logFile = logFilePath()) {
        const auto parsed = recording::readDescription(recording::descriptionPathFor(logFile));
        EXPECT_TRUE(parsed.description) << parsed.error;
        return parsed.description.value_or(recording::RecordingDescription{});
    }
    bool told(std::string_view title) {
        const auto all = messages();
        return std::any_of(all.begin(), all.end(), [&](const auto &m) { return m.title == title; });
    }
    bool moduleIsClosed(const std::string &name) {
        void *handle = nullptr;
        if (sim::bus().UsbOpen(&handle, name.c_str()) == 0) return false;
        sim::bus().UsbClose(handle);
        return true;
    }
    static bool timerAlive(int id) {
        double interval = 0;
        return id > 0 && GetTimerAttribute(id, kTimerAttrInterval, &interval) == 0;
    }

    // Idle again: toggle on START and usable, rings enabled, nothing open.
    void expectIdle() {
        EXPECT_EQ(toggle(), 0);
        EXPECT_FALSE(dimmed(meas_start_stop));
        EXPECT_FALSE(dimmed(CH_SLIDE));
        EXPECT_FALSE(dimmed(usbinterface));
        EXPECT_FALSE(measurementOpen());
        EXPECT_EQ(threadstopped, 1);
        EXPECT_EQ(log_file_open, 0);
        EXPECT_EQ(timerID, 0);
        EXPECT_FALSE(ui::busyCursor());
    }

    const ScratchDirectory scratch{"ostrel-measure"};
    const fs::path directory = scratch.path();
};

}  // namespace ostrel::test
