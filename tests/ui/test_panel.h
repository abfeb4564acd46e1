// A small panel with one control of each kind the tests operate.
#pragma once

#include "ui/panel.h"

namespace ostrel::ui::testing {

enum {
    RING = 2,
    TEXT_RING = 3,
    DISPLAY = 4,
    TOGGLE = 5,
    CHART_ID = 6,
    SWITCH = 7,
    FIELD = 8,
    BUTTON = 9
};

inline ControlDescription control(int id, ControlKind kind, Value value = 0) {
    ControlDescription c;
    c.id = id;
    c.kind = kind;
    c.value = std::move(value);
    return c;
}

inline PanelDescription testPanel() {
    ControlDescription ring = control(RING, ControlKind::Ring);
    ring.items = {{"one", 1}, {"two", 2}, {"three", 3}};
    ring.index = 1;
    ring.body = {100, 50, 80, 20};
    ring.labelRect = {102, 10, 30, 15};
    return {"Test",
            300,
            200,
            {ring, control(TEXT_RING, ControlKind::Ring),
             control(DISPLAY, ControlKind::TextDisplay, std::string("initial")),
             control(TOGGLE, ControlKind::ToggleButton), control(CHART_ID, ControlKind::StripChart),
             control(SWITCH, ControlKind::OnOffSwitch),
             control(FIELD, ControlKind::TextField, std::string()),
             control(BUTTON, ControlKind::CommandButton)}};
}

}  // namespace ostrel::ui::testing
