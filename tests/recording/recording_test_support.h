// Shared by the recording tests (and the playback tests, which read recordings): a scratch
// directory removed afterwards, whole files written and read back, and a call that must not
// wait on a FIFO.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrel::recording::test {

// A fresh directory under the system's temporary directory, removed with its content.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ostrel-recording-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDirectory() { std::filesystem::remove_all(path_, ignored_); }
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
    const std::string &path() const { return path_; }

    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
    std::error_code ignored_;
};

inline void writeFile(const std::string &path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `call` on a thread of its own and tells whether it returned within `bound` (generous:
// only a call that waits for a writer of the FIFO `fifo` takes that long). A call still
// waiting then is released, as often as it takes, by a writer that opens the FIFO and
// closes it at once, so the test ends either way.
template <typename Call>
bool returnsAtOnce(const std::string &fifo, Call call,
                   std::chrono::seconds bound = std::chrono::seconds(30)) {
    std::promise<void> done;
    std::future<void> returned = done.get_future();
    std::thread caller([&] {
        call();
        done.set_value();
    });
    const bool inTime = returned.wait_for(bound) == std::future_status::ready;
    while (returned.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) ::close(writer);
    }
    caller.join();
    return inTime;
}

}  // namespace ostrel::recording::test
