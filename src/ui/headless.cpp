#include "ui/headless.h"

#include <utility>

namespace ostrel::ui {

void HeadlessFrontend::showMessage(const std::string &title, const std::string &text) {
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

int HeadlessFrontend::runEventLoop() {
    std::unique_lock lock(mutex_);
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

void HeadlessFrontend::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
}

std::vector<RecordedMessage> HeadlessFrontend::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
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
    messages_.clear();
    directoryAnswers_.clear();
    dialogTitles_.clear();
    tasks_.clear();
    quitRequested_ = false;
    quitStatus_ = 0;
}

std::shared_ptr<HeadlessFrontend> headlessFrontend() {
    static const auto instance = std::make_shared<HeadlessFrontend>();
    return instance;
}

}  // namespace ostrel::ui
