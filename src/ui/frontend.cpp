#include "ui/frontend.h"

#include <mutex>
#include <utility>

#include "ui/headless.h"

namespace ostrel::ui {
namespace {

// The installed front end. Any thread may ask for it until the process ends, so
// the registry is never destroyed (no static destructor runs under a late caller).
struct Registry {
    std::mutex mutex;  // guards installed
    std::shared_ptr<Frontend> installed;
};

Registry &registry() {
    static Registry *const instance = new Registry;
    return *instance;
}

}  // namespace

void installFrontend(std::shared_ptr<Frontend> frontend) {
    std::shared_ptr<Frontend> previous;
    {
        std::lock_guard lock(registry().mutex);
        previous = std::exchange(registry().installed, std::move(frontend));
    }
    // `previous` is released here, outside the lock.
}

std::shared_ptr<Frontend> currentFrontend() {
    {
        std::lock_guard lock(registry().mutex);
        if (registry().installed) return registry().installed;
    }
    return headlessFrontend();
}

}  // namespace ostrel::ui
