// The panel model: panel operations over the store.
#include "ui/panel.h"

#include <algorithm>
#include <utility>

#include "ui/frontend.h"
#include "ui/operator_input.h"
#include "ui/panel_store.h"

namespace ostrel::ui {
namespace detail {

// Timer and worker threads may still call panel operations while the process
// exits, so the store is never destroyed.
Store &store() {
    static Store *const instance = new Store;
    return *instance;
}

void notifyChanged() {
    currentFrontend()->modelChanged();
}

ControlState *findControl(Store &s, int panel, int control, int *rc) {
    auto p = s.panels.find(panel);
    if (p == s.panels.end()) {
        *rc = UI_NO_PANEL;
        return nullptr;
    }
    auto c = p->second.controls.find(control);
    if (c == p->second.controls.end()) {
        *rc = UI_NO_CONTROL;
        return nullptr;
    }
    return &c->second;
}

}  // namespace detail

using detail::withControl;
using detail::withPanel;

namespace {

bool isRing(const ControlState &c) {
    return c.kind == ControlKind::Ring;
}
bool holdsText(const ControlState &c) {
    return c.kind == ControlKind::TextDisplay || c.kind == ControlKind::TextField ||
           c.kind == ControlKind::TextMessage;
}
bool holdsInt(const ControlState &c) {
    return c.kind == ControlKind::ToggleButton || c.kind == ControlKind::OnOffSwitch;
}

ControlState stateFromDescription(const ControlDescription &description) {
    ControlState c;
    static_cast<ControlDescription &>(c) = description;
    const int last = int(description.items.size()) - 1;
    c.index = last < 0 ? -1 : std::clamp(description.index, 0, last);
    return c;
}

// Selects the first item whose value equals `value`.
template <typename T>
int selectByValue(ControlState &c, const T &value) {
    for (std::size_t i = 0; i < c.items.size(); ++i) {
        const T *v = std::get_if<T>(&c.items[i].value);
        if (v != nullptr && *v == value) {
            c.index = int(i);
            c.reselectLabel.clear();
            return UI_OK;
        }
    }
    return UI_BAD_INDEX;
}

// Reads the selected item's value as T.
template <typename T>
int selectedValue(const ControlState &c, T *out) {
    if (c.index < 0) return UI_BAD_INDEX;
    const T *v = std::get_if<T>(&c.items[c.index].value);
    if (v == nullptr) return UI_WRONG_KIND;
    *out = *v;
    return UI_OK;
}

}  // namespace

// --- Panel lifecycle ---------------------------------------------------------

int loadPanel(const PanelDescription &description) {
    detail::Store &s = detail::store();
    int handle = 0;
    {
        std::lock_guard lock(s.mutex);
        handle = s.nextHandle++;
        PanelState p;
        p.handle = handle;
        p.title = description.title;
        p.width = description.width;
        p.height = description.height;
        p.revision = ++s.revision;
        for (const ControlDescription &c : description.controls) {
            p.controls[c.id] = stateFromDescription(c);
            p.controls[c.id].revision = p.revision;
        }
        s.panels[handle] = std::move(p);
    }
    detail::notifyChanged();
    return handle;
}

int discardPanel(int panel) {
    detail::Store &s = detail::store();
    {
        std::lock_guard lock(s.mutex);
        if (s.panels.erase(panel) == 0) return UI_NO_PANEL;
        ++s.revision;
    }
    detail::notifyChanged();
    return UI_OK;
}

int displayPanel(int panel) {
    return withPanel(panel, true, [](PanelState &p) {
        p.displayed = true;
        return UI_OK;
    });
}

int installPanelCallback(int panel, PanelCallback callback, void *callbackData) {
    return withPanel(panel, false, [&](PanelState &p) {
        p.callback = callback;
        p.callbackData = callbackData;
        return UI_OK;
    });
}

int installControlCallback(int panel, int control, ControlCallback callback, void *callbackData) {
    return withControl(panel, control, false, [&](ControlState &c) {
        c.callback = callback;
        c.callbackData = callbackData;
        return UI_OK;
    });
}

// --- Values ------------------------------------------------------------------

int setValue(int panel, int control, int value) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (isRing(c)) return selectByValue(c, value);
        if (!holdsInt(c)) return UI_WRONG_KIND;
        c.value = value != 0 ? 1 : 0;
        return UI_OK;
    });
}

