// The Qt front end: runs Qt's event loop, keeps one window per displayed panel
// in step with the model, and shows the modal dialogs.
//
// Threads: constructed, run and destroyed on the GUI (main) thread. modelChanged
// and showMessage may be called from any thread and never wait for the GUI
// thread, except showMessage, which blocks its own caller until acknowledged.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ui/frontend.h"

class QApplication;

namespace ostrel::ui::qt {

class PanelWindow;
struct MessageRequest;

class QtFrontend : public QObject, public Frontend {
  public:
    // Creates the QApplication; nullptr when Qt cannot start (no display).
    // argc must outlive the front end.
    static std::shared_ptr<QtFrontend> create(int &argc, char **argv);
    ~QtFrontend() override;

    void modelChanged() override;
    void showMessage(const std::string &title, const std::string &text) override;
    // On the GUI thread only; from another thread it answers Cancel.
    std::optional<std::string> selectDirectory(const std::string &title) override;
    int runEventLoop() override;
    void quitEventLoop(int status) override;

    // Shows the messages other threads are waiting for. GUI thread; called by
    // the event loop, and usable by GUI-thread code that waits for a worker.
    void serveMessages();

    // The window of a panel, or nullptr (for tests).
    PanelWindow *windowOf(int panel) const;

    explicit QtFrontend(std::unique_ptr<QApplication> app);

  private:
    bool onGuiThread() const;
    void postToGui(std::function<void()> task);
    void syncWindows();
    void syncBusyCursor();
    void showMessageHere(const std::string &title, const std::string &text);
    void acknowledgeAllPending();

    std::unique_ptr<QApplication> app_;
    std::atomic<bool> syncPending_{false};
    bool alive_ = true;  // alive_ and pending_: guarded by the hand-over mutex
    std::deque<std::shared_ptr<MessageRequest>> pending_;
    std::map<int, std::unique_ptr<PanelWindow>> windows_;  // GUI thread only
    bool busyShown_ = false;                               // GUI thread only
};

}  // namespace ostrel::ui::qt
