// Fuzz target: the record formatter of the log file (formatCycle), writing into a buffer of
// exactly records x maxRecordBytes (AddressSanitizer sees a byte past it). The input is the
// words per record (one byte, -40..40), the separator (one byte) and the words. The text reads
// back as the same words, in decimal without leading zeros, CR LF per record; 0 or fewer words
// per record write nothing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "logging/record_writer.h"

namespace {

// A separator the records can be read back with: no digit and no line end.
char readableSeparator(uint8_t byte) {
    const char c = char(byte);
    if ((c >= '0' && c <= '9') || c == '\r' || c == '\n') return ',';
    return c;
}

// Reads one field: the decimal of a word, no leading zero, no sign.
bool parseWord(std::string_view field, uint16_t *word) {
    if (field.empty() || field.size() > 5 || (field.size() > 1 && field[0] == '0') ||
        field.find_first_not_of("0123456789") != field.npos)
        return false;
    const unsigned long value = std::stoul(std::string(field));
    *word = uint16_t(value);
    return value <= 65535;
}

void checkReadsBack(std::string_view text, const std::vector<uint16_t> &words, std::size_t records,
                    int perRecord, char separator) {
    std::size_t next = 0;
    for (std::size_t r = 0; r < records; ++r) {
        const std::size_t lineEnd = text.find("\r\n");
        FUZZ_CHECK(lineEnd != std::string_view::npos);
        std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd + 2);
        for (int f = 0; f < perRecord; ++f) {
            const std::size_t end = f + 1 < perRecord ? line.find(separator) : line.size();
            FUZZ_CHECK(end != std::string_view::npos);
            uint16_t word = 0;
            FUZZ_CHECK(parseWord(line.substr(0, end), &word) && word == words[next++]);
            line.remove_prefix(end == line.size() ? end : end + 1);
        }
        FUZZ_CHECK(line.empty());
    }
    FUZZ_CHECK(text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    ostrel::fuzz::InputReader input(data, size);
    const int perRecord = int(input.take<int8_t>()) % 41;
    const char separator = readableSeparator(input.take<uint8_t>());
    std::vector<uint16_t> words(input.restSize() / 2);
    for (uint16_t &word : words) word = input.take<uint16_t>();

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
    checkReadsBack(std::string_view(out.get(), written), words, records, perRecord, separator);
    return 0;
}
