// Operator input: what reaches the callbacks, and what is refused.
#include "ui/operator_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_panel.h"
#include "ui/panel_state.h"

namespace ostrel::ui {
namespace {

using namespace testing;

struct Event {
    int control;
    int event;
    int valueSeen;
};
std::vector<Event> events;

int recordControl(int panel, int control, int event, void *, int, int) {
    int value = -1;
    getValue(panel, control, &value);
    events.push_back({control, event, value});
    return 0;
}

int recordPanel(int, int event, void *, int, int) {
    events.push_back({0, event, 0});
    return 0;
}

class OperatorInput : public ::testing::Test {
  protected:
    void SetUp() override {
        panel = loadPanel(testPanel());
        for (int id : {RING, TOGGLE, SWITCH, FIELD, BUTTON, DISPLAY}) {
            installControlCallback(panel, id, recordControl, nullptr);
        }
        installPanelCallback(panel, recordPanel, nullptr);
        events.clear();
    }
    void TearDown() override {
        while (modalActive()) leaveModal();
        discardPanel(panel);
    }
    int panel = 0;
};

TEST_F(OperatorInput, CommitArrivesAfterTheModelChanged) {
    EXPECT_TRUE(operatorSelectRingItem(panel, RING, 2));
    EXPECT_TRUE(operatorPressButton(panel, TOGGLE));
    EXPECT_TRUE(operatorPressButton(panel, TOGGLE));
    EXPECT_TRUE(operatorSetSwitch(panel, SWITCH, 1));
    EXPECT_TRUE(operatorPressButton(panel, BUTTON));
    EXPECT_TRUE(operatorEditText(panel, FIELD, "/tmp/logs")) << "stored, no commit";
    // The callback reads the new selection; a toggle press flips its value.
    std::vector<std::tuple<int, int, int>> seen;
    for (const Event &e : events) seen.emplace_back(e.control, e.event, e.valueSeen);
    EXPECT_EQ(seen, (std::vector<std::tuple<int, int, int>>{{RING, EVENT_COMMIT, 3},
                                                            {TOGGLE, EVENT_COMMIT, 1},
                                                            {TOGGLE, EVENT_COMMIT, 0},
                                                            {SWITCH, EVENT_COMMIT, 1},
                                                            {BUTTON, EVENT_COMMIT, -1}}));
    EXPECT_EQ(controlState(panel, FIELD)->text(), "/tmp/logs");
}

TEST_F(OperatorInput, DimmedHiddenOrWrongKindIsRefused) {
    setDimmed(panel, RING, true);
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 0));
    setVisible(panel, TOGGLE, false);
    EXPECT_FALSE(operatorPressButton(panel, TOGGLE));
    EXPECT_FALSE(operatorSelectRingItem(panel, TEXT_RING, 0)) << "no such item";
    EXPECT_FALSE(operatorPressButton(panel, DISPLAY));
    EXPECT_FALSE(operatorEditText(panel, DISPLAY, "x"));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(controlState(panel, RING)->index, 1);
}

// The view shows "one two three"; the model's ring changed meanwhile. The
// operator gets the item whose label was seen, or nothing.
TEST_F(OperatorInput, ARingChoiceCarriesTheLabelSeen) {
    replaceRingItems(panel, RING, {{"two", 2}, {"three", 3}});  // "one" went away
    EXPECT_TRUE(operatorSelectRingItem(panel, RING, 1, "two"));
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), "two") << "not the model's item 1";
    EXPECT_TRUE(operatorSelectRingItem(panel, RING, 1, "three")) << "same place, same label";
    EXPECT_EQ(controlState(panel, RING)->index, 1);
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 0, "one")) << "no longer listed";
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 7, "gone"));
    EXPECT_EQ(controlState(panel, RING)->selectedLabel(), "three");
    ASSERT_EQ(events.size(), 2u) << "a refused choice commits nothing";
    EXPECT_EQ(events[0].valueSeen, 2);
}

TEST_F(OperatorInput, NothingIsTakenWhileAModalMessageIsUp) {
    enterModal();
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 0));
    EXPECT_FALSE(operatorPressButton(panel, BUTTON));
    EXPECT_FALSE(operatorClosePanel(panel)) << "closing included";
    leaveModal();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(operatorClosePanel(panel));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, EVENT_CLOSE);
}

}  // namespace
}  // namespace ostrel::ui
