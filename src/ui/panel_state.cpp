#include "ui/panel_state.h"

#include <mutex>

#include "ui/panel_store.h"

namespace ostrel::ui {

std::string ControlState::selectedLabel() const {
    return index >= 0 && index < int(items.size()) ? items[index].label : std::string();
}

int ControlState::itemIndexOf(std::string_view label) const {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].label == label) return int(i);
    }
    return -1;
}

std::string ControlState::text() const {
    const std::string *t = std::get_if<std::string>(&value);
    return t != nullptr ? *t : std::string();
}

int ControlState::intValue() const {
    if (kind == ControlKind::Ring) {
        if (index < 0 || index >= int(items.size())) return 0;
        const int *v = std::get_if<int>(&items[index].value);
        return v != nullptr ? *v : 0;
    }
    const int *v = std::get_if<int>(&value);
    return v != nullptr ? *v : 0;
}

std::optional<PanelState> panelState(int panel) {
    return panelChangesSince(panel, 0);
}

std::optional<ControlState> controlState(int panel, int control) {
    detail::Store &s = detail::store();
    std::lock_guard lock(s.mutex);
    int rc = UI_OK;
    const ControlState *c = detail::findControl(s, panel, control, &rc);
    if (c == nullptr) return std::nullopt;
    return *c;
}

std::optional<PanelState> panelChangesSince(int panel, std::uint64_t revision) {
    detail::Store &s = detail::store();
    std::lock_guard lock(s.mutex);
    auto it = s.panels.find(panel);
    if (it == s.panels.end()) return std::nullopt;
    const PanelState &p = it->second;
    PanelState copy;
    static_cast<PanelProperties &>(copy) = p;
    for (const auto &[id, control] : p.controls) {
        if (control.revision > revision) copy.controls.emplace(id, control);
    }
    return copy;
}

std::uint64_t modelRevision() {
    detail::Store &s = detail::store();
    std::lock_guard lock(s.mutex);
    return s.revision;
}

std::vector<int> loadedPanels() {
    detail::Store &s = detail::store();
    std::lock_guard lock(s.mutex);
    std::vector<int> handles;
    for (const auto &entry : s.panels) handles.push_back(entry.first);
    return handles;
}

bool busyCursor() {
    detail::Store &s = detail::store();
    std::lock_guard lock(s.mutex);
    return s.busy;
}

}  // namespace ostrel::ui
