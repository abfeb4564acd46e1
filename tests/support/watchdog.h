// Ends the process when a run overstays its bound, after removing the run's directory: a
// stuck run must leave nothing behind (a measurement that never stops would fill the disk).
// With `catchInterrupts`, SIGINT and SIGTERM (an interrupted run, a CTest time-out) end it
// the same way, with status 128 + the signal; the handlers are the default ones again after.
// The watch runs on a thread of its own, looking every 100 ms (a signal handler cannot wake
// it); arm and disarm may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel::test {

class Watchdog {
  public:
    // `program` begins the line it writes to stderr when it gives up.
    Watchdog(std::filesystem::path directory, std::string program, bool catchInterrupts = false);
    ~Watchdog();

    // From now on `what` must end within `limit`; exit status 3 otherwise.
    void arm(std::string what, std::chrono::seconds limit);
    void disarm() { arm({}, std::chrono::seconds(0)); }

  private:
    const std::filesystem::path directory_;
    const std::string program_;
    const bool catchInterrupts_;
    std::atomic<bool> quit_{false};
    std::mutex mutex_;  // guards the three below
    std::string what_;  // empty: disarmed
    std::chrono::seconds limit_{};
    std::chrono::steady_clock::time_point deadline_{};
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace ostrel::test
