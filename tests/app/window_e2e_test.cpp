// The program's real window, offscreen, driven through its widgets with QTest as an operator
// drives it (main's run, the five default simulated modules): what the operator sees, what
// lands on disk, and a clean end when the window is closed during a measurement.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "../ui/qt/qt_test_support.h"
#include "acquisition/measurement.h"
#include "acquisition/measurement_testing.h"
#include "acquisition/module_discovery.h"
#include "app/startup.h"
#include "logging/log_file.h"
#include "panel/ostrel_panel.h"
#include "recording/recording_description.h"
#include "support/log_file_check.h"
#include "support/process_counters.h"
#include "support/scratch_directory.h"
#include "support/watchdog.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"
#include "timer/async_timer.h"
#include "ui/panel_state.h"
#include "ui/qt/display_box.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/strip_chart.h"
#include "ui/qt/switch_widget.h"

#if defined(__SANITIZE_THREAD__)
// CTest's options built in, however the test is started: Qt is not instrumented.
extern "C" const char *__tsan_default_options() {
    return "ignore_noninstrumented_modules=1 halt_on_error=1";
}
#endif

namespace ostrel::ui::qt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ostrel::ui::qt::testing::frontend;
using ostrel::ui::qt::testing::MessageBoxes;
using ostrel::ui::qt::testing::QtShutdown;

const auto *const qtShutdown = ::testing::AddGlobalTestEnvironment(new QtShutdown);

constexpr int kWaitMs = 20000;         // every single wait
constexpr auto kWholeRunBound = 110s;  // the watchdog's bound, below CTest's 120 s
constexpr int kPlainType = 1;          // CH_SLIDE index of " 8 Channel", the default
constexpr int kSteeringType = 4;       // CH_SLIDE index of "Steering Personal Car 100 Nm"
constexpr int kSteeringSlots = 10;

// Threads the program started that still run, not in `before`: its std::threads carry this
// process's name (Qt names its own).
std::vector<std::string> programThreadsLeft(const std::map<int, std::string> &before) {
    const std::map<int, std::string> now = test::threadsById();
    const std::string processName = now.count(::getpid()) ? now.at(::getpid()) : "";
    std::vector<std::string> left;
    for (const auto &[tid, name] : now) {
        if (tid == ::getpid() || before.count(tid) != 0 || name != processName) continue;
        left.push_back(name + " (tid " + std::to_string(tid) + ")");
    }
    return left;
}

