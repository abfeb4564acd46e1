// STOP at the slowest link: the operator is never kept waiting, the cycle in progress
// completes (or, at a second STOP, is dropped at once), and a cycle left out is placed.
#include "measurement_test_support.h"

namespace ostrel::test {
namespace {

using Stopping = Measuring;

// 8 words at 40 kbps, four times faster than real time: a cycle takes 2.6 s. STOP returns at
// once and leaves the measurement to finish the cycle in progress, which is then logged.
TEST_F(Stopping, StopReturnsAtOnceAndTheCycleInProgressIsLogged) {
    use("SLOW:words=8,kbps=40,pace=4");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return data_received.load() == 1; }));
    ASSERT_TRUE(ui::operatorPressButton(panelHandle, meas_start_stop));
    EXPECT_TRUE(measurementOpen()) << "STOP waited for the measurement to end";
    EXPECT_EQ(toggle(), 1) << "STOP is shown until the stop is complete";
    joinAcquisitionThread();
    expectIdle();
    EXPECT_EQ(loggedCycles(), 1u);
    EXPECT_EQ(records(), 4096u);
    EXPECT_EQ(description().ended, recording::MeasurementEnd::stop);
}

// At the real 40 kbps a cycle takes 10.4 s: a second STOP drops it and ends at once.
TEST_F(Stopping, ASecondStopEndsAtOnceWithoutTheIncompleteCycle) {
    use("SLOW:words=8,kbps=40");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return data_received.load() == 1; }));
    const auto stopped = std::chrono::steady_clock::now();
    stopOpen();
    stopOpen();
    joinAcquisitionThread();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 6s) << "waited for the cycle";
    expectIdle();
    EXPECT_EQ(loggedCycles(), 0u);
    EXPECT_EQ(records(), 0u);
    EXPECT_TRUE(told("Measurement")) << "the dropped cycle is told";
    EXPECT_TRUE(moduleIsClosed("SLOW"));
}

// Block 20 arrives short: the cycle holding it is left out of the log, and the description
// places the gap after the records of the one cycle before it.
TEST_F(Stopping, ACycleLeftOutIsCountedPlacedAndTold) {
    record("GAP:words=8,pace=fast,shortblock=20", 3);
    const recording::RecordingDescription d = description();
    EXPECT_EQ(d.gaps, (std::vector<recording::LogGap>{{4096, 1}}));
    EXPECT_EQ(records(), d.cycles * 4096);
    EXPECT_TRUE(told(log_gaps_title));
}

// A close that arrives during a GUI-thread wait (START's pause before the refresh) is
// remembered and carried out once the wait is over; other input then is refused, visibly to
// its caller.
TEST_F(Stopping, ACloseDuringAWaitIsCarriedOutAfterIt) {
    measurement_testing::usePauses({200ms, 30ms, 10ms});
    static std::atomic<int> closes{0};
    closes = 0;
    ui::installPanelCallback(
        panelHandle,
        [](int, int event, void *, int, int) {
            if (event == ui::EVENT_CLOSE) ++closes;
            return 0;
        },
        nullptr);
    use("M8:pace=fast");
    std::atomic<bool> switched{true};
    headless()->post([&] {
        switched = ui::operatorSetSwitch(panelHandle, CHARTSSWITCH, 1);
        EXPECT_FALSE(ui::operatorClosePanel(panelHandle));
    });
    press();  // START serves the posted input during its pause
    EXPECT_FALSE(switched);
    EXPECT_EQ(closes, 0) << "delivered inside the wait";
    EXPECT_EQ(ui::rememberedCloseCount(), 1);
    headless()->serveMessages();  // the event loop's next turn
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(ui::rememberedCloseCount(), 0);
}

}  // namespace
}  // namespace ostrel::test
