// Lowers this process's file size limit (RLIMIT_FSIZE) for the object's lifetime, as a full
// disk would stop the writes; processes spawned meanwhile inherit it. A limit of
// RLIM_INFINITY leaves it as it is.
#pragma once

#include <sys/resource.h>

#include <algorithm>

namespace ostrel::test {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min(bytes, saved_.rlim_max);
        applied_ = bytes == RLIM_INFINITY || ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool applied() const { return applied_; }

  private:
    rlimit saved_{};
    bool applied_ = false;
};

}  // namespace ostrel::test
