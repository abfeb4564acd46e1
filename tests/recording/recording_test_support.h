// Shared by the recording tests (and the playback tests, which read recordings): whole files
// written, and a call that must not wait on a FIFO; the scratch directory and the reading of
// a file are the support library's.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#include "support/log_file_check.h"
#include "support/scratch_directory.h"

namespace ostrel::recording::test {

using ostrel::test::readFile;
using ostrel::test::ScratchDirectory;

inline void writeFile(const std::string &path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    ASSERT_TRUE(out.good()) << path;
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
