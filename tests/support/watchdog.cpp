#include "support/watchdog.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace ostrel::test {

namespace {

volatile std::sig_atomic_t interruptedBy = 0;

}  // namespace

Watchdog::Watchdog(std::filesystem::path directory, std::string program, bool catchInterrupts)
    : directory_(std::move(directory)),
      program_(std::move(program)),
      catchInterrupts_(catchInterrupts),
      thread_([this] {
          while (!quit_) {
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              std::lock_guard lock(mutex_);
              std::string why;
              int status = 3;
              if (interruptedBy != 0 && catchInterrupts_) {
                  why = "interrupted during " + (what_.empty() ? std::string("the run") : what_);
                  status = 128 + interruptedBy;
              } else if (!what_.empty() && std::chrono::steady_clock::now() >= deadline_) {
                  why = what_ + " did not end within " + std::to_string(limit_.count()) + " s";
              }
              if (why.empty()) continue;
              std::fprintf(stderr, "%s: %s; giving up\n", program_.c_str(), why.c_str());
              std::error_code ignored;
              std::filesystem::remove_all(directory_, ignored);
              std::_Exit(status);
          }
      }) {
    if (!catchInterrupts_) return;
    std::signal(SIGINT, [](int signal) { interruptedBy = signal; });
    std::signal(SIGTERM, [](int signal) { interruptedBy = signal; });
}

Watchdog::~Watchdog() {
    quit_ = true;
    thread_.join();
    if (catchInterrupts_) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
}

void Watchdog::arm(std::string what, std::chrono::seconds limit) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what);
    limit_ = limit;
    deadline_ = std::chrono::steady_clock::now() + limit;
}

}  // namespace ostrel::test
