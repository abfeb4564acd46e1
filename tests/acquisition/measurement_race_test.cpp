// Stops that meet: a transfer error and the operator's STOP, the window closed
// while the acquisition thread waits for a message, a long drain. Messages are
// held as the real window holds them, so a GUI-thread wait that did not serve
// them would hang here too.

#include "measurement_test_support.h"

namespace ostrel::test {
namespace {

class StopsThatMeet : public Measuring {
  protected:
    void SetUp() override {
        Measuring::SetUp();
        headless()->holdMessages();
    }
    void waitForHeldMessage() {
        ASSERT_TRUE(waitFor([] { return headless()->heldMessageCount() == 1; }));
    }
};

TEST_F(StopsThatMeet, TransferErrorAndTheOperatorsStopCloseOnce) {
    use("FAIL:pace=fast,failblock=3");
    logging(1);
    const int closes = measurement_testing::closesSoFar();
    press();
    waitForHeldMessage();  // the thread has drained and waits for the operator
    stopOpen();            // the operator's STOP meanwhile: asks, and waits for nothing
    stopOpen();            // and a second one
    EXPECT_TRUE(measurementOpen());
    headless()->acknowledgeMessages();
    joinAcquisitionThread();  // the thread's own stop closes it, once
    EXPECT_TRUE(moduleIsClosed("FAIL"));
    EXPECT_EQ(measurement_testing::closesSoFar(), closes + 1);
    expectIdle();
    EXPECT_EQ(messages().size(), 1u);
    EXPECT_TRUE(timerAlive(timerID_Modules));
    stopOpen();  // a late STOP changes nothing
    EXPECT_EQ(measurement_testing::closesSoFar(), closes + 1);
}

TEST_F(StopsThatMeet, ClosingDuringTheSyncTestServesTheMessage) {
    measurement_testing::usePauses({0ms, 30ms, 10ms});  // START serves no message itself
    use("NOSYNC:nosync");
    logging(1);
    const int closes = measurement_testing::closesSoFar();
    press();
    waitForHeldMessage();  // "Telemetry not in sync", before the stopped flag
    endMeasurement();      // what closing the window runs
    EXPECT_EQ(messages(),
              (std::vector<ui::RecordedMessage>{{"USB Error", "Telemetry not in sync"}}));
    EXPECT_EQ(measurement_testing::closesSoFar(), closes + 1);
    expectIdle();
    EXPECT_TRUE(moduleIsClosed("NOSYNC"));
}

// Closing the window runs the complete stop whatever state the measurement is in.
TEST_F(StopsThatMeet, ClosingInEveryStateLeavesNothingOpen) {
    use("RUN:pace=fast");
    logging(1);
    press();
    ASSERT_TRUE(waitFor([] { return data_received.load() == 1; }));
    endMeasurement();  // running
    expectIdle();
    EXPECT_TRUE(moduleIsClosed("RUN"));

    use("ENDED:pace=fast,failblock=2");
    press();
    waitForHeldMessage();
    headless()->acknowledgeMessages();
    ASSERT_TRUE(waitFor([] { return !measurementOpen(); }));  // ended on its own
    endMeasurement();
    expectIdle();

    use("DRAINING:kbps=2000,failblock=4");
    press();
    ASSERT_TRUE(waitFor([] { return error_occured.load() == 1; }));
    endMeasurement();  // draining, or waiting for its message
    expectIdle();
    EXPECT_TRUE(moduleIsClosed("DRAINING"));
    EXPECT_EQ(messages().size(), 2u);
}

TEST_F(StopsThatMeet, StopDuringTheWaitBeforeTheReadsQueuesNothing) {
    measurement_testing::usePauses({10ms, 2000ms, 10ms});
    use("M8:pace=fast");
    logging(1);
    press();
    press();
    expectIdle();
    EXPECT_EQ(records(), 0u) << "the header only";
    EXPECT_EQ(data_received, 0);
    EXPECT_TRUE(moduleIsClosed("M8"));
    EXPECT_EQ(sim::bus().lostFrames("M8"), 0u);
}

}  // namespace
}  // namespace ostrel::test
