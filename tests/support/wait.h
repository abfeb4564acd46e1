// Waiting for another thread without a timing assert: polls `done` until it holds or `limit`
// has passed, and says whether it holds.
#pragma once

#include <chrono>
#include <thread>

namespace ostrel::test {

template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(30),
             std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace ostrel::test
