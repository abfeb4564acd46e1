#include "app/window_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "acquisition/measurement.h"
#include "logging/log_description.h"
#include "panel/ostrel_panel.h"
#include "ui/operator_input.h"

namespace ostrel {
namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// The write end the handler uses; -1 while no handler is installed. Lock-free, so the
// handler may read it.
std::atomic<int> signalWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// The handlers there were before; main thread only (constructor and destructor).
std::array<struct sigaction, kSignals.size()> previousActions{};

void onSignal(int signal) {
    const int saved = errno;
    const int fd = signalWriteFd.load();
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe (thousands of signals not yet served) drops the byte: enough closes wait.
    if (fd >= 0) (void)!::write(fd, &byte, 1);
    errno = saved;
}

}  // namespace

WindowSignals::WindowSignals() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readFd_ = ends[0];
    writeFd_ = ends[1];
    signalWriteFd.store(writeFd_);
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;  // the program's reads and writes go on undisturbed
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &previousActions[i]);
    }
}

WindowSignals::~WindowSignals() {
    if (readFd_ < 0) return;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &previousActions[i], nullptr);
    }
    signalWriteFd.store(-1);
    ::close(writeFd_);
    ::close(readFd_);
}

int WindowSignals::serve() {
    int served = 0;
    unsigned char byte = 0;
    while (readFd_ >= 0 && ::read(readFd_, &byte, 1) == 1) {
        ++served;
        // The first note since START counts: a measurement already ended otherwise keeps
        // its own end.
        noteMeasurementEnd(recording::MeasurementEnd::signal);
        // With a message up the close waits for the operator; the measurement must not (a
        // logout sends SIGKILL soon after): it is asked to end now, a second time at once.
        if (ui::modalActive()) stopOpen();
        ui::operatorClosePanel(panelHandle);
    }
    return served;
}

}  // namespace ostrel
