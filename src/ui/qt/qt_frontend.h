// The Qt front end: keeps one window per displayed panel in step with the
// model, shows the modal dialogs and runs Qt's event loop.
//
// Threads: constructed, run and shut down on the GUI (main) thread, which owns
// the QApplication (startApplication). modelChanged and showMessage may be
// called from any thread and never wait for the GUI thread, except
// showMessage, which blocks its own caller until acknowledged. After
// shutdown() it touches no Qt object, so the last reference may go anywhere.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ui/frontend.h"

class QApplication;

namespace ostrel::ui::qt {

class PanelWindow;
struct MessageRequest;

// Whether Qt has a display to start on: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set.
bool displayAvailable();

// Creates the QApplication; nullptr when Qt cannot start (no display). argc
// must outlive it. The caller owns it and destroys it on the GUI thread, after
// the front end's shutdown().
std::unique_ptr<QApplication> startApplication(int &argc, char **argv);

class QtFrontend : public Frontend, public std::enable_shared_from_this<QtFrontend> {
  public:
    // GUI thread, with the QApplication running; create it with std::make_shared
    // (tasks posted to the GUI thread hold it only weakly).
    QtFrontend();
    ~QtFrontend() override;

    void modelChanged() override;
    void showMessage(const std::string &title, const std::string &text) override;
    void postMessage(const std::string &title, const std::string &text) override;
    // On the GUI thread only; from another thread it answers Cancel.
    std::optional<std::string> selectDirectory(const std::string &title) override;
    void post(std::function<void()> task) override { postToGui(std::move(task)); }
    int runEventLoop() override;
    void quitEventLoop(int status) override;
    // GUI thread: applies pending model changes, repaints and shows the
    // messages other threads are waiting for. The operator's clicks and keys
    // are left queued: the event loop carries them out once the wait is over.
    void serveMessages() override;
    void shutdown() override;
    bool isGuiThread() const override { return onGuiThread(); }

    // The window of a panel, or nullptr (for tests).
    PanelWindow *windowOf(int panel) const;

  private:
    bool onGuiThread() const;
    void postToGui(std::function<void()> task);
    void syncWindows();
    void syncBusyCursor();
    void showPendingMessages();
    void showMessageHere(const std::string &title, const std::string &text);
    void acknowledgeAllPending();

    const std::thread::id guiThread_;
    std::atomic<bool> syncPending_{false};
    bool alive_ = true;  // alive_ and pending_: guarded by the hand-over mutex
    std::deque<std::shared_ptr<MessageRequest>> pending_;
    std::map<int, std::unique_ptr<PanelWindow>> windows_;  // GUI thread only
    bool busyShown_ = false;                               // GUI thread only
};

}  // namespace ostrel::ui::qt
