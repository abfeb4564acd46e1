#include "telemetry/stream_buffers.h"

#include <algorithm>
#include <mutex>

#include "telemetry/selections.h"

namespace ostrel {
namespace {

constexpr FrameWords idleFrame = [] {
    FrameWords words{};
    words.fill(idle_word);
    return words;
}();

// The published frame. Constant-initialised and trivially destructible, so a late reader
// during exit never meets a destroyed object.
std::mutex frameMutex;  // guards published
FrameWords published = idleFrame;

}  // namespace

constinit std::atomic<int32_t> data_received{0};
std::array<uint16_t, LOGCOUNT> dataout{};

void publishFrame(const uint16_t *block) {
    std::lock_guard lock(frameMutex);
    std::copy_n(block, frame_words, published.begin());
}

void publishIdleFrame() {
    std::lock_guard lock(frameMutex);
    published = idleFrame;
}

FrameWords currentFrame() {
    std::lock_guard lock(frameMutex);
    return published;
}

}  // namespace ostrel
