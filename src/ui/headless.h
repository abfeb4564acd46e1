// The headless front end: the panel runtime without widgets, for tests and for
// running the program logic without a display. Messages are recorded and
// acknowledged at once; the directory dialog returns scripted answers; the
// event loop runs posted tasks until it is asked to quit.
//
// Held messages: after holdMessages(), a message raised on any thread but the
// one that called it (the test's GUI thread) waits, as in the real window,
// until the GUI thread serves it (serveMessages) or the test acknowledges it.
// That reproduces headless a GUI-thread wait that never serves messages.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/frontend.h"

namespace ostrel::ui {

struct RecordedMessage {
    std::string title;
    std::string text;
    bool operator==(const RecordedMessage &) const = default;
};

class HeadlessFrontend : public Frontend {
  public:
    void modelChanged() override {}
    void showMessage(const std::string &title, const std::string &text) override;
    // Recorded like a message; never waits.
    void postMessage(const std::string &title, const std::string &text) override;
    std::optional<std::string> selectDirectory(const std::string &title) override;
    int runEventLoop() override;
    void quitEventLoop(int status) override;
    // Runs the tasks posted so far, then acknowledges every held message.
    void serveMessages() override;
    // The GUI thread is the one that created the front end, or the one that
    // last ran the event loop or called holdMessages.
    bool isGuiThread() const override;
    // Acknowledges held messages and stops holding new ones.
    void shutdown() override;

    // Runs `task` on the thread of the event loop (the test's "GUI thread"), or in the next
    // serveMessages there.
    void post(std::function<void()> task) override;

    // Every message raised since the last reset, held ones included.
    std::vector<RecordedMessage> messages() const;
    // From now on messages from threads other than the caller's wait until served.
    void holdMessages();
    // Messages waiting for their acknowledgement now.
    std::size_t heldMessageCount() const;
    // Acknowledges the waiting messages, as the operator pressing OK.
    void acknowledgeMessages();
    // The next directory dialog answers this (nullopt = Cancel). Unscripted
    // dialogs are cancelled.
    void scriptDirectory(std::optional<std::string> answer);
    std::vector<std::string> directoryDialogTitles() const;
    // Forgets messages, scripts, posted tasks and a pending quit; acknowledges
    // held messages and stops holding.
    void reset();

  private:
    void acknowledgeLocked();

    mutable std::mutex mutex_;  // guards every member below
    std::condition_variable wake_;
    std::condition_variable acknowledged_;
    std::vector<RecordedMessage> messages_;
    std::deque<std::optional<std::string>> directoryAnswers_;
    std::vector<std::string> dialogTitles_;
    std::deque<std::function<void()>> tasks_;
    bool quitRequested_ = false;
    int quitStatus_ = 0;
    bool holding_ = false;
    std::thread::id guiThread_ = std::this_thread::get_id();
    std::size_t held_ = 0;                // messages waiting now
    std::uint64_t acknowledgements_ = 0;  // grows at every acknowledgement of all held messages
};

// The process's headless front end, the default until another is installed.
// Lives until the process ends.
std::shared_ptr<HeadlessFrontend> headlessFrontend();

}  // namespace ostrel::ui
