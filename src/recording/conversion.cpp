#include "recording/conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "recording/name_table.h"
#include "recording/type_names.h"
#include "telemetry/number_text.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel::recording {
namespace {

constexpr std::string_view kTimeColumn = "Time [s]";
constexpr int kTimeDecimals = 6;  // microseconds
// Decimals of the time base in the log header ("Time-Base: 79.69us"), as the log writer
// writes it (fixedText with two decimals).
constexpr int kHeaderTimeBaseDecimals = 2;
constexpr double kMicrosPerSecond = 1e6;
constexpr int kSteeringGroupWords = 10;  // a frame carries three groups of the ten words
constexpr std::size_t kSteeringGroupedWords = 30;
constexpr int kFirstAccelerationWord = 6;
// The 12-bit sample of a word is its bits 15..4; the full-scale ends of the sample.
constexpr int kSampleShift = 4;
constexpr double kLargestSample = 4095;
constexpr uint16_t kLowestWord = 0x0000;
constexpr uint16_t kHighestWord = 0xFFF0;

// Longest texts formatRow writes: the time in fixed point with six decimals for any
// double (sign, 309 digits, point, decimals), and one value (shortest float in fixed
// point: sign, 39 digits, point, up to 45 decimals below 1).
constexpr std::size_t kMaxTimeBytes = 1 + 309 + 1 + kTimeDecimals;
constexpr std::size_t kMaxValueBytes = 1 + 39 + 1 + 50;

constexpr NameTable<Units, 3> kUnitsNames{{
    {Units::raw, "raw"},
    {Units::percent, "percent"},
    {Units::physical, "physical"},
}};

// The slot whose quantity the frame carries in word `frameWord` (0..9).
int slotOfFrameWord(int frameWord) {
    for (int slot = 0; slot < steering_slot_count; ++slot) {
        if (steering_slots[slot].frame_word == frameWord) return slot;
    }
    return -1;
}

std::string_view unitOfSlot(int slot) {
    std::string_view unit = steering_slots[slot].unit;
    while (unit.starts_with(' ')) unit.remove_prefix(1);
    return unit;
}

char *putFloat(char *out, float value) {
    return std::to_chars(out, out + kMaxValueBytes, value, std::chars_format::fixed).ptr;
}

char *putDouble(char *out, double value) {
    return std::to_chars(out, out + kMaxTimeBytes, value, std::chars_format::fixed).ptr;
}

// Fixed point with `decimals` decimals, trailing zeros (and a bare point) dropped.
char *putTrimmed(char *out, double value, int decimals) {
    char *end =
        std::to_chars(out, out + kMaxTimeBytes, value, std::chars_format::fixed, decimals).ptr;
    const char *point = static_cast<const char *>(std::memchr(out, '.', std::size_t(end - out)));
    if (point == nullptr) return end;
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
    return end;
}

// Seconds to the microsecond, exactly as putTrimmed(seconds, kTimeDecimals) writes them,
// mostly in integers. Below 2^40 µs (12 days) the product seconds x 10^6 in double is
// within 2^-13 of the exact one, so unless its fraction is within 2^-10 of a half both
// round to the same whole microseconds, which are then written directly. The rest (near
// a half, negative, later, not finite) goes through to_chars.
char *putSeconds(char *out, double seconds) {
    const double micros = seconds * kMicrosPerSecond;
    if (!std::signbit(seconds) && micros < 0x1p40) {
        const double whole = std::floor(micros);
        const double fraction = micros - whole;
        if (std::fabs(fraction - 0.5) > 0x1p-10) {
            const uint64_t rounded = uint64_t(whole) + (fraction > 0.5 ? 1 : 0);
            out = std::to_chars(out, out + 20, rounded / 1'000'000).ptr;
            uint32_t decimals = uint32_t(rounded % 1'000'000);
            if (decimals == 0) return out;
            int digits = kTimeDecimals;
            while (decimals % 10 == 0) {
                decimals /= 10;
                --digits;
            }
            *out++ = '.';
            for (int i = digits - 1; i >= 0; --i, decimals /= 10)
                out[i] = char('0' + decimals % 10);
            return out + digits;
        }
    }
    return putTrimmed(out, seconds, kTimeDecimals);
}

char *putWord(char *out, uint16_t word) {
    return std::to_chars(out, out + 5, word).ptr;
}

std::string floatText(float value) {
    char text[kMaxValueBytes];
    return std::string(text, putFloat(text, value));
}

std::string doubleText(double value) {
    char text[kMaxTimeBytes];
    return std::string(text, putDouble(text, value));
}

// Whether the header's "Time-Base: <T>us" stands for `micros`: T is `micros` itself, or
// `micros` written with the header's two decimals.
bool headerShows(const RecordingHeader &header, double micros) {
    if (!(micros > 0) || !std::isfinite(micros)) return false;
    if (micros == header.timeBaseMicros) return true;
    const std::string text = fixedText(micros, kHeaderTimeBaseDecimals);
    double shown = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), shown);
    return ec == std::errc{} && end == text.data() + text.size() && shown == header.timeBaseMicros;
}

