// The front end renders the panel model and runs the event loop: the Qt view
// in the program, the headless front end in tests. Exactly one is installed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ostrel::ui {

class Frontend {
  public:
    virtual ~Frontend() = default;
    // The model changed. Any thread; must not block (coalesce and post).
    virtual void modelChanged() = 0;
    // Modal message; blocks only the calling thread until acknowledged.
    virtual void showMessage(const std::string &title, const std::string &text) = 0;
    // Non-blocking notice: shown by the GUI thread as a message; the caller does not wait.
    virtual void postMessage(const std::string &title, const std::string &text) = 0;
    // Modal directory dialog on the GUI thread; nullopt on cancel.
    virtual std::optional<std::string> selectDirectory(const std::string &title) = 0;
    // Runs `task` on the GUI thread from its event loop. Any thread; never blocks.
    virtual void post(std::function<void()> task) = 0;
    virtual int runEventLoop() = 0;
    virtual void quitEventLoop(int status) = 0;
    // GUI thread, from inside a wait for a worker: shows the messages other
    // threads are waiting for and keeps the view current (model changes,
    // repaints). Operator input is held off by the caller (ui::serveMessages).
    virtual void serveMessages() = 0;
    // Whether the calling thread is the GUI thread.
    virtual bool isGuiThread() const = 0;
    // GUI thread, once the event loop has ended: acknowledges the messages
    // still waiting, drops the windows, and from then on answers messages at
    // once and touches no toolkit object, wherever it is destroyed.
    virtual void shutdown() = 0;
};

// Installs the front end; nullptr puts back the headless default.
void installFrontend(std::shared_ptr<Frontend> frontend);
std::shared_ptr<Frontend> currentFrontend();

}  // namespace ostrel::ui