std::set<std::string> logFilesIn(const fs::path &directory) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(directory, error)) {
        if (entry.path().extension() != ".dat") continue;  // a description beside a log file
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Checks a closed log file of `type` and returns the cycles it holds.
uint64_t checkLogFile(const fs::path &file, int type) {
    const test::LogFileCheck check = test::checkLogFile(file, {.type = type});
    EXPECT_TRUE(check.ok()) << check.text();
    return check.cycles;
}

class Operator {
  public:
    explicit Operator(fs::path logDirectory) : logDirectory_(std::move(logDirectory)) {}

    PanelWindow *window() const { return frontend()->windowOf(panelHandle); }

    template <typename W>
    W *body(int control) const {
        PanelWindow *w = window();
        return w ? dynamic_cast<W *>(w->bodyOf(control)) : nullptr;
    }

    std::optional<ControlState> model(int control) const {
        return controlState(panelHandle, control);
    }

    // Waits until `widget` is shown and not dimmed (after STOP the rings are dimmed a while).
    bool usable(QWidget *widget) {
        const bool ready =
            QTest::qWaitFor([&] { return widget->isVisible() && widget->isEnabled(); }, kWaitMs);
        if (!ready) ADD_FAILURE() << "a control stays hidden or dimmed";
        return ready;
    }

    // Opens the ring's drop-down list with a click, moves to `label` with the arrow keys
    // and takes it with Return. True when the ring and the model then show it.
    bool choose(int control, const QString &label) {
        auto *ring = body<QComboBox>(control);
        const int target = ring ? ring->findText(label) : -1;
        if (target < 0) ADD_FAILURE() << "no ring lists \"" << label.toStdString() << "\"";
        if (target < 0 || !usable(ring)) return false;
        QTest::mouseClick(ring, Qt::LeftButton);  // opens the list
        QAbstractItemView *list = ring->view();
        if (!QTest::qWaitFor([&] { return list->isVisible(); }, kWaitMs)) {
            ADD_FAILURE() << "a click on the ring did not open its list";
            return false;
        }
        int row = list->currentIndex().row();
        for (; row < target; ++row) QTest::keyClick(list, Qt::Key_Down);
        for (; row > target; --row) QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
        const bool chosen = QTest::qWaitFor(
            [&] {
                const auto state = model(control);
                return !list->isVisible() && ring->currentText() == label && state &&
                       state->selectedLabel() == label.toStdString();
            },
            kWaitMs);
        EXPECT_TRUE(chosen) << "choosing \"" << label.toStdString() << "\": list shown "
                            << list->isVisible() << ", the ring shows \""
                            << ring->currentText().toStdString() << "\"";
        return chosen;
    }

    // Clicks an on/off switch into position `on`.
    bool setSwitch(int control, bool on) {
        auto *sw = body<SwitchWidget>(control);
        if (sw == nullptr || !usable(sw)) return false;
        if (sw->isChecked() != on) QTest::mouseClick(sw, Qt::LeftButton);
        return QTest::qWaitFor(
            [&] {
                const auto state = model(control);
                return sw->isChecked() == on && state && state->intValue() == (on ? 1 : 0);
            },
            kWaitMs);
    }

    // Clicks into the text field, selects what it holds, types `text` and presses Enter.
    bool type(int control, const QString &text) {
        auto *field = body<QLineEdit>(control);
        if (field == nullptr || field->isReadOnly() || !usable(field)) return false;
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        return QTest::qWaitFor(
            [&] {
                const auto state = model(control);
                return field->text() == text && state && state->text() == text.toStdString();
            },
            kWaitMs);
    }

    QPushButton *startStopButton() const { return body<QPushButton>(meas_start_stop); }

    // Clicks START (or STOP) and waits until the button shows the other word.
    bool press(const QString &shownAfter) {
        QPushButton *button = startStopButton();
        if (button == nullptr || !usable(button)) return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return QTest::qWaitFor([&] { return button->text() == shownAfter; }, kWaitMs);
    }

    // The texts of the ten steering displays (their values and units: the display tests).
    QStringList displayTexts() const {
        QStringList texts;
        for (int k = 0; k < kSteeringSlots; ++k) {
            auto *display = body<DisplayBox>(panel_rings[std::size_t(k)]);
            texts << (display ? display->text() : QString());
        }
        return texts;
    }
    // Waits until every steering display shows a value.
    bool waitForDisplays() {
        return QTest::qWaitFor([&] { return !displayTexts().contains(QString()); }, kWaitMs);
    }

    // Waits until a log file not in `known` appears; "" after the deadline.
    std::string waitForNewLogFile(const std::set<std::string> &known) {
        std::string found;
        (void)QTest::qWaitFor(
            [&] {
                for (const std::string &name : logFilesIn(logDirectory_)) {
                    if (known.count(name) == 0) found = name;
                }
                return !found.empty();
            },
            kWaitMs);
        return found;
    }

    // Waits until `file` holds its header and at least one whole cycle of `type`.
    bool waitForFirstCycle(const std::string &file, int type) {
        const uint64_t wanted = 2 + framesPerLoggedCycle(type);
        return QTest::qWaitFor(
            [&] {
                return uint64_t(std::ranges::count(test::readFile(logDirectory_ / file), '\n')) >=
                       wanted;
            },
            kWaitMs);
    }

    // The window shown, `module` listed and chosen, logging on into the log directory.
    bool prepareLogging(const QString &module) {
        const bool listed = QTest::qWaitFor(
            [&] {
                auto *modules = body<QComboBox>(usbinterface);
                return modules && window()->isVisible() && modules->findText(module) >= 0;
            },
            kWaitMs);
        return listed && choose(usbinterface, module) && setSwitch(LOG_STATE, true) &&
               type(LOGPATH, QString::fromStdString(logDirectory_.string()));
    }

    const fs::path &logDirectory() const { return logDirectory_; }

  private:
    fs::path logDirectory_;
};

class ProgramWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("OSTREL_SIM");  // the five default, real-time paced modules
        ::unsetenv("OSTREL_MODULE_LIBRARY");
        watchdog = std::make_unique<test::Watchdog>(logDirectory, "window e2e");
        watchdog->arm("the test", kWholeRunBound);
        measurement_testing::usePauses({50ms, 100ms, 50ms});
        ASSERT_TRUE(frontend()) << "Qt did not start";
        installFrontend(frontend());
    }
    void TearDown() override {
        installFrontend(nullptr);
        measurement_testing::usePauses({});
        watchdog.reset();
    }

    const test::ScratchDirectory scratch{"ostrel-window-e2e"};
    const fs::path logDirectory = scratch.path();
    std::unique_ptr<test::Watchdog> watchdog;
};

