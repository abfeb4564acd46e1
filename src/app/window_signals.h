// SIGTERM, SIGHUP and SIGINT to the window program (a logout, kill, Ctrl-C in its terminal)
// end it as closing the window does: the measurement is closed completely, its log file
// holds whole cycles and its description says "ended by signal".
//
// The handler only writes the signal's number to a pipe (async-signal-safe, whichever thread
// the signal meets). The GUI thread watches the pipe's read end (a QSocketNotifier in main)
// and calls serve(), which turns every signal into one close of the main panel: a second
// signal is a second close.
#pragma once

namespace ostrel {

class WindowSignals {
  public:
    // Makes the pipe and installs the handlers. Main thread, before the event loop runs.
    // Without a pipe (no file descriptors left) the handlers are not installed and the
    // signals keep their default effect.
    WindowSignals();
    // Puts the previous handlers back, then closes the pipe.
    ~WindowSignals();
    WindowSignals(const WindowSignals &) = delete;
    WindowSignals &operator=(const WindowSignals &) = delete;

    // The pipe's read end to watch for readability; -1 without a pipe.
    int readFd() const { return readFd_; }

    // GUI thread, when readFd() is readable: for every signal received since the last call,
    // notes the measurement's end and closes the main panel. Returns the signals served.
    int serve();

  private:
    int readFd_ = -1;
    int writeFd_ = -1;
};

}  // namespace ostrel
