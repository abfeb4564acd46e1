// Words to values as the window shows them, the columns each type gives, CSV rows, the
// one-pass summary, and the type and unit names the command line takes.
#include "recording/conversion.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "recording/type_names.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel::recording {
namespace {

RecordingHeader headerOf(std::size_t columns, double timeBase = 159.38) {
    RecordingHeader header;
    header.timeBaseMicros = timeBase;
    for (std::size_t c = 0; c < columns; ++c)
        header.columns.push_back("Ch" + std::to_string(c + 1));
    return header;
}

Conversion conversionOf(int type, Units units, double timeBase = 159.38) {
    std::string error;
    std::optional<Conversion> c = Conversion::create(
        type, units, headerOf(std::size_t(number_of_channels[type]), timeBase), error);
    EXPECT_TRUE(c) << error;
    return *c;
}

// The value as the window's display prints it: two decimals (none for the angular
// acceleration).
std::string shown(float value, int decimals = 2) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, double(value));
    return text;
}

std::string row(const Conversion &c, uint64_t index, const std::vector<uint16_t> &record) {
    std::vector<char> buffer(c.maxRowBytes());
    return std::string(buffer.data(), c.formatRow(buffer.data(), index, record.data()));
}

// Names ---------------------------------------------------------------------------------------

TEST(TypeNames, RingTextsAndShortNamesInAnyCase) {
    const struct {
        std::string_view name;
        int type;
    } cases[] = {
        {" 8 Channel", 1},
        {"  8 CHANNEL\t", 1},
        {"16CH", 2},
        {"32 channel", 3},
        {"steer-com-100", 6},
        {"STEER-COM-200", 7},
        {"steering module 100 nm", 8},
        {" steer-mod-200 ", 9},
    };
    for (const auto &c : cases) EXPECT_EQ(telemetryTypeFromName(c.name), c.type) << c.name;
    for (const std::string_view bad :
         {"", " ", "8", "8 Channels", "8-ch", "steer-car", "Steering Module", "ch8", "4ch4ch"}) {
        EXPECT_FALSE(telemetryTypeFromName(bad)) << bad;
    }
    for (int type = 0; type < telemetry_type_count; ++type) {
        EXPECT_EQ(telemetryTypeFromName(shortTypeName(type)), type);
        EXPECT_EQ(telemetryTypeFromName(typeLabel(type)), type);
        EXPECT_EQ(telemetryTypeFromName(telemetry_types[type].label), type);
    }
    for (const int outside : {-1, 10}) EXPECT_EQ(shortTypeName(outside), "");
}

// Columns and values --------------------------------------------------------------------------

TEST(SteeringConversion, ColumnsInWordOrderNamedByTheirSlotWithoutPlaceholders) {
    const Conversion car = conversionOf(4, Units::physical);
    std::vector<std::string> names;
    for (const OutputColumn &column : car.columns()) names.push_back(column.name);
    ASSERT_EQ(names.size(), 30u);  // words 30 and 31 are placeholders
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 10),
              (std::vector<std::string>{
                  "Torque high [Nm]", "Torque low [Nm]", "Angle high [\xC2\xB0]",
                  "Angle low [\xC2\xB0]", "Speed high [\xC2\xB0/s]", "Speed low [\xC2\xB0/s]",
                  "X Accel. [g]", "Y Accel. [g]", "Z Accel. [g]", "Ang. Accel. [\xC2\xB0/s^2]"}));
    EXPECT_EQ(names[10], "Torque high #2 [Nm]");
    EXPECT_EQ(names[29], "Ang. Accel. #3 [\xC2\xB0/s^2]");
    for (std::size_t i = 0; i < 30; ++i) EXPECT_EQ(car.columns()[i].word, i);

    // The module layouts carry no accelerations: six words of each group.
    const Conversion module = conversionOf(9, Units::percent);
    ASSERT_EQ(module.columns().size(), 18u);
    EXPECT_EQ(module.columns()[6].word, 10u);
    EXPECT_EQ(module.columns()[17].word, 25u);
    EXPECT_EQ(module.columns()[1].name, "Torque low [%]");
    EXPECT_EQ(conversionOf(7, Units::raw).columns()[0].name, "Torque high");
}

