// The headless front end: the panel runtime without widgets, for tests and for
// running the program logic without a display. Messages are recorded and
// acknowledged at once; the directory dialog returns scripted answers; the
// event loop runs posted tasks until it is asked to quit.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
    std::optional<std::string> selectDirectory(const std::string &title) override;
    int runEventLoop() override;
    void quitEventLoop(int status) override;

    // Runs `task` on the thread of the event loop (the test's "GUI thread").
    void post(std::function<void()> task);

    std::vector<RecordedMessage> messages() const;
    // The next directory dialog answers this (nullopt = Cancel). Unscripted
    // dialogs are cancelled.
    void scriptDirectory(std::optional<std::string> answer);
    std::vector<std::string> directoryDialogTitles() const;
    // Forgets messages, scripts, posted tasks and a pending quit.
    void reset();

  private:
    mutable std::mutex mutex_;  // guards every member below
    std::condition_variable wake_;
    std::vector<RecordedMessage> messages_;
    std::deque<std::optional<std::string>> directoryAnswers_;
    std::vector<std::string> dialogTitles_;
    std::deque<std::function<void()>> tasks_;
    bool quitRequested_ = false;
    int quitStatus_ = 0;
};

// The process's headless front end, the default until another is installed.
std::shared_ptr<HeadlessFrontend> headlessFrontend();

}  // namespace ostrel::ui
