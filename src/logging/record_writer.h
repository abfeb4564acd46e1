// The records of one logged cycle as text: per record N unsigned decimal fields joined by
// the file's separator, then CR LF. Pure formatting into a caller's buffer; any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "telemetry/tables.h"

namespace ostrel {

// Most bytes one record of `wordsPerRecord` fields takes: five digits per field, a
// separator between fields, CR LF.
constexpr std::size_t maxRecordBytes(int wordsPerRecord) {
    return wordsPerRecord <= 0 ? 0 : std::size_t(wordsPerRecord) * 6 + 1;
}

// Most bytes one cycle (LOGCOUNT words) takes for any telemetry type: the type with the
// fewest words per frame has the most line ends.
inline constexpr std::size_t kMaxCycleBytes = [] {
    std::size_t most = 0;
    for (const int32_t words : number_of_channels) {
        most = std::max(most, std::size_t(LOGCOUNT / words) * maxRecordBytes(words));
    }
    return most;
}();
static_assert(kMaxCycleBytes == 204800);

// Writes `records` records of `wordsPerRecord` words each, taken from `words` in order,
// to `out` and returns the bytes written. `out` must hold records x
// maxRecordBytes(wordsPerRecord) bytes. Each word is its unsigned value in decimal
// without leading zeros ("0" to "65535").
std::size_t formatCycle(const uint16_t *words, std::size_t records, int wordsPerRecord,
                        char separator, char *out);

}  // namespace ostrel