// A telemetry type whose frames have `words` words; -1 when none has.
int typeWithWords(std::size_t words) {
    for (int type = 0; type < telemetry_type_count; ++type) {
        if (std::size_t(number_of_channels[type]) == words) return type;
    }
    return -1;
}

}  // namespace

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

double exactTimeBaseMicros(const RecordingHeader &header, std::optional<double> described) {
    if (described && headerShows(header, *described)) return *described;
    // The sample period depends on the words per frame only, so any type of that frame
    // length gives the very value the log writer used. The speeds are a factor two or
    // more apart: at most one of them rounds to the header's value.
    if (const int type = typeWithWords(header.columns.size()); type >= 0) {
        for (int speed = 0; speed < speed_count; ++speed) {
            const double period = samplePeriodMicros(type, speed);
            if (headerShows(header, period)) return period;
        }
    }
    return header.timeBaseMicros;
}

std::optional<Units> unitsFromName(std::string_view name) {
    return valueIn(kUnitsNames, name);
}

std::string_view unitsName(Units units) {
    return nameIn(kUnitsNames, units);
}

std::optional<Conversion> Conversion::create(int type, Units units, const RecordingHeader &header,
                                             std::string &error,
                                             std::optional<double> describedTimeBase) {
    if (!isValidType(type)) {
        error = "unknown telemetry type " + std::to_string(type);
        return std::nullopt;
    }
    const std::size_t words = std::size_t(number_of_channels[type]);
    if (header.columns.size() != words) {
        error = "the recording has " + std::to_string(header.columns.size()) +
                (header.columns.size() == 1 ? " column" : " columns") + ", but type \"" +
                std::string(typeLabel(type)) + "\" (" + std::string(shortTypeName(type)) +
                ") has " + std::to_string(words) + " words per record";
        return std::nullopt;
    }
    Conversion c;
    c.type_ = type;
    c.layout_ = steeringLayout(type);
    c.units_ = units;
    c.timeBaseMicros_ = exactTimeBaseMicros(header, describedTimeBase);
    c.wordsPerRecord_ = words;
    const std::string_view plainUnit = units == Units::raw ? "" : " [%]";
    for (std::size_t w = 0; w < words; ++w) {
        OutputColumn column;
        column.word = w;
        if (c.layout_ < 0) {
            column.name = header.columns[w] + std::string(plainUnit);
            c.columns_.push_back(std::move(column));
            continue;
        }
        const int inGroup = int(w % kSteeringGroupWords);
        const bool placeholder = w >= kSteeringGroupedWords ||
                                 (inGroup >= kFirstAccelerationWord && !hasAccelerations(type));
        if (placeholder) continue;
        column.slot = slotOfFrameWord(inGroup);
        column.name = std::string(steering_slots[column.slot].label);
        if (const std::size_t group = w / kSteeringGroupWords; group > 0) {
            column.name += " #" + std::to_string(group + 1);
        }
        if (units == Units::percent) {
            column.name += " [%]";
        } else if (units == Units::physical) {
            column.name += " [" + std::string(unitOfSlot(column.slot)) + "]";
        }
        c.columns_.push_back(std::move(column));
    }
    c.cacheValueTexts();
    return c;
}

void Conversion::cacheValueTexts() {
    if (units_ == Units::raw) return;
    constexpr uint32_t kSamples = uint32_t(kLargestSample) + 1;
    // The scaling a column's values follow, as value() chooses it: a steering slot's in
    // physical units, percent otherwise. Its table, once made, is found by it.
    std::vector<std::pair<int, uint32_t>> tableOfScaling;
    for (const OutputColumn &column : columns_) {
        const int scaling = units_ == Units::physical ? column.slot : -1;
        auto known = std::find_if(tableOfScaling.begin(), tableOfScaling.end(),
                                  [scaling](const auto &t) { return t.first == scaling; });
        if (known == tableOfScaling.end()) {
            const auto first = uint32_t(valueTexts_.size());
            for (uint32_t sample = 0; sample < kSamples; ++sample) {
                char text[1 + kMaxValueBytes];
                text[0] = ',';
                const char *end =
                    putFloat(text + 1, value(column, uint16_t(sample << kSampleShift)));
                ValueText entry{};
                const auto length = std::size_t(end - text);
                if (length > sizeof entry.bytes) {  // not with today's scalings (13 at most)
                    valueTexts_.clear();
                    columnTexts_.clear();
                    return;
                }
                std::memcpy(entry.bytes, text, length);
                entry.length = uint8_t(length);
                valueTexts_.push_back(entry);
            }
            known = tableOfScaling.insert(tableOfScaling.end(), {scaling, first});
        }
        columnTexts_.push_back({uint32_t(column.word), known->second});
    }
}

