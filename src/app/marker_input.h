// The marker lines of ostrel-record: a thread that reads lines from a descriptor (standard
// input) while a recording runs and hands each to a callback, so a test rig's script can mark
// its steps by writing a line. The read never blocks the recording: it waits in poll and ends
// within a tenth of a second of stop(), or at the end of the input.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace ostrel::record {

class MarkerLines {
  public:
    // Longest label kept; the rest of a longer line is dropped (and said, by `truncated`).
    static constexpr std::size_t kMaxLabelBytes = 1024;

    // Starts reading `fd`. `line` gets each line without its line end (a CR before it goes
    // too), `truncated` whether it was cut to kMaxLabelBytes. Reader thread.
    MarkerLines(int fd, std::function<void(const std::string &line, bool truncated)> line);
    ~MarkerLines();  // stop()
    MarkerLines(const MarkerLines &) = delete;
    MarkerLines &operator=(const MarkerLines &) = delete;

    // Ends the thread; a line not yet ended by a line end is dropped. Any thread but the reader.
    void stop();

  private:
    void run();
    void take(const char *bytes, std::size_t count);

    const int fd_;
    const std::function<void(const std::string &, bool)> line_;
    std::atomic<bool> stopping_{false};
    std::string pending_;     // the line being read; reader thread only
    bool truncated_ = false;  // pending_ lost bytes; reader thread only
    std::thread thread_;
};

}  // namespace ostrel::record
