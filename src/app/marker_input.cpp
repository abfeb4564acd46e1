#include "app/marker_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel::record {

namespace {
constexpr int kPollMillis = 100;
}

MarkerLines::MarkerLines(int fd, std::function<void(const std::string &, bool)> line)
    : fd_(fd), line_(std::move(line)), thread_([this] { run(); }) {}

MarkerLines::~MarkerLines() {
    stop();
}

void MarkerLines::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void MarkerLines::run() {
    char buffer[4096];
    while (!stopping_.load()) {
        pollfd input{fd_, POLLIN, 0};
        const int ready = ::poll(&input, 1, kPollMillis);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return;  // the end of the input (or an error): no more markers
        take(buffer, std::size_t(count));
    }
}

void MarkerLines::take(const char *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != '\n') {
            if (pending_.size() < kMaxLabelBytes) {
                pending_ += bytes[i];
            } else {
                truncated_ = true;
            }
            continue;
        }
        if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
        line_(pending_, truncated_);
        pending_.clear();
        truncated_ = false;
    }
}

}  // namespace ostrel::record
