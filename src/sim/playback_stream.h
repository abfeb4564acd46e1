// A recording played back, streamed from its file with a bounded read-ahead: the frames a
// session hands over are read when it needs them, so memory does not grow with the file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "recording/recording_reader.h"
#include "sim/frame_source.h"
#include "sim/sim_config.h"

namespace ostrel::sim {

// Reads forward through the file; a frame before the read-ahead (the start of a new stream,
// a loop back to the first record) opens the file again from its first record. A file that
// can no longer be read, or that now holds fewer records than when it was loaded, fails every
// copy from then on; the reason is printed once on stderr. Owned by one session, used under
// its lock.
class PlaybackStream final : public FrameSource {
  public:
    // Words decoded ahead at most: 128 KiB, whatever the file's length.
    static constexpr std::size_t kReadAheadWords = std::size_t{1} << 16;

    explicit PlaybackStream(std::shared_ptr<const PlaybackRecording> recording);

    // Opens the file at its first record; false (and error() set) when it cannot be read.
    bool open();

    uint32_t frameBytes() const override;
    uint64_t frames() const override { return recording_->frames; }
    uint32_t copy(uint64_t frame, uint8_t *destination, std::size_t bytes) override;

    // The most words held at once so far, never above kReadAheadWords.
    std::size_t mostWordsHeld() const { return mostWordsHeld_; }
    // Why the recording can no longer be played; empty while it can.
    const std::string &error() const { return error_; }

  private:
    bool hold(uint64_t frame);
    bool readAhead();
    bool fail(std::string why);

    const std::shared_ptr<const PlaybackRecording> recording_;
    const std::size_t words_;  // words per frame
    std::unique_ptr<recording::RecordingReader> reader_;
    std::vector<uint16_t> ahead_;  // frames first_ .. first_ + held_ - 1, in order
    uint64_t first_ = 0;
    uint64_t held_ = 0;
    std::size_t mostWordsHeld_ = 0;
    std::string error_;
};

}  // namespace ostrel::sim
