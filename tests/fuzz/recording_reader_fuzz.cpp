// Fuzz target: the input as a recording (parseRecording). Read without an error it has a
// positive finite time base, ',' or tab, a column and whole records, which written back read
// back the same; an error names the input and its line (1 or 2 for the header, else the line
// after the records read), and only a record is truncated; half the input gives a prefix of
// the records.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "recording/recording_reader.h"

namespace {

using ostrel::recording::ParsedRecording;

constexpr std::string_view kName = "input.dat";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const ParsedRecording parsed = ostrel::recording::parseRecording(content, kName);
    const std::size_t words = parsed.header.columns.size();
    if (parsed.error) {
        const ostrel::recording::ReadError &error = *parsed.error;
        FUZZ_CHECK(error.file == kName && !error.what.empty() && error.line >= 1);
        FUZZ_CHECK(words == 0 ? error.line <= 2 && !error.truncated && parsed.words.empty()
                              : error.line == 3 + parsed.words.size() / words);
        FUZZ_CHECK(error.message().starts_with(std::string(kName) + ": line "));
    } else {
        FUZZ_CHECK(words >= 1 && std::isfinite(parsed.header.timeBaseMicros) &&
                   parsed.header.timeBaseMicros > 0);
    }
    if (words == 0) return 0;
    const char separator = parsed.header.separator;
    FUZZ_CHECK((separator == ',' || separator == '\t') && parsed.words.size() % words == 0);

    // The records written back read back the same.
    // The two header lines as they were, then the records.
    std::string rewritten(content.substr(0, content.find('\n', content.find('\n') + 1) + 1));
    for (std::size_t i = 0; i < parsed.words.size(); ++i) {
        rewritten += std::to_string(parsed.words[i]);
        rewritten += (i + 1) % words == 0 ? std::string("\r\n") : std::string(1, separator);
    }
    const ParsedRecording again = ostrel::recording::parseRecording(rewritten, kName);
    FUZZ_CHECK(!again.error && again.header.columns == parsed.header.columns &&
               again.words == parsed.words);

    // Less of the input never gives other records.
    const ParsedRecording half =
        ostrel::recording::parseRecording(content.substr(0, content.size() / 2), kName);
    FUZZ_CHECK(half.words.size() <= parsed.words.size() &&
               std::equal(half.words.begin(), half.words.end(), parsed.words.begin()));
    return 0;
}
