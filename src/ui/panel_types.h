// Vocabulary of the panel runtime: control kinds, geometry, values, callbacks
// and the static description a panel is built from.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace ostrel::ui {

enum class ControlKind {
    Ring,           // pick one of a list of (label, value) items
    TextDisplay,    // one-line text the program writes
    TextField,      // one-line text the operator edits
    ToggleButton,   // stays in (1) or out (0); each state has its own text
    OnOffSwitch,    // 0 = "Off", 1 = "On"
    CommandButton,  // no value; pressing it commits
    TextMessage,    // static text
    Picture,        // static image
    StripChart,     // scrolling chart with one trace
};

// Event codes delivered to callbacks.
inline constexpr int EVENT_COMMIT = 1;
inline constexpr int EVENT_CLOSE = 11;
// A key the panel takes for itself (not a control's): eventData1 is one of the KEY_ codes.
inline constexpr int EVENT_KEYPRESS = 21;
inline constexpr int KEY_MARKER = 1;  // Ctrl+M: set an event marker

// Result codes of panel operations (0 = success).
inline constexpr int UI_OK = 0;
inline constexpr int UI_NO_PANEL = -1;
inline constexpr int UI_NO_CONTROL = -2;
inline constexpr int UI_WRONG_KIND = -3;
inline constexpr int UI_BAD_INDEX = -4;
inline constexpr int UI_NO_FRONTEND = -5;

// Panel position value that asks the runtime to centre the panel.
inline constexpr int AUTO_CENTER = -32768;

using ControlCallback = int (*)(int panel, int control, int event, void *callbackData,
                                int eventData1, int eventData2);
using PanelCallback = int (*)(int panel, int event, void *callbackData, int eventData1,
                              int eventData2);

struct Rect {
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool operator==(const Rect &) const = default;
};

// Builds a rectangle from its (top, left) and (bottom, right) corners.
constexpr Rect corners(int top, int left, int bottom, int right) {
    return Rect{top, left, right - left, bottom - top};
}

// A control's value: an integer (rings with integer items, buttons, switches)
// or a text (displays, fields, rings with text items).
using Value = std::variant<int, std::string>;

struct RingItem {
    std::string label;
    Value value;
    bool operator==(const RingItem &) const = default;
};

// What a control looks like when its panel is loaded.
struct ControlDescription {
    int id = 0;
    std::string constantName;
    ControlKind kind = ControlKind::TextDisplay;
    std::string label;  // "" when the control has no label
    Rect body;
    Rect labelRect;  // empty when no label is drawn
    Value value = std::string();
    std::vector<RingItem> items;  // rings only
    int index = -1;               // selected ring item; -1 with no items
    std::string onText;           // toggle button text while its value is 1
    std::string offText;          // toggle button text while its value is 0
};

struct PanelDescription {
    std::string title;
    int width = 0;
    int height = 0;
    std::vector<ControlDescription> controls;
};

}  // namespace ostrel::ui