// What happened inside the run, for the checks after it.
struct RunRecord {
    std::map<int, std::string> threadsBefore;  // before the program started
    int panel = 0;
    int refreshTimer = 0;  // the display refresh timer of the measurement closed by the window
    std::string lastLogFile;
};

// What a run of the program left for the checks after it.
struct ProgramRun {
    bool scripted = false;              // the script ran to its end
    std::vector<std::string> messages;  // the message boxes the program raised
};

// Runs the program as main runs it, `script` started from inside its event loop, every message
// box acknowledged. A step that failed leaves the window up: it is closed as the operator would.
// `bound` ends a run whose window refuses to close.
ProgramRun runProgram(Operator &op, const std::function<void()> &script,
                      std::chrono::milliseconds bound = 60s) {
    MessageBoxes boxes;
    ProgramRun run;
    QTimer::singleShot(0, [&] {
        script();
        run.scripted = !::testing::Test::HasFatalFailure();
        PanelWindow *window = op.window();
        if (!run.scripted && window != nullptr && panelHandle != 0) window->close();
    });
    QTimer::singleShot(bound, [] { QApplication::exit(1); });
    runMainPanel();  // returns once the panel has closed
    run.messages = boxes.seen;
    return run;
}

// A closed log file of a steering measurement: header and whole cycles, as many as were logged.
void expectSteeringLog(const fs::path &file) {
    const uint64_t cycles = checkLogFile(file, kSteeringType);
    EXPECT_GE(cycles, 1u);
    EXPECT_EQ(cycles, loggedCycles());
}