float Conversion::value(const OutputColumn &column, uint16_t word) const {
    switch (units_) {
        case Units::raw:
            return float(word);
        case Units::percent:
            return percentOf(word);
        case Units::physical:
            return column.slot < 0 ? percentOf(word) : steeringValue(layout_, column.slot, word);
    }
    return 0;
}

void Conversion::placeGaps(const std::vector<LogGap> &gaps) {
    gaps_ = gaps;
    std::stable_sort(gaps_.begin(), gaps_.end(), [](const LogGap &a, const LogGap &b) {
        return a.afterRecord < b.afterRecord;
    });
    const uint64_t recordsPerCycle = framesPerLoggedCycle(type_);
    recordsLeftOutUpTo_.clear();
    uint64_t total = 0;
    for (const LogGap &gap : gaps_) {
        total += gap.cycles * recordsPerCycle;
        recordsLeftOutUpTo_.push_back(total);
    }
}

double Conversion::secondsAt(uint64_t index) const {
    uint64_t leftOut = 0;
    if (!gaps_.empty()) {
        // The last gap placed at or before `index`.
        const auto after =
            std::upper_bound(gaps_.begin(), gaps_.end(), index,
                             [](uint64_t i, const LogGap &gap) { return i < gap.afterRecord; });
        if (after != gaps_.begin())
            leftOut = recordsLeftOutUpTo_[std::size_t(after - gaps_.begin()) - 1];
    }
    return double(index + leftOut) * timeBaseMicros_ / kMicrosPerSecond;
}

std::string Conversion::csvHeader() const {
    std::string header(kTimeColumn);
    for (const OutputColumn &column : columns_) {
        header += ',';
        header += csvField(column.name);
    }
    header += '\n';
    return header;
}

std::size_t Conversion::maxRowBytes() const {
    return kMaxTimeBytes + columns_.size() * (1 + kMaxValueBytes) + 1;
}

char *Conversion::formatRow(char *out, uint64_t index, const uint16_t *record) const {
    out = putSeconds(out, secondsAt(index));
    if (!columnTexts_.empty()) {
        // Each value's slot is copied whole (maxRowBytes leaves room for it), and the row
        // goes on after its text.
        const ValueText *const texts = valueTexts_.data();
        for (const ColumnTexts &column : columnTexts_) {
            const ValueText &text = texts[column.first + (record[column.word] >> kSampleShift)];
            std::memcpy(out, &text, sizeof text);
            out += text.length;
        }
        *out++ = '\n';
        return out;
    }
    for (const OutputColumn &column : columns_) {
        *out++ = ',';
        const uint16_t word = record[column.word];
        out = units_ == Units::raw ? putWord(out, word) : putFloat(out, value(column, word));
    }
    *out++ = '\n';
    return out;
}

RecordingSummary::RecordingSummary(const Conversion &conversion)
    : conversion_(conversion), words_(conversion.wordsPerRecord()) {}

void RecordingSummary::add(const uint16_t *records, std::size_t count) {
    const std::size_t words = words_.size();
    WordStats *const stats = words_.data();
    for (std::size_t r = 0; r < count; ++r, records += words) {
        for (std::size_t w = 0; w < words; ++w) {
            const uint32_t word = records[w];
            WordStats &s = stats[w];
            s.min = word < s.min ? word : s.min;
            s.max = word > s.max ? word : s.max;
            s.sum += word;
            s.sampleSum += word >> kSampleShift;
        }
    }
    records_ += count;
}