// Layout 0 at full scale, then the commercial 200 Nm layout at minus full scale and at
// the first sample above mid-scale: the display texts of the window, digit for digit.
TEST(SteeringConversion, PhysicalValuesAreTheWindowsForTwoLayouts) {
    const struct {
        int type;
        uint16_t word;
        std::size_t recordWord;
        const char *shown;
        int decimals;
    } cases[] = {
        {4, 0xFFFF, 0, "100.00", 2},   {4, 0xFFFF, 1, "10.00", 2},   {4, 0xFFFF, 2, "1000.00", 2},
        {4, 0xFFFF, 3, "100.00", 2},   {4, 0xFFFF, 4, "1000.00", 2}, {4, 0xFFFF, 5, "500.00", 2},
        {4, 0xFFFF, 8, "5.00", 2},     {4, 0xFFFF, 9, "10000", 0},   {4, 0x8000, 2, "0.24", 2},
        {4, 0x8000, 9, "2", 0},        {7, 0x0000, 0, "-200.00", 2}, {7, 0x0000, 3, "-120.00", 2},
        {7, 0x0000, 2, "-1200.00", 2}, {7, 0x8000, 2, "0.29", 2},    {7, 0x8000, 13, "0.03", 2},
        {7, 0x8000, 10, "0.05", 2},
    };
    for (const auto &c : cases) {
        const Conversion conversion = conversionOf(c.type, Units::physical);
        const OutputColumn &column = conversion.columns()[c.recordWord];
        ASSERT_EQ(column.word, c.recordWord);
        EXPECT_EQ(shown(conversion.value(column, c.word), c.decimals), c.shown)
            << "type " << c.type << " word " << c.recordWord;
    }
    // The angle low of the commercial layouts is the double product, stored once as float.
    const Conversion commercial = conversionOf(7, Units::physical);
    EXPECT_EQ(commercial.value(commercial.columns()[3], 0x0000), -120.0f);
    const uint16_t word = 1234 << 4;
    EXPECT_EQ(commercial.value(commercial.columns()[13], word),
              static_cast<float>(percentOf(word) * 1.2));
    EXPECT_EQ(conversionOf(7, Units::percent).value(commercial.columns()[3], word),
              percentOf(word));
}

// The header's two decimals drift by up to 31 ppm; the exact value is the description's,
// else the sample period of the one speed the header's text and column count fit.
TEST(TimeBase, TheHeadersRoundedTextStandsForTheExactSamplePeriod) {
    const struct {
        double header;
        std::size_t columns;
        std::optional<double> described;
        double exact;
    } cases[] = {
        {79.69, 4, std::nullopt, 79.6875},                     // 640 kbps
        {159.38, 4, std::nullopt, 159.375},                    // 320 kbps
        {159.38, 8, std::nullopt, 159.375},                    // 640 kbps
        {159.38, 32, std::nullopt, 159.38},                    // no speed: the header's value
        {79.6875, 4, std::nullopt, 79.6875},                   // already exact
        {637.5, 32, std::nullopt, 637.5},                      // 640 kbps, exact in two decimals
        {79.69, 4, 79.6875, 79.6875},                          // the description's
        {1821.43, 4, 1821.4285714285713, 1821.4285714285713},  // 28 kbps: only described
        {79.69, 4, 80.0, 79.6875},                             // a description that does not fit
        {79.69, 4, 0.0, 79.6875},
        {79.69, 5, std::nullopt, 79.69},  // no frame of 5 words
    };
    for (const auto &c : cases) {
        EXPECT_EQ(exactTimeBaseMicros(headerOf(c.columns, c.header), c.described), c.exact)
            << c.header << " us, " << c.columns << " columns";
    }
    // A conversion takes the description's (the header's: ConvertCommand's tables).
    std::string error;
    const std::optional<Conversion> described =
        Conversion::create(0, Units::raw, headerOf(4, 1821.43), error, 1821.4285714285713);
    ASSERT_TRUE(described) << error;
    EXPECT_EQ(row(*described, 7, {1, 2, 3, 4}), "0.01275,1,2,3,4\n");
}

