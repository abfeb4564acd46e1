#include "logging/log_header.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "telemetry/number_text.h"
#include "telemetry/tables.h"

namespace ostrel {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr int kSteeringGroupSize = 10;  // columns of one steering group; three groups, then "-"
constexpr int kSteeringGroups = 3;
constexpr std::string_view kPlaceholder = "-";

// Column names of one steering group; the last four are the accelerations.
constexpr std::array<std::string_view, kSteeringGroupSize> steeringColumns = {
    "Torque low", "Torque high", "Angle low", "Angle high", "Speed low",
    "Speed high", "X-Accel",     "Y-Accel",   "Z-Accel",    "Ang-Accel"};
constexpr int kFirstAccelColumn = 6;

std::string steeringColumnName(int type, int column) {
    const int slot = column % kSteeringGroupSize;
    const bool placeholder = column >= kSteeringGroups * kSteeringGroupSize ||
                             (slot >= kFirstAccelColumn && !hasAccelerations(type));
    return std::string(placeholder ? kPlaceholder : steeringColumns[slot]);
}

// Name of column `column` (from 0) of `type`.
std::string columnName(int type, int column) {
    if (isSteeringType(type)) return steeringColumnName(type, column);
    return "Ch" + std::to_string(column + 1);
}

int columnCount(int type) {
    return isValidType(type) ? number_of_channels[type] : 0;
}

}  // namespace

char separatorOf(int32_t fileSeparator) {
    if (fileSeparator == 1) return ',';
    if (fileSeparator == 2) return '\t';
    return '\0';
}

std::string timeBaseText(double micros) {
    return fixedText(micros, 2);
}

std::vector<std::string> logColumnNames(int type) {
    std::vector<std::string> names;
    for (int c = 0; c < columnCount(type); ++c) names.push_back(columnName(type, c));
    return names;
}

std::string logHeader(int type, double timeBaseMicros, char separator) {
    const int columns = columnCount(type);
    std::string header = "Time-Base: " + timeBaseText(timeBaseMicros) + "us";
    header.append(std::size_t(std::max(columns - 1, 0)), separator);
    header += kLineEnd;
    for (int c = 0; c < columns; ++c) {
        if (c > 0) header += separator;
        header += columnName(type, c);
    }
    header += kLineEnd;
    return header;
}

}  // namespace ostrel
