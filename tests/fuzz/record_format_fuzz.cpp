// Fuzz target: the record formatter of the log file (formatCycle), writing into a buffer of
// exactly records x maxRecordBytes (AddressSanitizer sees a byte past it). The input is the
// words per record (one byte, -40..40), the separator (one byte) and the words. The text reads
// back as the same words, in decimal without leading zeros, CR LF per record; 0 or fewer words
// per record write nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "logging/record_writer.h"

namespace {

// A separator that keeps the records apart: no digit and no line end.
char readableSeparator(uint8_t byte) {
    const char c = char(byte);
    if ((c >= '0' && c <= '9') || c == '\r' || c == '\n') return ',';
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const int perRecord = int(ostrel::fuzz::take<int8_t>(data, size)) % 41;
    const char separator = readableSeparator(ostrel::fuzz::take<uint8_t>(data, size));
    std::vector<uint16_t> words(size / 2);
    for (uint16_t &word : words) word = ostrel::fuzz::take<uint16_t>(data, size);

    if (perRecord <= 0) {
        char untouched = 'x';
        FUZZ_CHECK(ostrel::maxRecordBytes(perRecord) == 0);
        FUZZ_CHECK(
            ostrel::formatCycle(words.data(), words.size(), perRecord, separator, &untouched) == 0);
        FUZZ_CHECK(untouched == 'x');
        return 0;
    }
    const std::size_t records = words.size() / std::size_t(perRecord);
    const std::size_t bound = records * ostrel::maxRecordBytes(perRecord);
    FUZZ_CHECK(ostrel::maxRecordBytes(perRecord) ==
               std::size_t(perRecord) * 5 + std::size_t(perRecord - 1) + 2);
    // Exactly the bound, so that a byte past it is a heap overflow.
    const std::unique_ptr<char[]> out(new char[bound]);
    const std::size_t written =
        ostrel::formatCycle(words.data(), records, perRecord, separator, out.get());
    FUZZ_CHECK(written <= bound);
    // Each word in decimal, joined by the separator, CR LF after each record.
    std::string expected;
    for (std::size_t i = 0; i < records * std::size_t(perRecord); ++i)
        expected += std::to_string(words[i]) +
                    ((i + 1) % perRecord == 0 ? "\r\n" : std::string(1, separator));
    FUZZ_CHECK(std::string_view(out.get(), written) == expected);
    return 0;
}