// (Columns in the plural: ConvertCommand's table.)
TEST(Conversion, ATypeWithOtherWordsThanTheFileIsRefused) {
    std::string error;
    EXPECT_FALSE(Conversion::create(5, Units::raw, headerOf(1), error));
    EXPECT_EQ(error,
              "the recording has 1 column, but type \"Steering Personal Car 200 Nm\" "
              "(steer-car-200) has 32 words per record");
    EXPECT_FALSE(Conversion::create(10, Units::raw, headerOf(8), error));
    EXPECT_EQ(error, "unknown telemetry type 10");
}

// CSV -----------------------------------------------------------------------------------------

// Every value as std::to_chars writes its float (the word itself in raw units, a plain
// channel's percentOf otherwise; their texts: the telemetry tests): each type and unit, every
// 12-bit sample with low bits that must be ignored, every column of a record another word.
TEST(CsvRows, EveryValueIsTheShortestTextOfItsFloat) {
    for (int type = 0; type < telemetry_type_count; ++type) {
        for (const Units units : {Units::raw, Units::percent, Units::physical}) {
            const Conversion c = conversionOf(type, units);
            std::vector<uint16_t> record(c.wordsPerRecord());
            for (uint32_t sample = 0; sample < 4096; ++sample) {
                for (uint32_t w = 0; w < record.size(); ++w)
                    record[w] = uint16_t(((sample + 97 * w) % 4096) << 4 | (w % 16));
                std::string expected = "0";
                for (const OutputColumn &column : c.columns()) {
                    const uint16_t word = record[column.word];
                    // A plain channel in percent or physical units: what the window shows.
                    if (units != Units::raw && !isSteeringType(type)) {
                        ASSERT_EQ(c.value(column, word), percentOf(word));
                    }
                    char text[64];
                    char *end = units == Units::raw
                                    ? std::to_chars(text, text + 64, word).ptr
                                    : std::to_chars(text, text + 64, c.value(column, word),
                                                    std::chars_format::fixed)
                                          .ptr;
                    expected += ',' + std::string(text, end);
                }
                ASSERT_EQ(row(c, 0, record), expected + "\n")
                    << "type " << type << ", " << unitsName(units) << ", sample " << sample;
            }
        }
    }
}

// The time column is std::to_chars of secondsAt with six decimals, trailing zeros and a
// bare point dropped: at products a half microsecond apart (ties), at the limit of the
// whole microseconds (2^40) and beyond, at the times of long recordings.
TEST(CsvRows, TimesAreTheirDoubleToTheMicrosecond) {
    const auto toMicrosecond = [](double seconds) {
        char text[400];
        char *end = std::to_chars(text, text + 400, seconds, std::chars_format::fixed, 6).ptr;
        while (end[-1] == '0') --end;
        if (end[-1] == '.') --end;
        return std::string(text, end) + ",1,2,3,4\n";
    };
    const double timeBases[] = {0.25, 0.5, 0.1, 79.6875, 159.375, 637.5, 2550, 1e6 / 3};
    const uint64_t indices[] = {1'000'000,        1ull << 32,        (1ull << 41) - 1, 1ull << 41,
                                (1ull << 41) + 1, 3'298'534'883'328, 1ull << 53,       1ull << 60};
    for (const double timeBase : timeBases) {
        const Conversion c = conversionOf(0, Units::raw, timeBase);
        for (uint64_t index = 0; index < 20'000; ++index) {
            ASSERT_EQ(row(c, index, {1, 2, 3, 4}), toMicrosecond(c.secondsAt(index)))
                << timeBase << " us, record " << index;
        }
        for (const uint64_t index : indices) {
            EXPECT_EQ(row(c, index, {1, 2, 3, 4}), toMicrosecond(c.secondsAt(index)))
                << timeBase << " us, record " << index;
        }
    }
}

