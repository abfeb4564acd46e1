// Operator input: what reaches the callbacks, and what is refused.
#include "ui/operator_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/panel.h"
#include "ui/panel_state.h"

namespace ostrel::ui {
namespace {

enum { RING = 2, TOGGLE = 3, SWITCH = 4, FIELD = 5, BUTTON = 6, DISPLAY = 7 };

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

ControlDescription make(int id, ControlKind kind, Value value) {
    ControlDescription c;
    c.id = id;
    c.kind = kind;
    c.value = std::move(value);
    return c;
}

class OperatorInput : public ::testing::Test {
  protected:
    void SetUp() override {
        PanelDescription description{"Test", 100, 100, {}};
        ControlDescription ring = make(RING, ControlKind::Ring, 0);
        ring.items = {{"a", 10}, {"b", 20}};
        ring.index = 0;
        description.controls = {ring,
                                make(TOGGLE, ControlKind::ToggleButton, 0),
                                make(SWITCH, ControlKind::OnOffSwitch, 0),
                                make(FIELD, ControlKind::TextField, std::string()),
                                make(BUTTON, ControlKind::CommandButton, 0),
                                make(DISPLAY, ControlKind::TextDisplay, std::string())};
        panel = loadPanel(description);
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
    EXPECT_TRUE(operatorSelectRingItem(panel, RING, 1));
    EXPECT_TRUE(operatorPressButton(panel, TOGGLE));
    EXPECT_TRUE(operatorPressButton(panel, TOGGLE));
    EXPECT_TRUE(operatorSetSwitch(panel, SWITCH, 1));
    EXPECT_TRUE(operatorPressButton(panel, BUTTON));
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].control, RING);
    EXPECT_EQ(events[0].event, EVENT_COMMIT);
    EXPECT_EQ(events[0].valueSeen, 20) << "the callback reads the new selection";
    EXPECT_EQ(events[1].valueSeen, 1) << "a toggle press flips its value";
    EXPECT_EQ(events[2].valueSeen, 0);
    EXPECT_EQ(events[3].valueSeen, 1);
    EXPECT_EQ(events[4].control, BUTTON);
}

TEST_F(OperatorInput, EditedTextIsStoredWithoutCommit) {
    EXPECT_TRUE(operatorEditText(panel, FIELD, "/tmp/logs"));
    std::string text;
    getValue(panel, FIELD, &text);
    EXPECT_EQ(text, "/tmp/logs");
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(operatorEditText(panel, DISPLAY, "x")) << "displays are not editable";
}

TEST_F(OperatorInput, DimmedHiddenOrWrongKindIsRefused) {
    setDimmed(panel, RING, true);
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 1));
    setDimmed(panel, RING, false);
    setVisible(panel, TOGGLE, false);
    EXPECT_FALSE(operatorPressButton(panel, TOGGLE));
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 5));
    EXPECT_FALSE(operatorPressButton(panel, DISPLAY));
    EXPECT_FALSE(operatorSetSwitch(panel, TOGGLE, 1));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(controlState(panel, RING)->index, 0);
}

TEST_F(OperatorInput, NothingIsTakenWhileAModalMessageIsUp) {
    enterModal();
    EXPECT_FALSE(operatorSelectRingItem(panel, RING, 1));
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
