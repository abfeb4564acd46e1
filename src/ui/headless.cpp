#include "ui/headless.h"

#include <utility>

#include "ui/operator_input.h"

namespace ostrel::ui {

void HeadlessFrontend::showMessage(const std::string &title, const std::string &text) {
    std::unique_lock lock(mutex_);
    messages_.push_back({title, text});
    if (!holding_ || std::this_thread::get_id() == guiThread_) return;
    ++held_;
    enterModal();  // no operator input while the message is up
    const std::uint64_t ticket = acknowledgements_;
    acknowledged_.wait(lock, [&] { return acknowledgements_ != ticket; });
}

void HeadlessFrontend::acknowledgeLocked() {
    for (; held_ > 0; --held_) leaveModal();
    ++acknowledgements_;
    acknowledged_.notify_all();
}

void HeadlessFrontend::postMessage(const std::string &title, const std::string &text) {
    std::lock_guard lock(mutex_);
    messages_.push_back({title, text});
}

std::optional<std::string> HeadlessFrontend::selectDirectory(const std::string &title) {
    std::lock_guard lock(mutex_);
    dialogTitles_.push_back(title);
    if (directoryAnswers_.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(directoryAnswers_.front());
    directoryAnswers_.pop_front();
    return answer;
}

bool HeadlessFrontend::isGuiThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == guiThread_;
}

int HeadlessFrontend::runEventLoop() {
    std::unique_lock lock(mutex_);
    guiThread_ = std::this_thread::get_id();
    for (;;) {
        wake_.wait(lock, [this] { return quitRequested_ || !tasks_.empty(); });
        if (tasks_.empty()) break;  // quit requested and nothing left to run
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
        if (quitRequested_) break;
    }
    quitRequested_ = false;
    return quitStatus_;
}

void HeadlessFrontend::quitEventLoop(int status) {
    std::lock_guard lock(mutex_);
    quitRequested_ = true;
    quitStatus_ = status;
    wake_.notify_all();
}

void HeadlessFrontend::serveMessages() {
    std::deque<std::function<void()>> due;
    {
        std::lock_guard lock(mutex_);
        due.swap(tasks_);
    }
    for (std::function<void()> &task : due) task();
    std::lock_guard lock(mutex_);
    acknowledgeLocked();
}

void HeadlessFrontend::shutdown() {
    std::lock_guard lock(mutex_);
    holding_ = false;
    acknowledgeLocked();
}

void HeadlessFrontend::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
}

std::vector<RecordedMessage> HeadlessFrontend::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void HeadlessFrontend::holdMessages() {
    std::lock_guard lock(mutex_);
    holding_ = true;
    guiThread_ = std::this_thread::get_id();
}

std::size_t HeadlessFrontend::heldMessageCount() const {
    std::lock_guard lock(mutex_);
    return held_;
}

void HeadlessFrontend::acknowledgeMessages() {
    std::lock_guard lock(mutex_);
    acknowledgeLocked();
}

void HeadlessFrontend::scriptDirectory(std::optional<std::string> answer) {
    std::lock_guard lock(mutex_);
    directoryAnswers_.push_back(std::move(answer));
}

std::vector<std::string> HeadlessFrontend::directoryDialogTitles() const {
    std::lock_guard lock(mutex_);
    return dialogTitles_;
}

void HeadlessFrontend::reset() {
    std::lock_guard lock(mutex_);
    holding_ = false;
    acknowledgeLocked();
    messages_.clear();
    directoryAnswers_.clear();
    dialogTitles_.clear();
    tasks_.clear();
    quitRequested_ = false;
    quitStatus_ = 0;
}

std::shared_ptr<HeadlessFrontend> headlessFrontend() {
    static const auto *const instance =
        new std::shared_ptr<HeadlessFrontend>(std::make_shared<HeadlessFrontend>());
    return *instance;
}

}  // namespace ostrel::ui
