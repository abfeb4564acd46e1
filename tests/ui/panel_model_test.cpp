// The panel model (values, rings, attributes, charts, also from several threads at once) and
// the headless front end.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_panel.h"
#include "ui/headless.h"
#include "ui/operator_input.h"
#include "ui/panel_state.h"

namespace ostrel::ui {
namespace {

using namespace testing;

class PanelModel : public ::testing::Test {
  protected:
    void SetUp() override { panel = loadPanel(testPanel()); }
    void TearDown() override { discardPanel(panel); }
    ControlState state(int id) { return *controlState(panel, id); }
    int panel = 0;
};

TEST_F(PanelModel, ValuesFollowTheControlKind) {
    int value = 0;
    std::string text;
    EXPECT_EQ(getValue(panel, RING, &value), UI_OK);
    EXPECT_EQ(setValue(panel, RING, 3), UI_OK);
    EXPECT_EQ(std::pair(value, state(RING).index), std::pair(2, 2));
    // No item with the value 99, the wrong kinds, an empty ring without a value, no control 99.
    EXPECT_EQ(
        std::vector({setValue(panel, RING, 99), setValue(panel, DISPLAY, 5),
                     setValue(panel, TOGGLE, "x"), getValue(panel, TEXT_RING, &text),
                     setValue(panel, 99, 1)}),
        std::vector({UI_BAD_INDEX, UI_WRONG_KIND, UI_WRONG_KIND, UI_BAD_INDEX, UI_NO_CONTROL}));
}

TEST_F(PanelModel, RingIndexFollowsItsItems) {
    EXPECT_EQ(state(TEXT_RING).index, -1) << "a ring without items has index -1";
    insertRingItem(panel, TEXT_RING, -1, "b", std::string("b"));
    EXPECT_EQ(state(TEXT_RING).index, 0) << "the first item is selected";
    insertRingItem(panel, TEXT_RING, 0, "a", std::string("a"));
    EXPECT_EQ(state(TEXT_RING).selectedLabel(), "b") << "inserting before keeps the selection";
    EXPECT_EQ(insertRingItem(panel, TEXT_RING, 5, "z", std::string("z")), UI_BAD_INDEX);
    EXPECT_EQ(setRingIndex(panel, TEXT_RING, 2), UI_BAD_INDEX);
}

TEST_F(PanelModel, RefilledRingKeepsTheSelectedLabelWhileListed) {
    setRingIndex(panel, RING, 2);  // "three"
    clearRing(panel, RING);
    insertRingItem(panel, RING, 0, "one", 1);
    insertRingItem(panel, RING, 1, "three", 3);
    EXPECT_EQ(state(RING).selectedLabel(), "three");
    clearRing(panel, RING);
    insertRingItem(panel, RING, 0, "four", 4);
    EXPECT_EQ(state(RING).selectedLabel(), "four") << "gone: the first item";
    clearRing(panel, RING);
    insertRingItem(panel, RING, 0, "four", 4);
    insertRingItem(panel, RING, 1, "one", 1);
    setRingIndex(panel, RING, 1);
    EXPECT_EQ(state(RING).selectedLabel(), "one") << "an explicit selection wins";
}

TEST_F(PanelModel, ReplacedRingItemsArriveInOneStepKeepingTheSelectedLabel) {
    setRingIndex(panel, RING, 2);  // "three"
    const std::uint64_t before = modelRevision();
    ASSERT_EQ(replaceRingItems(panel, RING, {{"zero", 0}, {"three", 3}}), UI_OK);
    EXPECT_EQ(modelRevision(), before + 1) << "one change, never a half-filled ring";
    EXPECT_EQ(state(RING).selectedLabel(), "three");
    ASSERT_EQ(replaceRingItems(panel, RING, {{"zero", 0}, {"three", 3}}), UI_OK);
    EXPECT_EQ(modelRevision(), before + 1) << "the same items again are no change";
    ASSERT_EQ(replaceRingItems(panel, RING, {{"four", 4}}), UI_OK);
    EXPECT_EQ(state(RING).selectedLabel(), "four") << "gone: the first item";
    ASSERT_EQ(replaceRingItems(panel, RING, {}), UI_OK);
    EXPECT_EQ(state(RING).index, -1);
    ASSERT_EQ(replaceRingItems(panel, RING, {{"one", 1}, {"four", 4}}), UI_OK);
    EXPECT_EQ(state(RING).selectedLabel(), "four") << "remembered across an empty ring";
    EXPECT_EQ(replaceRingItems(panel, DISPLAY, {}), UI_WRONG_KIND);
}

TEST_F(PanelModel, ControlsMoveWithTheirLabelsAndChartsKeepOneScreen) {
    setTop(panel, RING, 300);
    EXPECT_EQ(std::pair(state(RING).body.top, state(RING).labelRect.top), std::pair(300, 302));
    for (int i = 0; i < int(CHART_POINTS_PER_SCREEN) + 5; ++i) plotPoint(panel, CHART_ID, float(i));
    const ChartState chart = state(CHART_ID).chart;
    EXPECT_EQ(std::tuple(chart.total, chart.recent.size(), chart.recent.front()),
              std::tuple(CHART_POINTS_PER_SCREEN + 5, CHART_POINTS_PER_SCREEN, 5.0f));
    EXPECT_EQ(std::pair(setYAxisRange(panel, CHART_ID, 5, 5), plotPoint(panel, DISPLAY, 1.0f)),
              std::pair(UI_BAD_INDEX, UI_WRONG_KIND));
}

TEST_F(PanelModel, OperationsFromManyThreadsStayConsistent) {
    constexpr int kWrites = 2000;
    std::thread texts([&] {
        for (int i = 0; i < kWrites; ++i) setValue(panel, DISPLAY, std::to_string(i));
    });
    std::thread points([&] {
        for (int i = 0; i < kWrites; ++i) plotPoint(panel, CHART_ID, float(i));
    });
    for (int i = 0; i < kWrites; ++i) (void)panelState(panel);
    texts.join();
    points.join();
    EXPECT_EQ(state(DISPLAY).text(), std::to_string(kWrites - 1));
    EXPECT_EQ(state(CHART_ID).chart.total, std::uint64_t(kWrites));
}

// A worker's message waits for the GUI thread. A GUI-thread wait that serves
// messages on every pass ends; operator input meanwhile is refused, not queued.
TEST_F(PanelModel, AWaitThatServesMessagesOutlivesAWorkersMessage) {
    auto headless = headlessFrontend();
    headless->reset();
    headless->holdMessages();
    std::atomic<bool> stopped{false};
    std::thread worker([&] {
        showMessage("USB Error", "Telemetry not in sync");
        stopped = true;
    });
    while (headless->heldMessageCount() == 0) std::this_thread::yield();
    EXPECT_FALSE(operatorPressButton(panel, TOGGLE)) << "no input while the message is up";
    headless->post([&] { EXPECT_FALSE(operatorPressButton(panel, TOGGLE)) << "held off"; });
    while (!stopped) {
        serveMessages();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(headless->messages(),
              (std::vector<RecordedMessage>{{"USB Error", "Telemetry not in sync"}}));
    EXPECT_EQ(state(TOGGLE).intValue(), 0) << "input during the wait was dropped";
    EXPECT_TRUE(operatorPressButton(panel, TOGGLE)) << "taken again after the wait";
    headless->reset();
}

TEST_F(PanelModel, AHeldMessageWaitsUntilServedAcknowledgedOrShutDown) {
    auto headless = headlessFrontend();
    headless->reset();
    headless->holdMessages();
    showMessage("Own", "thread");  // the GUI thread's own message never waits on itself
    std::atomic<int> returned{0};
    auto raise = [&] {
        showMessage("USB Error", "Data transfer error from USB module");
        ++returned;
    };
    std::thread first(raise);
    while (headless->heldMessageCount() == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(returned, 0) << "a GUI thread that never serves would wait for ever";
    headless->acknowledgeMessages();
    first.join();
    std::thread second(raise);
    while (headless->heldMessageCount() == 0) std::this_thread::yield();
    headless->shutdown();
    second.join();
    std::thread third(raise);  // after shutdown: answered at once
    third.join();
    EXPECT_EQ(returned, 3);
    EXPECT_FALSE(modalActive());
    headless->reset();
}

// Timer and worker threads may still call panel operations while the process
// exits: the store and the front-end registry must outlive static destruction.
TEST(Lifetime, PanelOperationsDuringExitFindTheRuntimeAlive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const int panel = loadPanel(testPanel());
            std::thread([panel] {
                for (int i = 0;; ++i) setValue(panel, DISPLAY, std::to_string(i));
            }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// CTest hands every case its environment: headless Qt and the sanitizers'
// options (a list-valued environment once reached the tests only in part).
TEST(TestEnvironment, ReachesEveryCase) {
    for (const char *name :
         {"QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        EXPECT_NE(std::getenv(name), nullptr) << name;
    }
    ASSERT_NE(std::getenv("TSAN_OPTIONS"), nullptr);
    EXPECT_NE(std::string(std::getenv("TSAN_OPTIONS")).find("halt_on_error=1"), std::string::npos);
}

TEST(Headless, EventLoopRunsPostedTasksUntilQuit) {
    auto headless = headlessFrontend();
    headless->reset();
    std::vector<int> order;
    headless->post([&] { order.push_back(1); });
    headless->post([&] { quitEventLoop(7); });
    headless->post([&] { order.push_back(3); });
    EXPECT_EQ(runEventLoop(), 7);
    EXPECT_EQ(order, std::vector<int>{1});
    std::thread quitter([] { quitEventLoop(0); });
    EXPECT_EQ(runEventLoop(), 0) << "a quit from another thread ends the loop";
    quitter.join();
    headless->reset();
}

}  // namespace
}  // namespace ostrel::ui
