#include "logging/record_writer.h"

#include <array>
#include <cstring>

namespace ostrel {
namespace {

// The two digits of every value 0..99, "00" to "99": one table read per two digits
// instead of a division per digit.
constexpr std::array<char, 200> digitPairs = [] {
    std::array<char, 200> pairs{};
    for (int v = 0; v < 100; ++v) {
        pairs[2 * v] = char('0' + v / 10);
        pairs[2 * v + 1] = char('0' + v % 10);
    }
    return pairs;
}();

inline char *putDigit(char *out, unsigned digit) {
    *out = char('0' + digit);
    return out + 1;
}

inline char *putPair(char *out, unsigned pair) {
    std::memcpy(out, &digitPairs[2 * pair], 2);
    return out + 2;
}

// Below 100: one or two digits without a leading zero.
inline char *putSmall(char *out, unsigned v) {
    return v < 10 ? putDigit(out, v) : putPair(out, v);
}

inline char *putWord(char *out, unsigned v) {
    if (v < 100) return putSmall(out, v);
    if (v < 10000) return putPair(putSmall(out, v / 100), v % 100);
    const unsigned low = v % 10000;
    return putPair(putPair(putDigit(out, v / 10000), low / 100), low % 100);
}

}  // namespace

std::size_t formatCycle(const uint16_t *words, std::size_t records, int wordsPerRecord,
                        char separator, char *out) {
    if (wordsPerRecord <= 0) return 0;
    char *const start = out;
    for (std::size_t r = 0; r < records; ++r) {
        for (int j = 1; j < wordsPerRecord; ++j) {
            out = putWord(out, *words++);
            *out++ = separator;
        }
        out = putWord(out, *words++);
        *out++ = '\r';
        *out++ = '\n';
    }
    return std::size_t(out - start);
}

}  // namespace ostrel
