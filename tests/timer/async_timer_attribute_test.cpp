#include "timer_test_support.h"

namespace ostrel::test {
namespace {

int OtherCallback(int, int, int, void *, int, int) {
    return 0;
}

class TimerAttributeTest : public TimerTest {
  protected:
    void SetUp() override {
        TimerTest::SetUp();
        id_ = CreateTimer(100.0, -1, 0, Recorder::Callback, &first_);
        ASSERT_GT(id_, 0);
    }

    int id_ = 0;
};

TEST_F(TimerAttributeTest, UnknownAttributeComesBeforeUnknownTimer) {
    int value = 0;
    EXPECT_EQ(SetTimerAttribute(42, 0, 1), kTimerErrInvalidArgument);
    EXPECT_EQ(GetTimerAttribute(42, 9, &value), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(42, kTimerAttrEnabled, 1), kTimerErrNoSuchTimer);
    EXPECT_EQ(GetTimerAttribute(42, kTimerAttrCount, &value), kTimerErrNoSuchTimer);
    EXPECT_EQ(GetTimerAttribute(id_, kTimerAttrCount, nullptr), kTimerErrInvalidArgument);
}

TEST_F(TimerAttributeTest, InvalidValuesLeaveTheTimerAsItWas) {
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrCount, 0), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrEnabled, 2), kTimerErrInvalidArgument);
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrInterval, -1.0), kTimerErrInvalidArgument);
    int count = 0, enabled = 1;
    double interval = 0.0;
    GetTimerAttribute(id_, kTimerAttrCount, &count);
    GetTimerAttribute(id_, kTimerAttrEnabled, &enabled);
    GetTimerAttribute(id_, kTimerAttrInterval, &interval);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(enabled, 0);
    EXPECT_DOUBLE_EQ(interval, 100.0);
}

TEST_F(TimerAttributeTest, SetValuesReadBack) {
    int marker = 0;
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrCount, 7), 0);
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrCallbackData, static_cast<void *>(&marker)), 0);
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrCallbackFunction, &OtherCallback), 0);
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrInterval, 0.25), 0);
    int count = 0;
    void *data = nullptr;
    TimerCallback callback = nullptr;
    double interval = 0.0;
    GetTimerAttribute(id_, kTimerAttrCount, &count);
    GetTimerAttribute(id_, kTimerAttrCallbackData, &data);
    GetTimerAttribute(id_, kTimerAttrCallbackFunction, &callback);
    GetTimerAttribute(id_, kTimerAttrInterval, &interval);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(callback, &OtherCallback);
    EXPECT_NEAR(interval, 0.25, 1e-9);
}

TEST_F(TimerAttributeTest, ElapsedTimesAreReadOnly) {
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrTimeSinceFirstTick, 1.0), kTimerErrNotSettable);
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrTimeSincePreviousTick, 1.0), kTimerErrNotSettable);
    double elapsed = -1.0;
    ASSERT_EQ(GetTimerAttribute(id_, kTimerAttrTimeSinceFirstTick, &elapsed), 0);
    EXPECT_EQ(elapsed, 0.0);  // before the first tick
}

TEST_F(TimerAttributeTest, PrioritiesNeedARealTimeSystem) {
    int priority = 0;
    EXPECT_EQ(SetTimerAttribute(id_, kTimerAttrThreadPriority, 1), kTimerErrNoPriorities);
    EXPECT_EQ(GetTimerAttribute(id_, kTimerAttrThreadPriority, &priority), kTimerErrNoPriorities);
    setenv("OS", "Linux", 1);
    EXPECT_EQ(CreateTimerWithPriority(100.0, -1, 0, nullptr, nullptr, 1), kTimerErrNoPriorities);
    setenv("OS", "RTLINU", 1);
    EXPECT_EQ(CreateTimerWithPriority(100.0, -1, 0, nullptr, nullptr, 1), kTimerErrNoPriorities);

    setenv("OS", "rtLinux-6.1", 1);
    // Lowering a thread's priority needs no privileges, so it always applies.
    const int id = CreateTimerWithPriority(100.0, -1, 0, nullptr, nullptr, -3);
    ASSERT_GT(id, 0);
    ASSERT_EQ(GetTimerAttribute(id, kTimerAttrThreadPriority, &priority), 0);
    EXPECT_EQ(priority, -3);
    EXPECT_EQ(SetTimerAttribute(id, kTimerAttrThreadPriority, 1), kTimerErrNotSettable);
}

TEST_F(TimerAttributeTest, NewIntervalTakesEffectAtOnce) {
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrEnabled, 1), 0);
    ASSERT_EQ(SetTimerAttribute(id_, kTimerAttrInterval, 0.01), 0);
    EXPECT_TRUE(first_.WaitForCount(kTimerTickEvent, 2));
}

TEST_F(TimerAttributeTest, DisabledTimerDropsTicksWithoutCountingDown) {
    const int id = CreateTimer(0.01, 2, 0, Recorder::Callback, &second_);
    std::this_thread::sleep_for(kQuietWindow);
    EXPECT_EQ(second_.Events().size(), 0u);
    int count = 0;
    GetTimerAttribute(id, kTimerAttrCount, &count);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(SetTimerAttribute(id, kTimerAttrEnabled, 1), 0);
    ASSERT_TRUE(second_.WaitForCount(kTimerDiscardEvent, 1));
    EXPECT_EQ(second_.Count(kTimerTickEvent), 2);
}

}  // namespace
}  // namespace ostrel::test
