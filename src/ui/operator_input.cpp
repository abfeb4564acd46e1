#include "ui/operator_input.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ui/frontend.h"
#include "ui/panel_store.h"

namespace ostrel::ui {
namespace {

std::atomic<int> modalDepth{0};

// Closes that arrived while input was held, in their order. Never destroyed: a late leave
// during exit still finds it.
struct RememberedCloses {
    std::mutex mutex;  // guards panels
    std::vector<int> panels;
};

RememberedCloses &remembered() {
    static RememberedCloses *const closes = new RememberedCloses;
    return *closes;
}

void rememberClose(int panel) {
    RememberedCloses &r = remembered();
    std::lock_guard lock(r.mutex);
    r.panels.push_back(panel);
}

bool deliverClose(int panel);
bool deliverPanelEvent(int panel, int event, int eventData1);

// From the event loop, once no hold is left; a hold that began meanwhile delays it again.
void deliverRememberedCloses() {
    if (modalActive()) return;
    std::vector<int> due;
    {
        RememberedCloses &r = remembered();
        std::lock_guard lock(r.mutex);
        due.swap(r.panels);
    }
    for (int panel : due) deliverClose(panel);
}

void scheduleRememberedCloses() {
    {
        RememberedCloses &r = remembered();
        std::lock_guard lock(r.mutex);
        if (r.panels.empty()) return;
    }
    currentFrontend()->post(deliverRememberedCloses);
}

struct Commit {
    ControlCallback callback = nullptr;
    void *data = nullptr;
};

// Applies the operator's change under the store lock when the control takes
// input, then delivers the commit event outside the lock.
template <typename Change>
bool operate(int panel, int control, Change &&change) {
    if (modalActive()) return false;
    Commit commit;
    const int rc = detail::withControl(panel, control, true, [&](ControlState &c) {
        if (!c.visible || c.dimmed) return UI_BAD_INDEX;
        const int result = change(c);
        commit = {c.callback, c.callbackData};
        return result;
    });
    if (rc != UI_OK) return false;
    if (commit.callback != nullptr)
        commit.callback(panel, control, EVENT_COMMIT, commit.data, 0, 0);
    return true;
}

}  // namespace

bool operatorSelectRingItem(int panel, int control, int index) {
    return operate(panel, control, [&](ControlState &c) {
        if (c.kind != ControlKind::Ring) return UI_WRONG_KIND;
        if (index < 0 || index >= int(c.items.size())) return UI_BAD_INDEX;
        c.index = index;
        c.reselectLabel.clear();
        return UI_OK;
    });
}

bool operatorSelectRingItem(int panel, int control, int index, std::string_view seenLabel) {
    return operate(panel, control, [&](ControlState &c) {
        if (c.kind != ControlKind::Ring) return UI_WRONG_KIND;
        const bool sameItem =
            index >= 0 && index < int(c.items.size()) && c.items[index].label == seenLabel;
        if (!sameItem) index = c.itemIndexOf(seenLabel);
        if (index < 0) return UI_BAD_INDEX;
        c.index = index;
        c.reselectLabel.clear();
        return UI_OK;
    });
}

bool operatorPressButton(int panel, int control) {
    return operate(panel, control, [&](ControlState &c) {
        if (c.kind == ControlKind::ToggleButton) {
            c.value = c.intValue() != 0 ? 0 : 1;
            return UI_OK;
        }
        return c.kind == ControlKind::CommandButton ? UI_OK : UI_WRONG_KIND;
    });
}

bool operatorSetSwitch(int panel, int control, int value) {
    return operate(panel, control, [&](ControlState &c) {
        if (c.kind != ControlKind::OnOffSwitch) return UI_WRONG_KIND;
        c.value = value != 0 ? 1 : 0;
        return UI_OK;
    });
}

bool operatorEditText(int panel, int control, std::string_view text) {
    if (modalActive()) return false;
    const int rc = detail::withControl(panel, control, true, [&](ControlState &c) {
        if (c.kind != ControlKind::TextField || c.dimmed) return UI_WRONG_KIND;
        c.value = std::string(text);
        return UI_OK;
    });
    return rc == UI_OK;
}

bool operatorPressKey(int panel, int key) {
    if (modalActive()) return false;
    return deliverPanelEvent(panel, EVENT_KEYPRESS, key);
}

bool operatorClosePanel(int panel) {
    if (modalActive()) {
        rememberClose(panel);
        return false;
    }
    return deliverClose(panel);
}

int rememberedCloseCount() {
    RememberedCloses &r = remembered();
    std::lock_guard lock(r.mutex);
    return int(r.panels.size());
}

void enterModal() {
    modalDepth.fetch_add(1);
}
void leaveModal() {
    if (modalDepth.fetch_sub(1) == 1) scheduleRememberedCloses();
}
bool modalActive() {
    return modalDepth.load() > 0;
}

GuiWait::GuiWait() : holding_(currentFrontend()->isGuiThread()) {
    if (holding_) enterModal();
}

GuiWait::~GuiWait() {
    if (holding_) leaveModal();
}

namespace {

bool deliverPanelEvent(int panel, int event, int eventData1) {
    PanelCallback callback = nullptr;
    void *data = nullptr;
    const int rc = detail::withPanel(panel, false, [&](PanelState &p) {
        callback = p.callback;
        data = p.callbackData;
        return UI_OK;
    });
    if (rc != UI_OK) return false;
    if (callback != nullptr) callback(panel, event, data, eventData1, 0);
    return true;
}

bool deliverClose(int panel) {
    return deliverPanelEvent(panel, EVENT_CLOSE, 0);
}

}  // namespace

}  // namespace ostrel::ui
