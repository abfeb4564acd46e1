// Fuzz target: the two header lines of a log file (logHeader, timeBaseText, separatorOf). The
// input is the type (int32), the time base in µs (double) and the FILE_SEP value (int32). The
// separator is ',' for 1, tab for 2, else none; the time base is fixed point with two decimals
// reading back within 0.005 (or inf/nan); then N - 1 separators, CR LF, the type's N column
// names joined by the separator, CR LF.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "fuzz_support.h"
#include "logging/log_header.h"
#include "support/log_file_check.h"
#include "telemetry/tables.h"

namespace {

// Sign, 309 integer digits, the point and two decimals.
constexpr std::size_t kLongestTimeBase =
    1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 2;

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == text.npos;
}

void checkTimeBaseText(double micros, const std::string &text) {
    FUZZ_CHECK(text.size() <= kLongestTimeBase);
    if (!std::isfinite(micros)) {
        FUZZ_CHECK(text == "inf" || text == "-inf" || text == "nan" || text == "-nan");
        FUZZ_CHECK(std::isnan(micros) == (text.find("nan") != std::string::npos));
        return;
    }
    std::string_view digits = text;
    if (digits.starts_with('-')) digits.remove_prefix(1);
    const std::size_t point = digits.find('.');
    FUZZ_CHECK(point != std::string_view::npos && point + 3 == digits.size());
    FUZZ_CHECK(isDigits(digits.substr(0, point)) && isDigits(digits.substr(point + 1)));
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    FUZZ_CHECK(result.ec == std::errc{} && result.ptr == text.data() + text.size());
    const double ulp = std::fabs(std::nextafter(micros, 0.0) - micros);
    FUZZ_CHECK(std::fabs(value - micros) <= 0.005 + 2 * ulp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const int32_t type = ostrel::fuzz::take<int32_t>(data, size);
    const double micros = ostrel::fuzz::take<double>(data, size);
    const int32_t fileSeparator = ostrel::fuzz::take<int32_t>(data, size);

    const char separator = ostrel::separatorOf(fileSeparator);
    FUZZ_CHECK(separator == (fileSeparator == 1 ? ',' : fileSeparator == 2 ? '\t' : '\0'));

    const std::string timeBase = ostrel::timeBaseText(micros);
    checkTimeBaseText(micros, timeBase);

    const int columns = ostrel::isValidType(type) ? ostrel::number_of_channels[type] : 0;
    const std::string text = ostrel::logHeader(type, micros, separator);
    std::string expected = "Time-Base: " + timeBase + "us" +
                           std::string(std::size_t(columns > 0 ? columns - 1 : 0), separator) +
                           "\r\n";
    const std::vector<std::string> names = ostrel::test::logColumnNames(type);  // the checker's
    for (int c = 0; c < columns; ++c)
        expected += (c > 0 ? std::string(1, separator) : "") + names[c];
    FUZZ_CHECK(text == expected + "\r\n");
    return 0;
}
