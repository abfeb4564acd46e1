// The GUI thread never waits for the disk: a whole measurement with logging, START to STOP,
// makes no flush on the thread that operates the panel (a USB stick or a network share can
// take seconds for one). The flushes of the description happen on the acquisition thread.
//
// fsync and fdatasync are interposed in this test program to see which thread calls them;
// sanitizer runtimes interpose them themselves, so there the test is skipped.
#include <dlfcn.h>

#include <atomic>
#include <thread>

#include "measurement_test_support.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define OSTREL_SEE_FLUSHES 1
#endif

namespace {

std::atomic<std::thread::id> watchedThread{};
std::atomic<int> flushesOnWatched{0};
std::atomic<int> flushesElsewhere{0};

}  // namespace

#ifdef OSTREL_SEE_FLUSHES
namespace {

void countFlush() {
    if (std::this_thread::get_id() == watchedThread.load()) {
        ++flushesOnWatched;
    } else {
        ++flushesElsewhere;
    }
}

}  // namespace

extern "C" int fsync(int fd) {
    countFlush();
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    countFlush();
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return real(fd);
}
#endif

namespace ostrel::test {
namespace {

TEST_F(Measuring, NoFlushToDiskOnTheGuiThreadFromStartToStop) {
#ifndef OSTREL_SEE_FLUSHES
    GTEST_SKIP() << "the sanitizer runtime interposes fsync itself";
#endif
    watchedThread = std::this_thread::get_id();
    flushesOnWatched = 0;
    flushesElsewhere = 0;
    record("M8:words=8,pace=fast", 2);  // START to STOP and its completion
    watchedThread = std::thread::id{};
    EXPECT_EQ(flushesOnWatched.load(), 0);
    EXPECT_GE(flushesElsewhere.load(), 2) << "the description is flushed at start and at stop";
}

}  // namespace
}  // namespace ostrel::test
