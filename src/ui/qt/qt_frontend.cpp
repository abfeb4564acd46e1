#include "ui/qt/qt_frontend.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStyleFactory>
#include <condition_variable>
#include <set>

#include "ui/operator_input.h"
#include "ui/panel_state.h"
#include "ui/qt/panel_window.h"

namespace ostrel::ui::qt {

// A message shown on behalf of another thread, which waits until it is done.
struct MessageRequest {
    std::string title;
    std::string text;
    std::mutex mutex;  // guards done
    std::condition_variable doneChanged;
    bool done = false;

    void finish() {
        std::lock_guard lock(mutex);
        done = true;
        doneChanged.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        doneChanged.wait(lock, [this] { return done; });
    }
};

namespace {

// Guards the front end's alive_ and pending_, and orders every hand-over to
// the GUI thread: a posted task takes it before it touches anything it
// captured, so the poster's writes are visible to the GUI thread also to
// tools that cannot see Qt's own event-queue locking. Process-wide, since
// there is one front end.
std::mutex handoffMutex;

}  // namespace

bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

std::unique_ptr<QApplication> startApplication(int &argc, char **argv) {
    if (!displayAvailable()) return nullptr;  // Qt would abort instead of failing
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    return app;
}

QtFrontend::QtFrontend() : guiThread_(std::this_thread::get_id()) {}

QtFrontend::~QtFrontend() {
    // Normally shut down already on the GUI thread; then this touches nothing.
    if (onGuiThread()) shutdown();
}

void QtFrontend::shutdown() {
    {
        std::lock_guard lock(handoffMutex);
        alive_ = false;
    }
    acknowledgeAllPending();
    if (!onGuiThread()) return;
    if (busyShown_) QApplication::restoreOverrideCursor();
    busyShown_ = false;
    windows_.clear();
}

bool QtFrontend::onGuiThread() const {
    return std::this_thread::get_id() == guiThread_;
}

// The task runs on the GUI thread unless the front end is shut down or gone by then.
void QtFrontend::postToGui(std::function<void()> task) {
    std::lock_guard lock(handoffMutex);
    if (!alive_) return;
    // The hand-over mutex is taken before anything captured is touched.
    auto run = [self = weak_from_this(), task = std::move(task)] {
        std::shared_ptr<QtFrontend> frontend;
        {
            std::lock_guard handoff(handoffMutex);
            frontend = self.lock();
            if (!frontend || !frontend->alive_) return;
        }
        task();
    };
    QMetaObject::invokeMethod(qApp, std::move(run), Qt::QueuedConnection);
}

void QtFrontend::modelChanged() {
    // One queued sync covers every change made until it runs.
    if (syncPending_.exchange(true)) return;
    postToGui([this] {
        syncPending_.store(false);
        syncWindows();
        syncBusyCursor();
    });
}

void QtFrontend::syncWindows() {
    std::set<int> live;
    for (int panel : loadedPanels()) {
        live.insert(panel);
        auto it = windows_.find(panel);
        if (it == windows_.end()) {
            std::optional<PanelState> state = panelState(panel);
            if (!state || !state->displayed) continue;
            it = windows_.emplace(panel, std::make_unique<PanelWindow>(panel)).first;
        }
        it->second->sync();
    }
    std::erase_if(windows_, [&](const auto &entry) { return live.count(entry.first) == 0; });
}

void QtFrontend::syncBusyCursor() {
    const bool busy = busyCursor();
    if (busy == busyShown_) return;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    busyShown_ = busy;
}

void QtFrontend::showMessage(const std::string &title, const std::string &text) {
    if (onGuiThread()) {
        showMessageHere(title, text);
        return;
    }
    auto request = std::make_shared<MessageRequest>();
    request->title = title;
    request->text = text;
    {
        std::lock_guard lock(handoffMutex);
        if (!alive_) return;
        pending_.push_back(request);
        enterModal();  // no operator input from now until it is acknowledged
    }
    postToGui([this] { showPendingMessages(); });
    request->wait();
}

// Posted also from the GUI thread itself, so that no caller waits for the operator.
void QtFrontend::postMessage(const std::string &title, const std::string &text) {
    postToGui([this, title, text] { showMessageHere(title, text); });
}

void QtFrontend::serveMessages() {
    if (!onGuiThread()) return;
    // Input events stay queued (not dropped) until the event loop runs again.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    showPendingMessages();
}

void QtFrontend::showPendingMessages() {
    for (;;) {
        std::shared_ptr<MessageRequest> request;
        {
            std::lock_guard lock(handoffMutex);
            if (pending_.empty()) return;
            request = pending_.front();
            pending_.pop_front();
        }
        showMessageHere(request->title, request->text);
        leaveModal();
        request->finish();
    }
}

void QtFrontend::acknowledgeAllPending() {
    std::deque<std::shared_ptr<MessageRequest>> left;
    {
        std::lock_guard lock(handoffMutex);
        left.swap(pending_);
    }
    for (auto &request : left) {
        leaveModal();
        request->finish();
    }
}

void QtFrontend::showMessageHere(const std::string &title, const std::string &text) {
    QWidget *parent = windows_.empty() ? nullptr : windows_.begin()->second.get();
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    enterModal();
    box.exec();
    leaveModal();
}

std::optional<std::string> QtFrontend::selectDirectory(const std::string &title) {
    if (!onGuiThread()) return std::nullopt;
    QWidget *parent = windows_.empty() ? nullptr : windows_.begin()->second.get();
    enterModal();
    const QString chosen = QFileDialog::getExistingDirectory(parent, QString::fromStdString(title),
                                                             QString(), QFileDialog::ShowDirsOnly);
    leaveModal();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

int QtFrontend::runEventLoop() {
    return QApplication::exec();
}

void QtFrontend::quitEventLoop(int status) {
    if (onGuiThread()) {
        QApplication::exit(status);
        return;
    }
    postToGui([status] { QApplication::exit(status); });
}

PanelWindow *QtFrontend::windowOf(int panel) const {
    auto it = windows_.find(panel);
    return it == windows_.end() ? nullptr : it->second.get();
}

}  // namespace ostrel::ui::qt
