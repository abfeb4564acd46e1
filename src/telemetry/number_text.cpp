#include "telemetry/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <limits>

namespace ostrel {
namespace {

// Room for any double in fixed point: sign, every integer digit of the largest, the point
// and the most decimals.
using Digits =
    std::array<char, 1 + (std::numeric_limits<double>::max_exponent10 + 1) + 1 + kMaxFixedDecimals>;

// The unpadded text of `value` in `digits`; returns its length.
std::size_t fixedDigits(Digits &digits, double value, int decimals) {
    const int places = std::clamp(decimals, 0, kMaxFixedDecimals);
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                            std::chars_format::fixed, places);
    return error == std::errc() ? std::size_t(end - digits.data()) : 0;
}

std::size_t padding(std::size_t length, int width) {
    return width > 0 && std::size_t(width) > length ? std::size_t(width) - length : 0;
}

}  // namespace

char *putFixed(char *first, char *last, double value, int decimals, int width) {
    Digits digits;
    const std::size_t length = fixedDigits(digits, value, decimals);
    const auto room = [&] { return std::size_t(last - first); };
    first = std::fill_n(first, std::min(padding(length, width), room()), ' ');
    return std::copy_n(digits.data(), std::min(length, room()), first);
}

std::string fixedText(double value, int decimals, int width) {
    Digits digits;
    const std::size_t length = fixedDigits(digits, value, decimals);
    std::string text(padding(length, width), ' ');
    text.append(digits.data(), length);
    return text;
}

}  // namespace ostrel
