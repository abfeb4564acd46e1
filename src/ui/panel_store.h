// Internal: the one store behind the panel operations and its locking helpers.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "ui/panel_state.h"

namespace ostrel::ui::detail {

struct Store {
    std::mutex mutex;  // guards every field below and all panel and control state
    std::map<int, PanelState> panels;
    int nextHandle = 1;
    std::uint64_t revision = 0;
    bool busy = false;
};

Store &store();

// Tells the front end that the model changed; call without the store lock.
void notifyChanged();

// Looks a control up; the store lock must be held. Sets *rc on failure.
ControlState *findControl(Store &s, int panel, int control, int *rc);

// Runs fn(ControlState&) -> int under the lock; on UI_OK with `changes`, stamps
// a new revision and notifies the front end after unlocking.
template <typename Fn>
int withControl(int panel, int control, bool changes, Fn &&fn) {
    Store &s = store();
    int rc = UI_OK;
    {
        std::lock_guard lock(s.mutex);
        ControlState *c = findControl(s, panel, control, &rc);
        if (c == nullptr) return rc;
        rc = fn(*c);
        if (rc != UI_OK || !changes) return rc;
        c->revision = ++s.revision;
    }
    notifyChanged();
    return rc;
}

// The same for a panel's own properties.
template <typename Fn>
int withPanel(int panel, bool changes, Fn &&fn) {
    Store &s = store();
    int rc = UI_OK;
    {
        std::lock_guard lock(s.mutex);
        auto it = s.panels.find(panel);
        if (it == s.panels.end()) return UI_NO_PANEL;
        rc = fn(it->second);
        if (rc != UI_OK || !changes) return rc;
        it->second.revision = ++s.revision;
    }
    notifyChanged();
    return rc;
}

}  // namespace ostrel::ui::detail
