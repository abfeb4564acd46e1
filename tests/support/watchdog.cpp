#include "support/watchdog.h"

#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace ostrel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

volatile std::sig_atomic_t interruptedBy = 0;

void noteInterrupt(int signal) {
    interruptedBy = signal;
}

}  // namespace

Watchdog::Watchdog(fs::path directory, std::string program, bool catchInterrupts)
    : directory_(std::move(directory)),
      program_(std::move(program)),
      catchInterrupts_(catchInterrupts),
      thread_([this] { watch(); }) {
    if (!catchInterrupts_) return;
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (catchInterrupts_) {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
    }
}

void Watchdog::arm(std::string what, std::chrono::seconds limit) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what);
    limit_ = limit;
    deadline_ = std::chrono::steady_clock::now() + limit;
    armed_ = true;
}

void Watchdog::disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

// Looks every 100 ms: a signal handler cannot wake a condition variable.
void Watchdog::watch() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        wake_.wait_for(lock, 100ms);
        if (interruptedBy != 0 && catchInterrupts_) {
            giveUp("interrupted during " + (armed_ ? what_ : std::string("the run")),
                   128 + interruptedBy);
        }
        if (armed_ && std::chrono::steady_clock::now() >= deadline_) {
            giveUp(what_ + " did not end within " + std::to_string(limit_.count()) + " s", 3);
        }
    }
}

void Watchdog::giveUp(const std::string &why, int status) {
    std::fprintf(stderr, "%s: %s; giving up\n", program_.c_str(), why.c_str());
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    std::_Exit(status);
}

}  // namespace ostrel::test
