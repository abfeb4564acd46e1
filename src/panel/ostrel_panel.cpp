#include "panel/ostrel_panel.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "telemetry/tables.h"

namespace ostrel {
namespace {

using ui::ControlDescription;
using ui::ControlKind;
using ui::corners;
using ui::RingItem;

// Design height of the panel; start-up sets the real height before showing it.
constexpr int DESIGN_HEIGHT = 647;

std::vector<RingItem> channelItems(int count) {
    std::vector<RingItem> items;
    for (int n = 1; n <= count; ++n) items.push_back({"Channel " + std::to_string(n), n});
    return items;
}

ControlDescription control(int id, std::string name, ControlKind kind, std::string label,
                           ui::Rect labelRect, ui::Rect body, ui::Value value) {
    ControlDescription c;
    c.id = id;
    c.constantName = std::move(name);
    c.kind = kind;
    c.label = std::move(label);
    c.body = body;
    c.labelRect = labelRect;
    c.value = std::move(value);
    return c;
}

ControlDescription ring(int id, std::string name, std::string label, ui::Rect labelRect,
                        ui::Rect body, std::vector<RingItem> items, int index) {
    ControlDescription c =
        control(id, std::move(name), ControlKind::Ring, std::move(label), labelRect, body, 0);
    c.items = std::move(items);
    c.index = index;
    return c;
}

// Channel n (1..32): a 4-column grid, 175 pixels between columns, 25 between rows.
ControlDescription channelDisplay(int n) {
    const int row = (n - 1) / 4;
    const int column = (n - 1) % 4;
    const int top = 190 + 25 * row;
    const ui::Rect label{top, 46 + 175 * column, 66, 15};
    const ui::Rect body{top, 115 + 175 * column, 69, 15};
    const int id = panel_rings[n - 1];
    return control(id, "channel_" + std::to_string(n), ControlKind::TextDisplay,
                   "Channel " + std::to_string(n), label, body, std::string());
}

std::vector<ControlDescription> settingsAndHeader() {
    std::vector<RingItem> types;
    for (const TelemetryType &type : telemetry_types) {
        types.push_back({std::string(type.label), type.item_value});
    }
    std::vector<RingItem> speeds;
    for (const TelemetrySpeed &speed : telemetry_speeds) {
        speeds.push_back({std::string(speed.label), speed.item_value});
    }
    return {
        ring(CHART_SLIDE_2, "CHART_SLIDE_2", "Channel", corners(414, 414, 429, 463),
             corners(412, 473, 431, 643), channelItems(8), 1),
        ring(CHART_SLIDE_1, "CHART_SLIDE_1", "Channel", corners(414, 62, 429, 111),
             corners(412, 121, 431, 291), channelItems(8), 0),
        ring(SPEED_SLIDE, "SPEED_SLIDE", "Telemtry Speed", corners(110, 12, 125, 103),
             corners(108, 112, 127, 282), speeds, default_speed_index),
        ring(CH_SLIDE, "CH_SLIDE", "Telemtry Type", corners(80, 12, 95, 95),
             corners(78, 112, 97, 282), types, default_telemetry_type),
        control(timebase, "timebase", ControlKind::TextDisplay, "Diagram Time Base",
                corners(618, 266, 633, 361), corners(618, 365, 633, 434), std::string()),
    };
}

std::vector<ControlDescription> loggingAndMeasurement() {
    ControlDescription module =
        ring(usbinterface, "usbinterface", "USB Interface", corners(140, 12, 155, 95),
             corners(138, 112, 157, 200), {}, -1);
    module.value = std::string();
    ControlDescription startStop =
        control(meas_start_stop, "meas_start_stop", ControlKind::ToggleButton, "Measurement",
                corners(118, 723, 133, 790), corners(137, 730, 160, 777), 0);
    startStop.onText = "STOP";
    startStop.offText = "START";
    return {
        module,
        startStop,
        control(TEXTMSG, "TEXTMSG", ControlKind::TextMessage, "", {}, corners(12, 296, 40, 463),
                std::string("Ostrel")),
        control(PICTURE, "PICTURE", ControlKind::Picture, "", {}, corners(15, 715, 95, 812),
                std::string()),
        control(CHART_2, "CHART_2", ControlKind::StripChart, "", {}, corners(437, 412, 606, 737),
                0),
        control(CHART, "CHART", ControlKind::StripChart, "", {}, corners(437, 62, 606, 387), 0),
        control(LOGPATH, "LOGPATH", ControlKind::TextField, "Log-Output-Path",
                corners(81, 313, 96, 409), corners(81, 417, 96, 531), defaultLogDirectory()),
        control(LOGPATHBUTTON, "LOGPATHBUTTON", ControlKind::CommandButton, "__Path", {},
                corners(77, 587, 100, 663), 0),
        control(LOG_STATE, "LOG_STATE", ControlKind::OnOffSwitch, "Log To File",
                corners(112, 312, 127, 379), corners(112, 412, 127, 467), 0),
        control(CHARTSSWITCH, "CHARTSSWITCH", ControlKind::OnOffSwitch, "Show Charts",
                corners(140, 312, 155, 386), corners(140, 412, 155, 467), 0),
        ring(FILE_SEP, "FILE_SEP", "File-Sep.", corners(112, 524, 127, 577),
             corners(112, 587, 131, 661), {{"Comma", 1}, {"Tab", 2}}, 0),
    };
}

}  // namespace

std::string defaultLogDirectory() {
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    const passwd *user = getpwuid(getuid());
    if (user != nullptr && user->pw_dir != nullptr) return user->pw_dir;
    return "/";
}

ui::PanelDescription mainPanelDescription() {
    ui::PanelDescription panel{PANEL_TITLE, PANEL_WIDTH, DESIGN_HEIGHT, {}};
    for (ControlDescription &c : settingsAndHeader()) panel.controls.push_back(std::move(c));
    for (int n = 1; n <= CHANNEL_DISPLAYS; ++n) panel.controls.push_back(channelDisplay(n));
    for (ControlDescription &c : loggingAndMeasurement()) panel.controls.push_back(std::move(c));
    return panel;
}

}  // namespace ostrel
