// A recording's raw words as a table of values: the columns a telemetry type gives, the
// value of a word in raw, percent or physical units (the same float the window shows),
// CSV rows, and a one-pass summary per column. Pure computations on records the reader
// returns; one object per thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording_description.h"
#include "recording/recording_reader.h"

namespace ostrel::recording {

enum class Units {
    raw,       // the word as logged, 0..65535
    percent,   // percentOf(word), -100..+100
    physical,  // steering types: the slot's quantity (Nm, °, °/s, g, °/s^2); plain: percent
};

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
std::string csvField(std::string_view text);

// "raw", "percent", "physical"; nullopt for any other text.
std::optional<Units> unitsFromName(std::string_view name);
std::string_view unitsName(Units units);

// One column of the table: the word of the record it comes from and its name.
struct OutputColumn {
    std::size_t word = 0;  // index of the word in a record
    int slot = -1;         // the word's steering slot (steering_slots order); -1 when plain
    std::string name;      // "Ch3 [%]", "Torque high [Nm]", "Angle low #2 [°]"
};

// The exact time base of a recording, in µs. The log header writes it rounded to two
// decimals ("Time-Base: 79.69us" for the 79.6875 of 4 words at 640 kbps), which drifts by
// 31 ppm over a long recording. `described` (the description's time_base_us, written with
// full precision) is taken when the header shows it rounded; else the sample period of the
// speed whose rounded value the header shows for its column count; else, when no speed
// gives it, the header's value as it is.
double exactTimeBaseMicros(const RecordingHeader &header,
                           std::optional<double> described = std::nullopt);

class Conversion {
  public:
    // The conversion of `type` (0..9) in `units` for a recording with `header`. Plain
    // types keep every column under the file's names; steering types name the words by
    // their slot and leave out the placeholder words ("-" in the log file: 30 and 31, and
    // the accelerations 6..9 of each group of ten in the module layouts). The time base is
    // exactTimeBaseMicros(header, describedTimeBase). nullopt, with `error` saying why, for
    // an unknown type or one whose words per record differ from the header's columns.
    static std::optional<Conversion> create(int type, Units units, const RecordingHeader &header,
                                            std::string &error,
                                            std::optional<double> describedTimeBase = std::nullopt);

    int type() const { return type_; }
    Units units() const { return units_; }
    double timeBaseMicros() const { return timeBaseMicros_; }
    std::size_t wordsPerRecord() const { return wordsPerRecord_; }
    const std::vector<OutputColumn> &columns() const { return columns_; }

    // The value of `word` in `column`, in this conversion's units.
    float value(const OutputColumn &column, uint16_t word) const;

    // Places the records after gaps in the log file (cycles left out, from the description) at
    // their true time: each gap moves the records from its place on by its cycles.
    void placeGaps(const std::vector<LogGap> &gaps);
    const std::vector<LogGap> &gaps() const { return gaps_; }

    // The recording's markers (from its description), for the table's marker column and the
    // summary.
    void placeMarkers(std::vector<RecordingMarker> markers) { markers_ = std::move(markers); }
    const std::vector<RecordingMarker> &markers() const { return markers_; }

    // Seconds from the first record to record `index`: (index + the records of the gaps
    // before it) x time base.
    double secondsAt(uint64_t index) const;

    // The CSV header line: "Time [s]" and every column's name, comma separated, LF.
    std::string csvHeader() const;

    // Most bytes one row takes (formatRow's buffer).
    std::size_t maxRowBytes() const;
    // Writes the CSV row of record `index` (its wordsPerRecord() words at `record`) to
    // `out`, which holds maxRowBytes(); returns the end of the row (after its LF). Numbers
    // with '.' as the decimal point whatever the locale: the time in seconds to the
    // microsecond (trailing zeros dropped), raw words as integers, other values as the
    // shortest decimal that reads back as the same float.
    char *formatRow(char *out, uint64_t index, const uint16_t *record) const;

  private:
    Conversion() = default;
    void cacheValueTexts();

    // The text formatRow writes for one value, ',' first, in a fixed slot: copied whole,
    // then the row goes on after `length` bytes.
    struct ValueText {
        char bytes[15];
        uint8_t length;
    };
    // Where formatRow finds a column's texts: its word, and the first of its table's 4096
    // entries in valueTexts_ (an offset, so a copied Conversion stays valid).
    struct ColumnTexts {
        uint32_t word;
        uint32_t first;
    };

    int type_ = -1;
    int layout_ = -1;  // steering layout, -1 for a plain type
    Units units_ = Units::raw;
    double timeBaseMicros_ = 0;
    std::size_t wordsPerRecord_ = 0;
    std::vector<OutputColumn> columns_;
    std::vector<LogGap> gaps_;                  // sorted by place
    std::vector<RecordingMarker> markers_;      // in the order they were set
    std::vector<uint64_t> recordsLeftOutUpTo_;  // per gap: the records left out up to it
    // Outside raw units a value depends on its word's 12-bit sample only, so every text a
    // column can write is made once: a table of 4096 per scaling (one for percent, one per
    // steering slot in physical units), shared by the columns of that scaling. Empty for
    // raw units (and should a text not fit its slot): formatRow then formats each value.
    std::vector<ValueText> valueTexts_;
    std::vector<ColumnTexts> columnTexts_;  // per column, in columns_ order
};

// Minimum, maximum and mean of every column of a conversion, and the duration and cycles
// of the records, in one streaming pass: memory does not depend on the record count.
class RecordingSummary {
  public:
    explicit RecordingSummary(const Conversion &conversion);

    // Takes `count` records, one after the other at `records`.
    void add(const uint16_t *records, std::size_t count);

    struct Column {
        std::string name;
        uint64_t count = 0;
        // Of the values as the conversion writes them; NaN when there are no records.
        float min = 0;
        float max = 0;
        double mean = 0;
    };
    std::vector<Column> columns() const;

    uint64_t records() const { return records_; }
    // From the first record to the end of the last, gaps included, in seconds.
    double durationSeconds() const;
    // Logged cycles the records make: records / (LOGCOUNT / words per record).
    double cycles() const;

    // The report: "key: value" lines, then the column table as CSV.
    std::string text(std::string_view recordingName) const;

  private:
    // Per word of the record: the extremes and the sums of the word and of its 12-bit
    // sample, exact in integers.
    struct WordStats {
        uint32_t min = UINT32_MAX;
        uint32_t max = 0;
        uint64_t sum = 0;
        uint64_t sampleSum = 0;
    };

    const Conversion &conversion_;
    std::vector<WordStats> words_;
    uint64_t records_ = 0;
};

}  // namespace ostrel::recording
