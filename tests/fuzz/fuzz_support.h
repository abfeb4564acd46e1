// Shared by the fuzz targets: the invariant check and typed values taken from the front of a
// fuzz input. Built both into the libFuzzer executables and into the corpus replays.
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

// Takes a fixed-size value from the front of the input, which it moves past; past its end the
// value reads as zero bytes.
template <typename T>
T take(const uint8_t *&data, std::size_t &size) {
    T value{};
    const std::size_t n = std::min(size, sizeof(T));
    if (n > 0) std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace ostrel::fuzz
