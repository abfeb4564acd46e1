// The log writer's promise to the description: a cycle is reported durable only once the
// file has been flushed, and the end of a measurement flushes what is left.
#include "logging/log_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

namespace ostrel {
namespace {

constexpr LogWriter::Format kFormat{2, 4, ','};  // two records of four words a cycle

class LogWriterEnd : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        char path[] = "/tmp/ostrel-log-writer-XXXXXX";
        fd_ = ::mkstemp(path);
        ASSERT_GE(fd_, 0);
        ::unlink(path);
    }
    void TearDown() override {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd_ = -1;
};

// A durable end reports every cycle durable; a quick end (a second STOP) reports none beyond
// what a periodic flush already did, and never more than was written.
TEST_P(LogWriterEnd, ReportsDurableOnlyWhatItFlushed) {
    const bool durable = GetParam();
    std::atomic<uint64_t> reported{0};
    LogWriter writer(fd_, kFormat, {nullptr, nullptr, [&](uint64_t cycles) { reported = cycles; }});
    const std::vector<uint16_t> cycle(8, 1234);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(writer.submit(cycle.data(), true), LogWriter::Submitted::queued);
    EXPECT_EQ(writer.finish(durable), 3u);
    if (durable) {
        EXPECT_EQ(reported.load(), 3u);
    }
    EXPECT_LE(reported.load(), 3u);
    EXPECT_EQ(::lseek(fd_, 0, SEEK_END), 3 * 2 * off_t(sizeof "1234,1234,1234,1234\r\n" - 1));
}

INSTANTIATE_TEST_SUITE_P(Finish, LogWriterEnd, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "durable" : "quick"; });

}  // namespace
}  // namespace ostrel