int setValue(int panel, int control, std::string_view text) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (isRing(c)) return selectByValue(c, std::string(text));
        if (!holdsText(c)) return UI_WRONG_KIND;
        c.value = std::string(text);
        return UI_OK;
    });
}

int getValue(int panel, int control, int *value) {
    return withControl(panel, control, false, [&](ControlState &c) {
        if (isRing(c)) return selectedValue(c, value);
        if (!holdsInt(c)) return UI_WRONG_KIND;
        *value = std::get<int>(c.value);
        return UI_OK;
    });
}

int getValue(int panel, int control, std::string *text) {
    return withControl(panel, control, false, [&](ControlState &c) {
        if (isRing(c)) return selectedValue(c, text);
        if (!holdsText(c)) return UI_WRONG_KIND;
        *text = std::get<std::string>(c.value);
        return UI_OK;
    });
}

// --- Rings -------------------------------------------------------------------

int getRingIndex(int panel, int control, int *index) {
    return withControl(panel, control, false, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        *index = c.index;
        return UI_OK;
    });
}

int setRingIndex(int panel, int control, int index) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        if (index < 0 || index >= int(c.items.size())) return UI_BAD_INDEX;
        c.index = index;
        c.reselectLabel.clear();
        return UI_OK;
    });
}

int clearRing(int panel, int control) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        if (c.index >= 0) c.reselectLabel = c.items[c.index].label;
        c.items.clear();
        c.index = -1;
        return UI_OK;
    });
}

int insertRingItem(int panel, int control, int position, std::string_view label,
                   const Value &value) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        const int count = int(c.items.size());
        if (position == -1) position = count;
        if (position < 0 || position > count) return UI_BAD_INDEX;
        c.items.insert(c.items.begin() + position, RingItem{std::string(label), value});
        if (c.index < 0 || position <= c.index) ++c.index;  // keeps the selected item
        if (!c.reselectLabel.empty() && c.reselectLabel == label) {
            c.index = position;
            c.reselectLabel.clear();
        }
        return UI_OK;
    });
}

// The same items again are no change: the view is not told, so a periodic
// refill with nothing new costs it nothing.
int replaceRingItems(int panel, int control, std::vector<RingItem> items) {
    detail::Store &s = detail::store();
    {
        std::lock_guard lock(s.mutex);
        int rc = UI_OK;
        ControlState *c = detail::findControl(s, panel, control, &rc);
        if (c == nullptr) return rc;
        if (!isRing(*c)) return UI_WRONG_KIND;
        if (c->items == items) return UI_OK;
        const std::string selected = c->index >= 0 ? c->items[c->index].label : c->reselectLabel;
        c->items = std::move(items);
        c->index = c->itemIndexOf(selected);
        c->reselectLabel = c->index < 0 ? selected : std::string();
        if (c->index < 0 && !c->items.empty()) c->index = 0;
        c->revision = ++s.revision;
    }
    detail::notifyChanged();
    return UI_OK;
}

int getRingItemCount(int panel, int control, int *count) {
    return withControl(panel, control, false, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        *count = int(c.items.size());
        return UI_OK;
    });
}

int getRingItemLabel(int panel, int control, int index, std::string *label) {
    return withControl(panel, control, false, [&](ControlState &c) {
        if (!isRing(c)) return UI_WRONG_KIND;
        if (index < 0 || index >= int(c.items.size())) return UI_BAD_INDEX;
        *label = c.items[std::size_t(index)].label;
        return UI_OK;
    });
}

// --- Control attributes ------------------------------------------------------

int setVisible(int panel, int control, bool visible) {
    return withControl(panel, control, true, [&](ControlState &c) {
        c.visible = visible;
        return UI_OK;
    });
}

