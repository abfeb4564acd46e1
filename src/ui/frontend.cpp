#include "ui/frontend.h"

#include <mutex>

#include "ui/headless.h"

namespace ostrel::ui {
namespace {

std::mutex frontendMutex;  // guards installed
std::shared_ptr<Frontend> installed;

}  // namespace

void installFrontend(std::shared_ptr<Frontend> frontend) {
    std::lock_guard lock(frontendMutex);
    installed = std::move(frontend);
}

std::shared_ptr<Frontend> currentFrontend() {
    {
        std::lock_guard lock(frontendMutex);
        if (installed) return installed;
    }
    return headlessFrontend();
}

}  // namespace ostrel::ui
