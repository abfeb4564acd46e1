#include "recording/type_names.h"

#include <array>

#include "telemetry/tables.h"

namespace ostrel::recording {
namespace {

constexpr std::array<std::string_view, telemetry_type_count> kShortNames{
    "4ch",           "8ch",           "16ch",          "32ch",          "steer-car-100",
    "steer-car-200", "steer-com-100", "steer-com-200", "steer-mod-100", "steer-mod-200"};

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::optional<int> telemetryTypeFromName(std::string_view name) {
    const std::string_view wanted = trimmed(name);
    if (wanted.empty()) return std::nullopt;
    for (int type = 0; type < telemetry_type_count; ++type) {
        if (equalIgnoringCase(wanted, kShortNames[type]) ||
            equalIgnoringCase(wanted, trimmed(telemetry_types[type].label))) {
            return type;
        }
    }
    return std::nullopt;
}

std::string_view typeLabel(int type) {
    if (!isValidType(type)) return {};
    return trimmed(telemetry_types[type].label);
}

std::string_view shortTypeName(int type) {
    if (!isValidType(type)) return {};
    return kShortNames[type];
}

}  // namespace ostrel::recording
