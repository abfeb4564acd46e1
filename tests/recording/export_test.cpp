// ostrel-convert's MATLAB and HDF5 exports, read back by the library that wrote them and by
// python3 (h5py, pandas): the same numbers as the CSV conversion of the recording, the names,
// units, markers and description; the command's refusals; and a failed write leaves nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "export_readers.h"
#include "recording/conversion.h"
#include "recording/export_command.h"
#include "recording/export_writer.h"
#include "recording/recording_description.h"
#include "recording/recording_reader.h"
#include "recording_test_support.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel::recording {
namespace {

using test::ReadBack;
using test::ScratchDirectory;

constexpr int kFourChannels = 0;
constexpr int kSteeringModule = 9;  // steer-mod-200: 32 words, placeholders left out
// Two blocks and a bit: whole chunks, then a short last one.
constexpr std::size_t kPlainRecords = 2 * export_detail::kBlockRecords + 37;

// A recording of `records` records of `type`, the words from a fixed sequence covering
// 0..65535, every column named as the log file names it.
std::string recordingText(int type, std::size_t records) {
    const auto words = std::size_t(number_of_channels[type]);
    std::string text = "Time-Base: 79.69us\r\n";
    for (std::size_t w = 0; w < words; ++w) text += (w ? "," : "") + ("Ch" + std::to_string(w + 1));
    text += "\r\n";
    uint32_t state = 12345;
    for (std::size_t r = 0; r < records; ++r) {
        for (std::size_t w = 0; w < words; ++w) {
            state = state * 1664525u + 1013904223u;
            const uint32_t word = r < 2 ? (r == 0 ? 0u : 65535u) : state >> 16;
            text += (w ? "," : "") + std::to_string(word);
        }
        text += "\r\n";
    }
    return text;
}

// The description of such a recording, with markers, a gap and a module name holding a byte
// that is not UTF-8.
RecordingDescription descriptionOf(int type, std::size_t records) {
    RecordingDescription d;
    d.programVersion = "1.3.1";
    d.logFile = "jex-log-07122026093000.dat";
    d.module = "RX-\xff";
    d.typeIndex = type;
    d.typeText = std::string(telemetry_types[type].label);
    d.speedKbps = 640;
    d.timeBaseMicros = 79.6875;
    d.channelCount = number_of_channels[type];
    for (int w = 0; w < d.channelCount; ++w) d.columns.push_back("Ch" + std::to_string(w + 1));
    d.startTime = "2026-12-07T09:30:00+01:00";
    d.stopTime = "2026-12-07T09:31:00+01:00";
    d.cycles = records / framesPerLoggedCycle(type);
    d.ended = MeasurementEnd::stop;
    d.lostFrames = 3;
    d.gaps = {{1, 2}};
    d.markers = {{1, 0, 0, "2026-12-07T09:30:00.000+01:00", "Lenkung links ü"},
                 {2, 2, 0.6527, "2026-12-07T09:30:05.250+01:00", ""}};
    return d;
}

// The CSV conversion as numbers: the header's names, then per row the time and the values.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> rows;
};

