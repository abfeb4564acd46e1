#include "sim/playback_stream.h"

#include <algorithm>
#include <cstdio>

#include "usb/program_name.h"
#include "usb/usb_error.h"

namespace ostrel::sim {

PlaybackStream::PlaybackStream(std::shared_ptr<const PlaybackRecording> recording)
    : recording_(std::move(recording)),
      words_(static_cast<std::size_t>(recording_->wordsPerFrame)),
      ahead_(kReadAheadWords / words_ * words_) {}

uint32_t PlaybackStream::frameBytes() const {
    return static_cast<uint32_t>(words_ * 2);
}

bool PlaybackStream::fail(std::string why) {
    if (error_.empty()) {
        error_ = std::move(why);
        std::fprintf(stderr, "%s: playback stopped: %s\n", usbProgramName().c_str(),
                     error_.c_str());
    }
    reader_.reset();
    held_ = 0;
    return false;
}

bool PlaybackStream::open() {
    if (!error_.empty()) return false;
    reader_ = std::make_unique<recording::RecordingReader>(recording_->path);
    first_ = 0;
    held_ = 0;
    if (reader_->error()) return fail(reader_->error()->message());
    if (reader_->wordsPerRecord() != words_) {
        return fail(recording_->path + ": has changed since it was loaded (" +
                    std::to_string(reader_->wordsPerRecord()) + " columns, not " +
                    std::to_string(words_) + ")");
    }
    return true;
}

// Replaces the read-ahead with the records that follow it.
bool PlaybackStream::readAhead() {
    first_ += held_;
    held_ = reader_->nextRecords(ahead_);
    mostWordsHeld_ = std::max(mostWordsHeld_, static_cast<std::size_t>(held_) * words_);
    if (held_ > 0) return true;
    if (reader_->error()) return fail(reader_->error()->message());
    return fail(recording_->path + ": ends after " + std::to_string(first_) + " records; it held " +
                std::to_string(frames()) + " when it was loaded");
}

// Brings frame `frame` (within the period) into the read-ahead.
bool PlaybackStream::hold(uint64_t frame) {
    if (!error_.empty()) return false;
    if ((!reader_ || frame < first_) && !open()) return false;
    while (frame >= first_ + held_) {
        if (!readAhead()) return false;
    }
    return true;
}

uint32_t PlaybackStream::copy(uint64_t frame, uint8_t *destination, std::size_t bytes) {
    frame %= frames();
    while (bytes > 0) {
        if (!hold(frame)) return kUsbErrorTransferFailed;
        const uint64_t offset = frame - first_;
        const std::size_t available = static_cast<std::size_t>(held_ - offset) * frameBytes();
        const std::size_t chunk = std::min(bytes, available);
        const uint16_t *word = ahead_.data() + offset * words_;
        for (std::size_t k = 0; k < chunk / 2; ++k) {
            destination[2 * k] = static_cast<uint8_t>(word[k] & 0xFF);
            destination[2 * k + 1] = static_cast<uint8_t>(word[k] >> 8);
        }
        if (chunk % 2 != 0) destination[chunk - 1] = static_cast<uint8_t>(word[chunk / 2] & 0xFF);

        destination += chunk;
        bytes -= chunk;
        frame = (frame + chunk / frameBytes()) % frames();
    }
    return kUsbErrorNone;
}

}  // namespace ostrel::sim