// A steering measurement with logging and the charts shown: SIM-STEER, the first steering
// type, the log directory typed in.
void measureSteering(Operator &op, RunRecord &run) {
    SCOPED_TRACE("SIM-STEER with logging and charts");
    ASSERT_TRUE(op.prepareLogging("SIM-STEER"));
    run.panel = panelHandle;
    ASSERT_TRUE(op.choose(CH_SLIDE, "Steering Personal Car 100 Nm"));
    ASSERT_TRUE(op.setSwitch(CHARTSSWITCH, true));
    StripChart *const charts[] = {op.body<StripChart>(CHART), op.body<StripChart>(CHART_2)};
    ASSERT_TRUE(charts[0] && charts[1]);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return charts[0]->isVisible() && charts[1]->isVisible(); }, kWaitMs))
        << "Show Charts did not show both charts";
    // The marker key outside a measurement: nothing, and nothing said (no message box).
    QTest::keyClick(op.window()->windowHandle(), Qt::Key_M, Qt::ControlModifier);
    ASSERT_TRUE(op.press("STOP")) << "START did not start";

    ASSERT_TRUE(op.waitForDisplays())
        << "steering displays: " << op.displayTexts().join(" | ").toStdString();
    const int points[] = {charts[0]->pointCount(), charts[1]->pointCount()};
    // The x-axis end (what scrolls a chart): the points plotted, at least one screen.
    const double ends[] = {charts[0]->xMax(), charts[1]->xMax()};
    const QStringList first = op.displayTexts();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 2; ++c) {
                const int now = charts[c]->pointCount();
                const bool screenFull = now == int(CHART_POINTS_PER_SCREEN);
                if ((now <= points[c] && !screenFull) || charts[c]->xMax() < ends[c] + 5)
                    return false;
            }
            return true;
        },
        kWaitMs))
        << "the charts do not move: points " << points[0] << " -> " << charts[0]->pointCount()
        << ", " << points[1] << " -> " << charts[1]->pointCount();
    EXPECT_TRUE(QTest::qWaitFor([&] { return op.displayTexts() != first; }, kWaitMs))
        << "the steering displays do not change";
    op.window()->activateWindow();  // the marker key is the window's while it is active
    ASSERT_TRUE(QTest::qWaitForWindowActive(op.window()));
    QTest::keyClick(op.window()->windowHandle(), Qt::Key_M, Qt::ControlModifier);  // a marker

    ASSERT_TRUE(op.press("START")) << "STOP did not stop";
    ASSERT_TRUE(QTest::qWaitFor([] { return !measurementOpen() && log_file_open == 0; }, kWaitMs));
    const std::string file = op.waitForNewLogFile({});
    ASSERT_FALSE(file.empty()) << "no log file in " << op.logDirectory();
    EXPECT_EQ(logFilePath(), (op.logDirectory() / file).string());
    expectSteeringLog(op.logDirectory() / file);
    const auto described =
        recording::readDescription(recording::descriptionPathFor(op.logDirectory() / file));
    ASSERT_TRUE(described.description) << described.error;
    ASSERT_EQ(described.description->markers.size(), 1u) << "the marker key during the measurement";
    EXPECT_EQ(described.description->markers[0].number, 1);
    run.lastLogFile = file;
}

// START again, then the window's close button while the measurement runs and logs.
void closeDuringMeasurement(Operator &op, RunRecord &run) {
    SCOPED_TRACE("closing the window while measuring");
    const std::set<std::string> known = logFilesIn(op.logDirectory());
    ASSERT_TRUE(op.press("STOP")) << "START did not start";
    ASSERT_TRUE(op.waitForDisplays());
    const std::string file = op.waitForNewLogFile(known);
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(op.waitForFirstCycle(file, kSteeringType));
    run.refreshTimer = timerID.load();
    run.lastLogFile = file;
    EXPECT_GT(run.refreshTimer, 0) << "the display refresh runs while measuring";
    EXPECT_TRUE(measurementOpen());
    // What the checks after the close rely on: they see the program's threads and its file.
    EXPECT_GE(programThreadsLeft(run.threadsBefore).size(), 2u)
        << "the acquisition thread and the refresh timer's thread are seen";
    // The log file (beside it, where the file system has them, the unnamed room kept for the
    // closing description, which reads as a deleted file).
    const std::vector<std::string> open = test::openFilesUnder(op.logDirectory());
    EXPECT_EQ(std::count_if(open.begin(), open.end(),
                            [](const std::string &f) { return !f.ends_with(" (deleted)"); }),
              1)
        << "the log file is seen open";
    op.window()->close();  // the window's close button
}