Table csvTable(const Conversion &conversion, const ParsedRecording &parsed) {
    Table table;
    std::string header = conversion.csvHeader();
    header.pop_back();  // its LF
    std::istringstream fields(header);
    for (std::string name; std::getline(fields, name, ',');) table.names.push_back(name);
    table.names.erase(table.names.begin());  // "Time [s]"
    std::vector<char> text(conversion.maxRowBytes());
    const std::size_t words = conversion.wordsPerRecord();
    for (std::size_t r = 0; r * words < parsed.words.size(); ++r) {
        const char *end = conversion.formatRow(text.data(), r, parsed.words.data() + r * words);
        std::vector<double> row;
        for (const char *field = text.data(); field < end;) {
            float value = 0;  // the values are floats; the time in µs fits one exactly enough
            double exact = 0;
            const auto parsedField = std::from_chars(field, end, exact);
            std::from_chars(field, end, value);
            row.push_back(row.empty() ? exact : double(value));
            field = parsedField.ptr + 1;
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

const std::vector<std::string> kDescriptionKeys = {"channel_count",
                                                   "columns",
                                                   "cycles",
                                                   "ended",
                                                   "log_file",
                                                   "lost_frames",
                                                   "module",
                                                   "separator",
                                                   "speed_kbps",
                                                   "start",
                                                   "stop",
                                                   "telemetry_type",
                                                   "telemetry_type_text",
                                                   "time_base_us",
                                                   "version"};

// What every reader must find: the table's numbers, names and units, the markers and gaps.
void expectTable(const ReadBack &r, const Table &table, Units units) {
    ASSERT_EQ(r.problem, "");
    EXPECT_EQ(r.names, table.names);
    ASSERT_EQ(r.variables.size(), table.names.size());
    ASSERT_EQ(r.units.size(), table.names.size());
    const std::regex identifier("[A-Za-z][A-Za-z0-9_]{0,62}");
    for (std::size_t c = 0; c < table.names.size(); ++c) {
        EXPECT_TRUE(std::regex_match(r.variables[c], identifier)) << r.variables[c];
        EXPECT_EQ(units == Units::raw ? r.units[c]
                                      : table.names[c].substr(table.names[c].rfind(" [") + 2),
                  units == Units::raw ? "raw" : r.units[c] + "]");
    }
    ASSERT_EQ(r.columns.size(), table.names.size());
    ASSERT_EQ(r.time.size(), table.rows.size());
    std::size_t wrong = 0;
    std::string first;
    for (std::size_t row = 0; row < table.rows.size(); ++row) {
        // The CSV rounds to the microsecond; a record is 80 µs.
        bool same = std::fabs(r.time[row] - table.rows[row][0]) <= 0.51e-6;
        for (std::size_t c = 0; c < r.columns.size(); ++c) {
            same = same && r.columns[c].size() == table.rows.size() &&
                   r.columns[c][row] == table.rows[row][c + 1];
        }
        if (!same && wrong++ == 0) first = "row " + std::to_string(row);
    }
    EXPECT_EQ(wrong, 0u) << "first at " << first;
}

void expectDescribed(const ReadBack &r, const RecordingDescription &d) {
    EXPECT_EQ(r.markers, d.markers);
    EXPECT_EQ(r.gaps, d.gaps);
    EXPECT_EQ(r.module, "RX-\uf7ff");  // the byte as the descriptions escape it
    EXPECT_EQ(r.cycles, d.cycles);
    EXPECT_EQ(r.describedColumns, d.columns);
}

using ExportCase = std::tuple<Format, Units, int>;

class ExportReadsBack : public testing::TestWithParam<ExportCase> {};

TEST_P(ExportReadsBack, AsTheCsvTableWithTheDescriptionByEveryReader) {
    const auto [format, units, type] = GetParam();
    const std::size_t records = type == kFourChannels ? kPlainRecords : 3;
    const ScratchDirectory dir;
    const std::string recording = dir.file("jex-log-07122026093000.dat");
    const std::string text = recordingText(type, records);
    test::writeFile(recording, text);
    const RecordingDescription described = descriptionOf(type, records);
    RecordingReader reader(recording);
    ASSERT_FALSE(reader.error());
    std::string problem;
    std::optional<Conversion> conversion =
        Conversion::create(type, units, reader.header(), problem, described.timeBaseMicros);
    ASSERT_TRUE(conversion) << problem;
    conversion->placeGaps(described.gaps);
    const std::string out = dir.file("export");
    ASSERT_EQ(convert_detail::writeExport(format, out, reader, *conversion, &described), "");

    const Table table = csvTable(*conversion, parseRecording(text, "r"));
    ASSERT_EQ(table.rows.size(), records);
    const ReadBack library = test::readWithLibrary(out, format);
    expectTable(library, table, units);
    expectDescribed(library, described);
    if (type == kSteeringModule) {  // "Angle low #2 [°]" and its kin are MATLAB names
        EXPECT_NE(std::find(library.variables.begin(), library.variables.end(), "Angle_low_2"),
                  library.variables.end());
    }
    if (!test::pythonAvailable()) GTEST_SKIP() << "no python3 with h5py and pandas";
    const ReadBack python = test::readWithPython(out, format);
    expectTable(python, table, units);
    expectDescribed(python, described);
    EXPECT_EQ(python.descriptionKeys, kDescriptionKeys);
    EXPECT_EQ(python.variables, library.variables);
}

INSTANTIATE_TEST_SUITE_P(FormatsUnitsAndTypes, ExportReadsBack,
                         testing::Combine(testing::Values(Format::mat, Format::hdf5),
                                          testing::Values(Units::raw, Units::percent,
                                                          Units::physical),
                                          testing::Values(kFourChannels, kSteeringModule)),
                         [](const testing::TestParamInfo<ExportCase> &info) {
                             return std::string(formatName(std::get<0>(info.param))) + "_" +
                                    std::string(unitsName(std::get<1>(info.param))) + "_type" +
                                    std::to_string(std::get<2>(info.param));
                         });

// ---- the command

struct Outcome {
    int status = -1;
    std::string err;
};

class ExportCommand : public testing::TestWithParam<Format> {
  protected:
    ExportCommand() {
        test::writeFile(recording_, recordingText(kFourChannels, kRecords));
        test::writeFile(descriptionPathFor(recording_),
                        describeAsJson(descriptionOf(kFourChannels, kRecords)));
    }
    ConvertOptions options(std::optional<std::string> out) const {
        ConvertOptions o;
        o.recording = recording_;
        o.format = GetParam();
        o.units = Units::percent;
        o.outPath = std::move(out);
        return o;
    }

    static constexpr std::size_t kRecords = 2 * 8192;  // two whole cycles of 4 words
    ScratchDirectory dir_;
    const std::string recording_ = dir_.file("jex-log-07122026093000.dat");
};

Outcome run(const ConvertOptions &options) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runConvert(options, out, err);
    EXPECT_EQ(out.str(), "");
    return {status, err.str()};
}

TEST_P(ExportCommand, ReplacesTheOutputOnlyWhenCompleteWithTheDescriptionBeside) {
    const std::string target = dir_.file("table.out");
    test::writeFile(target, "old\n");
    const Outcome o = run(options(target));
    EXPECT_EQ(o.status, kConvertOk) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(dir_.entries(),
              (std::vector<std::string>{"jex-log-07122026093000.dat", "jex-log-07122026093000.json",
                                        "table.out"}));
    const ReadBack r = test::readWithLibrary(target, GetParam());
    EXPECT_EQ(r.time.size(), kRecords);
    EXPECT_EQ(r.cycles, 2u);
    EXPECT_EQ(r.module, "RX-\uf7ff");
    EXPECT_EQ(r.markers, descriptionOf(kFourChannels, kRecords).markers)
        << "the markers of the description file";
}

// A binary file goes by name to a regular file: standard output, a FIFO, a terminal (any
// character device) and a directory are usage errors, refused before anything is opened.
TEST_P(ExportCommand, RefusesAnOutputThatIsNotARegularFile) {
    const std::string format(formatName(GetParam()));
    const std::string fifo = dir_.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string tail = "\nTry 'ostrel-convert --help' for more information.\n";
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::nullopt,
         "--format " + format + " writes a binary file, never to standard output: give --out FILE"},
        {fifo, "--out " + fifo + " is a FIFO; --format " + format + " writes a regular file"},
        {"/dev/null",
         "--out /dev/null is a character device; --format " + format + " writes a regular file"},
        {dir_.path(),
         "--out " + dir_.path() + " is a directory; --format " + format + " writes a regular file"},
    };
    for (const auto &[out, message] : cases) {
        const Outcome o = run(options(out));
        EXPECT_EQ(o.status, kConvertUsage) << message;
        EXPECT_EQ(o.err, "ostrel-convert: " + message + tail);
    }
    EXPECT_EQ(dir_.entries().size(), 3u);  // the recording, its description, the FIFO
}