std::vector<RecordingSummary::Column> RecordingSummary::columns() const {
    std::vector<Column> out;
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    for (const OutputColumn &column : conversion_.columns()) {
        Column c;
        c.name = column.name;
        c.count = records_;
        if (records_ == 0) {
            c.min = c.max = none;
            c.mean = double(none);
            out.push_back(std::move(c));
            continue;
        }
        const WordStats &s = words_[column.word];
        // Every unit's value rises (never falls) with the word, so the extremes are the
        // values of the extreme words: exactly values the conversion writes.
        c.min = conversion_.value(column, uint16_t(s.min));
        c.max = conversion_.value(column, uint16_t(s.max));
        const double n = double(records_);
        if (conversion_.units() == Units::raw) {
            c.mean = double(s.sum) / n;
        } else {
            // Percent and the steering quantities are affine in the 12-bit sample (each
            // value rounded to float on the way), so the mean value is the value of the
            // mean sample: interpolated between the values at the two full-scale ends.
            const double low = conversion_.value(column, kLowestWord);
            const double high = conversion_.value(column, kHighestWord);
            c.mean = low + (high - low) * (double(s.sampleSum) / n) / kLargestSample;
        }
        out.push_back(std::move(c));
    }
    return out;
}

namespace {

// "gaps: none", or the count and then a line per gap.
std::string gapLines(const std::vector<LogGap> &gaps) {
    if (gaps.empty()) return "gaps: none\n";
    uint64_t cycles = 0;
    for (const LogGap &gap : gaps) cycles += gap.cycles;
    std::string out = "gaps: " + std::to_string(gaps.size()) + " (" + std::to_string(cycles) +
                      (cycles == 1 ? " cycle" : " cycles") + " left out)\n";
    for (const LogGap &gap : gaps) {
        out += "gap: after record " + std::to_string(gap.afterRecord) + ": " +
               std::to_string(gap.cycles) + (gap.cycles == 1 ? " cycle\n" : " cycles\n");
    }
    return out;
}

// "markers: 2", then "marker 1: record 4096, 0.32768 s, 2026-12-08T09:30:01.250+01:00: curve"
// a line each (no label: nothing after the wall clock).
std::string markerLines(const Conversion &conversion) {
    const std::vector<RecordingMarker> &markers = conversion.markers();
    if (markers.empty()) return "markers: none\n";
    std::string out = "markers: " + std::to_string(markers.size()) + "\n";
    for (const RecordingMarker &m : markers) {
        char seconds[kMaxTimeBytes];
        out += "marker " + std::to_string(m.number) + ": record " + std::to_string(m.record) +
               ", " + std::string(seconds, putTrimmed(seconds, m.seconds, kTimeDecimals)) + " s, " +
               m.wallClock + (m.label.empty() ? "" : ": " + m.label) + "\n";
    }
    return out;
}

// What the columns are in: "raw", "percent" (also a plain type's physical units), or the
// steering quantities' units in the columns' order, each once: "physical (Nm, °, °/s)".
std::string columnUnits(const Conversion &conversion) {
    if (conversion.units() == Units::raw) return "raw";
    std::vector<std::string_view> units;
    for (const OutputColumn &column : conversion.columns()) {
        if (conversion.units() != Units::physical || column.slot < 0) return "percent";
        const std::string_view unit = unitOfSlot(column.slot);
        if (std::find(units.begin(), units.end(), unit) == units.end()) units.push_back(unit);
    }
    std::string text = "physical (";
    for (std::size_t u = 0; u < units.size(); ++u) {
        text += (u > 0 ? ", " : "") + std::string(units[u]);
    }
    return text + ")";
}

}  // namespace

double RecordingSummary::durationSeconds() const {
    return conversion_.secondsAt(records_);
}

double RecordingSummary::cycles() const {
    const double recordsPerCycle = double(LOGCOUNT) / double(conversion_.wordsPerRecord());
    return double(records_) / recordsPerCycle;
}

std::string RecordingSummary::text(std::string_view recordingName) const {
    const int type = conversion_.type();
    std::string out;
    out += "recording: " + std::string(recordingName) + "\n";
    out +=
        "type: " + std::string(typeLabel(type)) + " (" + std::string(shortTypeName(type)) + ")\n";
    out += "units: " + columnUnits(conversion_) + "\n";
    out += "time base: " + doubleText(conversion_.timeBaseMicros()) + " us\n";
    out += "records: " + std::to_string(records_) + "\n";
    char seconds[kMaxTimeBytes];
    out +=
        "duration: " + std::string(seconds, putTrimmed(seconds, durationSeconds(), kTimeDecimals)) +
        " s\n";
    out += "cycles: " + doubleText(cycles()) + "\n";
    out += gapLines(conversion_.gaps());
    out += markerLines(conversion_);
    out += "column,count,min,max,mean\n";
    for (const Column &c : columns()) {
        out += csvField(c.name) + "," + std::to_string(c.count) + ",";
        if (c.count > 0)
            out += floatText(c.min) + "," + floatText(c.max) + "," + doubleText(c.mean);
        else
            out += ",,";
        out += "\n";
    }
    return out;
}

}  // namespace ostrel::recording
