// Ends the process when a run overstays its bound, after removing the run's directory: a
// stuck run must leave nothing behind (a measurement that never stops would fill the disk).
// With `catchInterrupts`, SIGINT and SIGTERM (an interrupted run, a CTest time-out) end it
// the same way, with status 128 + the signal; the handlers are the default ones again after.
// The watch runs on a thread of its own; arm and disarm may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
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
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // From now on `what` must end within `limit`; exit status 3 otherwise.
    void arm(std::string what, std::chrono::seconds limit);
    void disarm();

  private:
    void watch();
    [[noreturn]] void giveUp(const std::string &why, int status);

    const std::filesystem::path directory_;
    const std::string program_;
    const bool catchInterrupts_;
    std::mutex mutex_;  // guards every member below
    std::condition_variable wake_;
    bool quit_ = false;
    bool armed_ = false;
    std::string what_;
    std::chrono::seconds limit_{};
    std::chrono::steady_clock::time_point deadline_{};
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace ostrel::test