TEST(CsvRows, NamesWithCommasOrQuotesAreQuoted) {
    RecordingHeader header = headerOf(4);
    header.columns = {"Ch1", "a,b", "say \"x\"", "Ch4"};
    std::string error;
    const std::optional<Conversion> c = Conversion::create(0, Units::raw, header, error);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->csvHeader(), "Time [s],Ch1,\"a,b\",\"say \"\"x\"\"\",Ch4\n");
}

// Summary -------------------------------------------------------------------------------------

TEST(Summary, ExtremesAreWrittenValuesMeansDurationAndCycles) {
    const Conversion conversion = conversionOf(8, Units::physical);  // steer-mod-100
    RecordingSummary summary(conversion);
    std::vector<uint16_t> records;
    const uint16_t torqueHigh[] = {0x0000, 0x8000, 0xFFF0, 0x4000};
    for (const uint16_t w : torqueHigh) {
        std::vector<uint16_t> record(32, 0x8000);
        record[0] = w;
        record[1] = uint16_t(0xFFFF - w);
        records.insert(records.end(), record.begin(), record.end());
    }
    summary.add(records.data(), 1);
    summary.add(records.data() + 32, 3);
    EXPECT_DOUBLE_EQ(summary.durationSeconds(), 4 * 159.38e-6);
    EXPECT_DOUBLE_EQ(summary.cycles(), 4.0 / 1024);
    const std::vector<RecordingSummary::Column> columns = summary.columns();
    ASSERT_EQ(columns.size(), 18u);
    double sum = 0;
    for (const uint16_t w : torqueHigh) sum += conversion.value(conversion.columns()[0], w);
    EXPECT_NEAR(columns[0].mean, sum / 4, 1e-5);
    EXPECT_EQ(columns[2].min, conversion.value(conversion.columns()[2], 0x8000));
    EXPECT_EQ(columns[2].max, columns[2].min);
    EXPECT_NEAR(columns[2].mean, double(columns[2].min), 1e-6);

    const std::string text = summary.text("r.dat");  // its other lines: ConvertCommand's
    EXPECT_NE(text.find("\nTorque high [Nm],4,-100,100,"), std::string::npos) << text;
    EXPECT_NE(text.find("\nTorque low [Nm],4,-10,10,"), std::string::npos) << text;
}

// The units line says what the columns are in, whatever --units asked for.
TEST(Summary, TheUnitsLineSaysWhatTheColumnsAreIn) {
    const struct {
        int type;
        Units units;
        std::string_view line;
    } cases[] = {
        {0, Units::raw, "\nunits: raw\n"},
        {0, Units::physical, "\nunits: percent\n"},
        {9, Units::percent, "\nunits: percent\n"},
        {9, Units::physical, "\nunits: physical (Nm, \xC2\xB0, \xC2\xB0/s)\n"},
        {4, Units::physical, "\nunits: physical (Nm, \xC2\xB0, \xC2\xB0/s, g, \xC2\xB0/s^2)\n"},
    };
    for (const auto &c : cases) {
        const std::string text = RecordingSummary(conversionOf(c.type, c.units)).text("r.dat");
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
    }
}

TEST(Summary, RawMeansAreExactAndNoRecordsLeaveTheFieldsEmpty) {
    const Conversion raw = conversionOf(0, Units::raw);
    RecordingSummary summary(raw);
    EXPECT_NE(summary.text("e.dat").find("\nCh1,0,,,\n"), std::string::npos);
    EXPECT_TRUE(std::isnan(summary.columns()[0].mean));
    const std::vector<uint16_t> records = {65535, 0, 0, 0, 65534, 0, 0, 0, 65535, 0, 0, 0};
    summary.add(records.data(), 3);
    const auto columns = summary.columns();
    EXPECT_EQ(columns[0].mean, (65535.0 * 2 + 65534) / 3);
    EXPECT_EQ(columns[0].min, 65534.0f);
}

}  // namespace
}  // namespace ostrel::recording