TEST_F(ProgramWindow, OperatorRecordsThenClosesTheWindowWhileMeasuring) {
    Operator op(logDirectory);
    RunRecord run;
    run.threadsBefore = test::threadsById();
    const ProgramRun ran = runProgram(
        op,
        [&] {
            measureSteering(op, run);
            if (!::testing::Test::HasFatalFailure()) closeDuringMeasurement(op, run);
        },
        kWholeRunBound - 15s);

    EXPECT_TRUE(ran.scripted);
    EXPECT_TRUE(ran.messages.empty())
        << "the program raised: " << ::testing::PrintToString(ran.messages);
    // The program ended cleanly: the panel gone, nothing open, no timer left.
    EXPECT_EQ(std::tuple(panelHandle.load(), panelState(run.panel).has_value(), measurementOpen(),
                         threadstopped.load(), log_file_open.load(), timerID.load()),
              std::tuple(0, false, false, 1, 0, 0));
    EXPECT_TRUE(test::openFilesUnder(logDirectory).empty())
        << "still open: " << ::testing::PrintToString(test::openFilesUnder(logDirectory));
    for (const int timer : {timerID_Modules.load(), run.refreshTimer}) {
        double interval = 0.0;
        EXPECT_EQ(GetTimerAttribute(timer, kTimerAttrInterval, &interval), kTimerErrNoSuchTimer)
            << "timer " << timer << " (the module scan, the display refresh) outlived the window";
    }
    std::vector<std::string> left;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            left = programThreadsLeft(run.threadsBefore);
            return left.empty();
        },
        kWaitMs))
        << "threads left: " << ::testing::PrintToString(left);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return frontend()->windowOf(run.panel) == nullptr; }, kWaitMs));

    // The file of the measurement the window's close ended: header and whole cycles only.
    if (ran.scripted) {
        SCOPED_TRACE("the log file closed by the window's close");
        EXPECT_EQ(logFilePath(), (logDirectory / run.lastLogFile).string());
        expectSteeringLog(logDirectory / run.lastLogFile);
    }
    EXPECT_EQ(logFilesIn(logDirectory).size(), 2u) << "one file per START";
}

// A close the window takes while the GUI thread waits (START's pause before the refresh) or
// while the STOP's cycle completes is carried out, never lost: the window goes, the file
// holds whole cycles and its description says the window was closed.
enum class CloseMoment { duringStartsWait, rightAfterStop };

class WindowClose : public ProgramWindow, public ::testing::WithParamInterface<CloseMoment> {};

TEST_P(WindowClose, IsCarriedOutWhenItComesDuringAWait) {
    measurement_testing::usePauses({800ms, 100ms, 50ms});
    Operator op(logDirectory);
    const ProgramRun ran = runProgram(op, [&] {
        ASSERT_TRUE(op.prepareLogging("SIM-8CH"));
        if (GetParam() == CloseMoment::duringStartsWait) {
            // Fires inside START's wait, which serves the window's events.
            QTimer::singleShot(200ms, [&] { op.window()->close(); });
            ASSERT_TRUE(op.press("STOP"));
            return;
        }
        ASSERT_TRUE(op.press("STOP"));
        ASSERT_TRUE(op.waitForFirstCycle(op.waitForNewLogFile({}), kPlainType));
        QTest::mouseClick(op.startStopButton(), Qt::LeftButton);  // STOP
        op.window()->close();
    });  // a lost close outlasts the bound
    EXPECT_TRUE(ran.scripted);
    EXPECT_EQ(panelHandle, 0) << "the window was not closed";
    EXPECT_FALSE(measurementOpen());
    const std::set<std::string> files = logFilesIn(logDirectory);
    ASSERT_EQ(files.size(), 1u);
    const fs::path file = logDirectory / *files.begin();
    checkLogFile(file, kPlainType);
    const recording::ParsedDescription described =
        recording::readDescription(recording::descriptionPathFor(file.string()));
    ASSERT_TRUE(described.description) << described.error;
    EXPECT_EQ(described.description->ended, recording::MeasurementEnd::windowClosed);
}

INSTANTIATE_TEST_SUITE_P(Moments, WindowClose,
                         ::testing::Values(CloseMoment::duringStartsWait,
                                           CloseMoment::rightAfterStop));

}  // namespace
}  // namespace ostrel::ui::qt
