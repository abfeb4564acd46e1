// Shared by the fuzz targets: the invariant check and a reader that takes typed values from the
// front of a fuzz input. Built both into the libFuzzer executables and into the corpus replays.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Stops the run when an invariant of the code under test does not hold: libFuzzer keeps the
// input as a crash, and the corpus replay fails. Independent of NDEBUG.
#define FUZZ_CHECK(condition)                                                                \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "%s:%d: invariant does not hold: %s\n", __FILE__, __LINE__, \
                         #condition);                                                        \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace ostrel::fuzz {

// Takes fixed-size values from the front of the input; past its end they read as zero bytes.
class InputReader {
  public:
    InputReader(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T take() {
        T value{};
        const std::size_t n = std::min(size_, sizeof(T));
        if (n > 0) std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    std::size_t restSize() const { return size_; }

  private:
    const uint8_t *data_;
    std::size_t size_;
};

}  // namespace ostrel::fuzz
