#include "recording/export_columns.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ostrel::recording {
namespace {

constexpr std::size_t kMaxIdentifier = 63;  // MATLAB's namelengthmax
constexpr char32_t kByteEscapeBase = 0xF700;

// Names a column may not take: the exports' own variables and MATLAB's keywords.
constexpr std::array<std::string_view, 26> kReservedNames = {kTimeVariable,
                                                             kMarkersVariable,
                                                             kDescriptionVariable,
                                                             "channel_names",
                                                             "channel_units",
                                                             "gaps",
                                                             "break",
                                                             "case",
                                                             "catch",
                                                             "classdef",
                                                             "continue",
                                                             "else",
                                                             "elseif",
                                                             "end",
                                                             "for",
                                                             "function",
                                                             "global",
                                                             "if",
                                                             "otherwise",
                                                             "parfor",
                                                             "persistent",
                                                             "return",
                                                             "spmd",
                                                             "switch",
                                                             "try",
                                                             "while"};

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiAlnum(char c) {
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

// The identifier a name stands for, before it is made unique.
std::string identifierOf(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (isAsciiAlnum(c)) {
            out += c;
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    if (out.empty() || !isAsciiLetter(out.front())) {
        out.insert(0, "x");
    }
    if (out.size() > kMaxIdentifier) out.resize(kMaxIdentifier);
    return out;
}

bool taken(const std::vector<ExportColumn> &columns, const std::string &identifier) {
    if (std::find(kReservedNames.begin(), kReservedNames.end(), identifier) !=
        kReservedNames.end()) {
        return true;
    }
    return std::any_of(columns.begin(), columns.end(),
                       [&](const ExportColumn &c) { return c.identifier == identifier; });
}

std::string uniqueIdentifier(const std::vector<ExportColumn> &columns, std::string base) {
    if (!taken(columns, base)) return base;
    for (int n = 2;; ++n) {
        const std::string suffix = "_" + std::to_string(n);
        const std::string candidate = base.substr(0, kMaxIdentifier - suffix.size()) + suffix;
        if (!taken(columns, candidate)) return candidate;
    }
}

// The code points of `bytes`: valid UTF-8 decoded, any other byte as U+F700 + byte.
std::vector<char32_t> codePointsOf(std::string_view bytes) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        char32_t point = length == 1   ? lead
                         : length == 2 ? lead & 0x1F
                         : length == 3 ? lead & 0x0F
                                       : lead & 0x07;
        bool valid = length > 0 && i + std::size_t(length) <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + std::size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && point >= kLeast[length] && point <= 0x10FFFF &&
                !(point >= 0xD800 && point <= 0xDFFF);
        out.push_back(valid ? point : kByteEscapeBase + lead);
        i += valid ? std::size_t(length) : 1;
    }
    return out;
}

}  // namespace

std::vector<ExportColumn> exportColumnsOf(const Conversion &conversion) {
    std::vector<ExportColumn> out;
    const bool raw = conversion.units() == Units::raw;
    for (const OutputColumn &column : conversion.columns()) {
        ExportColumn c;
        c.word = column.word;
        c.name = column.name;
        std::string_view base = column.name;
        c.unit = "raw";
        // Outside raw units the conversion ends every name with " [<unit>]".
        if (const std::size_t open = base.rfind(" ["); !raw && open != std::string_view::npos) {
            c.unit = std::string(base.substr(open + 2, base.size() - open - 3));
            base = base.substr(0, open);
        }
        c.identifier = uniqueIdentifier(out, identifierOf(base));
        out.push_back(std::move(c));
    }
    return out;
}

std::string utf8Text(std::string_view bytes) {
    std::string out;
    for (const char32_t point : codePointsOf(bytes)) {
        if (point < 0x80) {
            out += char(point);
        } else if (point < 0x800) {
            out += char(0xC0 | (point >> 6));
            out += char(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += char(0xE0 | (point >> 12));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        } else {
            out += char(0xF0 | (point >> 18));
            out += char(0x80 | ((point >> 12) & 0x3F));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        }
    }
    return out;
}

std::u16string utf16Text(std::string_view bytes) {
    std::u16string out;
    for (const char32_t point : codePointsOf(bytes)) {
        if (point < 0x10000) {
            out += char16_t(point);
        } else {
            out += char16_t(0xD800 + ((point - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return out;
}

}  // namespace ostrel::recording
