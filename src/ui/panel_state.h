// Snapshot types of the panel model: what a panel and its controls hold at one
// moment. The view renders from them; tests inspect them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/panel_types.h"

namespace ostrel::ui {

// Number of chart points kept per strip chart: one screen of the view.
inline constexpr std::size_t CHART_POINTS_PER_SCREEN = 100;

// Markers kept per strip chart at most; beyond it the oldest goes first.
inline constexpr std::size_t CHART_MARKERS_KEPT = 64;

// An event marker on a strip chart: a number placed at the point that was the
// newest when it was added.
struct ChartMarker {
    std::uint64_t x = 0;  // the chart's total when it was added: the newest point's x
    int number = 0;
    bool operator==(const ChartMarker &) const = default;
};

// x of a point: the n-th point plotted since load has x = n, so the screen
// shows x in (total - CHART_POINTS_PER_SCREEN, total].
struct ChartState {
    std::deque<float> recent;  // the last CHART_POINTS_PER_SCREEN points, oldest first
    std::uint64_t total = 0;   // points appended since load
    double yMin = -100.0;
    double yMax = 100.0;
    // The markers whose point is still among `recent` (or that were placed
    // before any point), oldest first; at most CHART_MARKERS_KEPT.
    std::deque<ChartMarker> markers;
};

// A control as it is now: its load-time description as changed since, plus the
// attributes that only exist at run time.
struct ControlState : ControlDescription {
    std::string reselectLabel;  // selected label before the last clear, until seen again
    bool visible = true;
    bool dimmed = false;
    ChartState chart;
    ControlCallback callback = nullptr;
    void *callbackData = nullptr;
    std::uint64_t revision = 0;  // model revision of the last change

    // The ring's selected item label, or "" when it has none.
    std::string selectedLabel() const;
    // Index of the first ring item labelled `label`; -1 when none is.
    int itemIndexOf(std::string_view label) const;
    // The displayed text of a text control, "" otherwise.
    std::string text() const;
    // The integer value of a button, switch or integer ring; 0 otherwise.
    int intValue() const;
};

// A panel's own properties.
struct PanelProperties {
    int handle = 0;
    std::string title;
    int top = AUTO_CENTER;
    int left = AUTO_CENTER;
    int width = 0;
    int height = 0;
    bool displayed = false;
    PanelCallback callback = nullptr;
    void *callbackData = nullptr;
    std::uint64_t revision = 0;  // revision of the last change of a panel property
};

struct PanelState : PanelProperties {
    std::map<int, ControlState> controls;
};

// Copies of the current state; empty when the panel or control does not exist.
std::optional<PanelState> panelState(int panel);
std::optional<ControlState> controlState(int panel, int control);

// The panel's own properties plus only the controls changed after `revision`.
std::optional<PanelState> panelChangesSince(int panel, std::uint64_t revision);

// The newest revision of the whole model; grows with every change.
std::uint64_t modelRevision();

// Handles of the panels loaded now, in load order.
std::vector<int> loadedPanels();

bool busyCursor();

}  // namespace ostrel::ui
