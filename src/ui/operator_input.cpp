#include "ui/operator_input.h"

#include <atomic>
#include <string>

#include "ui/panel_store.h"

namespace ostrel::ui {
namespace {

std::atomic<int> modalDepth{0};

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

bool operatorClosePanel(int panel) {
    if (modalActive()) return false;
    PanelCallback callback = nullptr;
    void *data = nullptr;
    const int rc = detail::withPanel(panel, false, [&](PanelState &p) {
        callback = p.callback;
        data = p.callbackData;
        return UI_OK;
    });
    if (rc != UI_OK) return false;
    if (callback != nullptr) callback(panel, EVENT_CLOSE, data, 0, 0);
    return true;
}

void enterModal() {
    modalDepth.fetch_add(1);
}
void leaveModal() {
    modalDepth.fetch_sub(1);
}
bool modalActive() {
    return modalDepth.load() > 0;
}

}  // namespace ostrel::ui