// Over a file size limit (a full disk fails the same way): told with the file's name, the
// temporary file removed, the target as it was. In a child process, which holds the limit.
TEST_P(ExportCommand, AFailedWriteLeavesNothingBehind) {
    const std::string target = dir_.file("table.out");
    test::writeFile(target, "old\n");
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t{64} << 10, rlim_t{64} << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::ostringstream out;
        std::ostringstream err;
        const int status = runConvert(options(target), out, err);
        const std::string text = err.str();
        (void)!::write(pipeEnds[1], text.data(), text.size());
        ::_exit(status);
    }
    ::close(pipeEnds[1]);
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, std::size_t(n));
    ::close(pipeEnds[0]);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kConvertFileError) << status;
    EXPECT_EQ(err, "ostrel-convert: " + target + ": cannot write: File too large\n");
    EXPECT_EQ(dir_.entries(),
              (std::vector<std::string>{"jex-log-07122026093000.dat", "jex-log-07122026093000.json",
                                        "table.out"}));
    EXPECT_EQ(test::readFile(target), "old\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportCommand, testing::Values(Format::mat, Format::hdf5),
                         [](const testing::TestParamInfo<Format> &info) {
                             return std::string(formatName(info.param));
                         });

}  // namespace
}  // namespace ostrel::recording