int setDimmed(int panel, int control, bool dimmed) {
    return withControl(panel, control, true, [&](ControlState &c) {
        c.dimmed = dimmed;
        return UI_OK;
    });
}

int setLabel(int panel, int control, std::string_view label) {
    return withControl(panel, control, true, [&](ControlState &c) {
        c.label = std::string(label);
        return UI_OK;
    });
}

int getTop(int panel, int control, int *top) {
    return withControl(panel, control, false, [&](ControlState &c) {
        *top = c.body.top;
        return UI_OK;
    });
}

int setTop(int panel, int control, int top) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (!c.labelRect.empty()) c.labelRect.top += top - c.body.top;
        c.body.top = top;
        return UI_OK;
    });
}

// --- Panel attributes --------------------------------------------------------

int getPanelHeight(int panel, int *height) {
    return withPanel(panel, false, [&](PanelState &p) {
        *height = p.height;
        return UI_OK;
    });
}

int setPanelHeight(int panel, int height) {
    return withPanel(panel, true, [&](PanelState &p) {
        if (height < 0) return UI_BAD_INDEX;
        p.height = height;
        return UI_OK;
    });
}

int setPanelTop(int panel, int top) {
    return withPanel(panel, true, [&](PanelState &p) {
        p.top = top;
        return UI_OK;
    });
}

int setPanelLeft(int panel, int left) {
    return withPanel(panel, true, [&](PanelState &p) {
        p.left = left;
        return UI_OK;
    });
}

// --- Strip charts ------------------------------------------------------------

int plotPoint(int panel, int control, float y) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (c.kind != ControlKind::StripChart) return UI_WRONG_KIND;
        c.chart.recent.push_back(y);
        if (c.chart.recent.size() > CHART_POINTS_PER_SCREEN) c.chart.recent.pop_front();
        ++c.chart.total;
        // A marker goes with its point: once x <= total - one screen it is off screen.
        std::deque<ChartMarker> &markers = c.chart.markers;
        while (!markers.empty() && markers.front().x + CHART_POINTS_PER_SCREEN <= c.chart.total)
            markers.pop_front();
        return UI_OK;
    });
}

int addChartMarker(int panel, int control, int number) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (c.kind != ControlKind::StripChart) return UI_WRONG_KIND;
        c.chart.markers.push_back({c.chart.total, number});
        if (c.chart.markers.size() > CHART_MARKERS_KEPT) c.chart.markers.pop_front();
        return UI_OK;
    });
}

int setYAxisRange(int panel, int control, double min, double max) {
    return withControl(panel, control, true, [&](ControlState &c) {
        if (c.kind != ControlKind::StripChart) return UI_WRONG_KIND;
        if (!(min < max)) return UI_BAD_INDEX;
        c.chart.yMin = min;
        c.chart.yMax = max;
        return UI_OK;
    });
}

// --- Cursor, dialogs, event loop -----------------------------------------------

void setBusyCursor(bool busy) {
    detail::Store &s = detail::store();
    {
        std::lock_guard lock(s.mutex);
        if (s.busy == busy) return;
        s.busy = busy;
        ++s.revision;
    }
    detail::notifyChanged();
}

void showMessage(std::string_view title, std::string_view text) {
    currentFrontend()->showMessage(std::string(title), std::string(text));
}

void postMessage(std::string_view title, std::string_view text) {
    currentFrontend()->postMessage(std::string(title), std::string(text));
}

int selectDirectory(std::string_view title, std::string *path) {
    std::optional<std::string> chosen = currentFrontend()->selectDirectory(std::string(title));
    if (!chosen) return 0;
    *path = std::move(*chosen);
    return 1;
}

void serveMessages() {
    const std::shared_ptr<Frontend> frontend = currentFrontend();
    if (!frontend->isGuiThread()) return;
    const InputHold hold;
    frontend->serveMessages();
}

int runEventLoop() {
    return currentFrontend()->runEventLoop();
}

void quitEventLoop(int status) {
    currentFrontend()->quitEventLoop(status);
}

}  // namespace ostrel::ui
