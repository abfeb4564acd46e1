#include "recording/convert_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/atomic_file.h"
#include "recording/conversion.h"
#include "recording/input_file.h"
#include "recording/recording_description.h"
#include "recording/recording_reader.h"
#include "recording/type_names.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

namespace ostrel::recording {
namespace {

constexpr std::string_view kProgram = "ostrel-convert";
constexpr std::size_t kRecordsPerRead = 4096;
constexpr std::size_t kOutputFlushBytes = std::size_t{1} << 20;

constexpr std::string_view kUsage =
    R"(Usage: ostrel-convert RECORDING [--type TYPE] [--units UNITS] [--out FILE] [--summary]

Converts an Ostrel recording (a jex-log-*.dat log file of raw words) to CSV, or
summarises it.

  RECORDING       the log file
  --type TYPE     its telemetry type. Without it the type is taken from the
                  description beside the recording (the same name with .json for
                  .dat); with both, --type wins. TYPE is a short name
                    4ch 8ch 16ch 32ch
                    steer-car-100 steer-car-200   (Steering Personal Car 100/200 Nm)
                    steer-com-100 steer-com-200   (Steering Commercial 100/200 Nm)
                    steer-mod-100 steer-mod-200   (Steering Module 100/200 Nm)
                  or the type's text as the window lists it ("8 Channel",
                  "Steering Module 200 Nm"), in any case
  --units UNITS   physical (the default): for steering types Nm, deg, deg/s, g,
                            deg/s^2, the values the window shows; for plain
                            types percent, as the window shows them
                  percent   percent of full scale, -100..+100, for every type
                  raw       the logged words, 0..65535
  --out FILE      write to FILE instead of standard output; FILE is replaced
                  only once it is complete, and is never the recording itself or
                  its description
  --summary       instead of the table: records, duration, cycles, and for every
                  column its count, minimum, maximum and mean
  --help          this text
  --version       the program's version

The table is CSV with '.' as the decimal point: "Time [s]" (record index x time
base, in seconds to the microsecond; records after cycles the description says
were left out at their true time), then one column per word of the record. The
time base is the description's exact one, else the link's sample period that
the recording's rounded "Time-Base" stands for. Steering types name the words by
their quantity and unit and leave out the placeholder words ("-" in the log file).

Exit status:
  0  done
  2  bad options, or no telemetry type (no --type and no description)
  3  a malformed recording (a foreign file, a bad or truncated record), a type
     whose words per record differ from the recording's columns, or a malformed
     description; the output then holds every whole record before the problem
  4  a file that cannot be read or written, or a recording or description that
     is not a regular file (a FIFO is refused at once, not waited for)
)";

struct Options {
    std::string recording;
    std::optional<int> type;  // --type
    std::optional<std::string> outPath;
    Units units = Units::physical;
    bool unitsGiven = false;
    bool summary = false;
    bool help = false;
    bool version = false;
};

// Prints a usage error and returns the usage status.
int usageError(std::ostream &err, const std::string &what) {
    err << kProgram << ": " << what << "\nTry '" << kProgram << " --help'.\n";
    return kConvertUsage;
}

std::string typeNames() {
    std::string names;
    for (int type = 0; type < telemetry_type_count; ++type) {
        if (type > 0) names += ", ";
        names += shortTypeName(type);
    }
    return names;
}

// Parses the arguments; nullopt after printing the problem.
std::optional<Options> parseOptions(std::span<const std::string_view> args, std::ostream &err) {
    Options options;
    std::vector<std::string_view> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg == "--summary") {
            options.summary = true;
            continue;
        }
        // Options with a value: "--name VALUE" or "--name=VALUE".
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (name != "--type" && name != "--out" && name != "--units") {
            usageError(err, "unknown option '" + std::string(arg) + "'");
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                usageError(err, "option '" + std::string(name) + "' needs a value");
                return std::nullopt;
            }
            value = args[++i];
        }
        if (name == "--type") {
            if (options.type) {
                usageError(err, "--type given twice");
                return std::nullopt;
            }
            options.type = telemetryTypeFromName(*value);
            if (!options.type) {
                usageError(err, "unknown type '" + std::string(*value) + "'; known: " +
                                    typeNames() + ", or a type's text (\"8 Channel\")");
                return std::nullopt;
            }
        } else if (name == "--out") {
            if (options.outPath) {
                usageError(err, "--out given twice");
                return std::nullopt;
            }
            if (value->empty()) {
                usageError(err, "--out needs a file name");
                return std::nullopt;
            }
            options.outPath = std::string(*value);
        } else {
            const std::optional<Units> units = unitsFromName(*value);
            if (!units) {
                usageError(
                    err, "unknown units '" + std::string(*value) + "' (raw, percent or physical)");
                return std::nullopt;
            }
            if (options.unitsGiven) {
                usageError(err, "--units given twice");
                return std::nullopt;
            }
            options.units = *units;
            options.unitsGiven = true;
        }
    }
    if (options.help || options.version) return options;
    if (positional.empty()) {
        usageError(err, "no recording given");
        return std::nullopt;
    }
    if (positional.size() > 1) {
        usageError(err,
                   "one recording at a time; '" + std::string(positional[1]) + "' is one too many");
        return std::nullopt;
    }
    options.recording = std::string(positional[0]);
    return options;
}

// The telemetry type: --type, else the description's. Sets `status` when there is none.
std::optional<int> resolveType(const Options &options, std::ostream &err, int &status) {
    const std::string descriptionPath = descriptionPathFor(options.recording);
    if (options.type) {
        const int type = *options.type;
        // Tell when the description says otherwise; a missing or broken one does not
        // matter here.
        const ParsedDescription parsed = readDescription(descriptionPath);
        if (parsed.description && parsed.description->typeIndex != type) {
            err << kProgram << ": note: --type " << shortTypeName(type) << " overrides the type of "
                << descriptionPath << " ("
                << (isValidType(parsed.description->typeIndex)
                        ? std::string(shortTypeName(parsed.description->typeIndex))
                        : std::to_string(parsed.description->typeIndex))
                << ")\n";
        }
        return type;
    }
    // Missing: no type at all. Present but unreadable: a file error. Readable but not a
    // description: malformed.
    struct stat fileStatus {};
    if (::stat(descriptionPath.c_str(), &fileStatus) != 0 && errno == ENOENT) {
        status = usageError(err, options.recording + ": no telemetry type: " + descriptionPath +
                                     " does not exist; give --type TYPE");
        return std::nullopt;
    }
    std::string problem;
    const int fd = openRegularFile(descriptionPath, problem);
    if (fd < 0) {
        err << kProgram << ": " << descriptionPath << ": " << problem << "\n";
        status = kConvertFileError;
        return std::nullopt;
    }
    ::close(fd);
    const ParsedDescription parsed = readDescription(descriptionPath);
    if (!parsed.description) {
        err << kProgram << ": " << parsed.error << " (--type TYPE overrides the description)\n";
        status = kConvertMalformed;
        return std::nullopt;
    }
    const int type = parsed.description->typeIndex;
    if (!isValidType(type)) {
        err << kProgram << ": " << descriptionPath << ": telemetry type index " << type
            << " is not a known type (0..9); give --type TYPE\n";
        status = kConvertMalformed;
        return std::nullopt;
    }
    return type;
}

bool sameFile(const std::string &a, const std::string &b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Where the output goes: the --out file (atomically) or the given stream.
class Output {
  public:
    Output(std::ostream &stream, const std::optional<std::string> &path) : stream_(stream) {
        if (path) file_ = std::make_unique<AtomicFile>(*path);
    }

    // The reason when the output cannot be opened; empty when it is ready.
    std::string openError() const { return file_ ? file_->error() : std::string(); }

    bool write(std::string_view bytes) {
        if (file_) return file_->write(bytes);
        stream_.write(bytes.data(), std::streamsize(bytes.size()));
        return bool(stream_);
    }

    bool finish() {
        if (file_) return file_->commit();
        stream_.flush();
        return bool(stream_);
    }

    std::string failure() const {
        if (file_) return file_->path() + ": " + file_->error();
        return "standard output: write failed";
    }

  private:
    std::ostream &stream_;
    std::unique_ptr<AtomicFile> file_;
};

// The shortest text that reads back as `value`, '.' as the decimal point.
std::string numberText(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return result.ec == std::errc{} ? std::string(text, result.ptr) : std::string("?");
}

int readErrorStatus(const ReadError &error) {
    return error.line == 0 ? kConvertFileError : kConvertMalformed;
}

// The conversion of the recording with `header` as `type`; nullopt after telling why. The
// description gives the exact time base and the cycles left out of the file, which put the
// records after them later; without one the header's time base is made exact and there are
// no gaps to tell.
std::optional<Conversion> conversionOf(const Options &options, int type,
                                       const RecordingHeader &header, std::ostream &err) {
    const std::string descriptionPath = descriptionPathFor(options.recording);
    const ParsedDescription described = readDescription(descriptionPath);
    std::optional<double> describedTimeBase;
    if (described.description) describedTimeBase = described.description->timeBaseMicros;
    std::string mismatch;
    std::optional<Conversion> conversion =
        Conversion::create(type, options.units, header, mismatch, describedTimeBase);
    if (!conversion) {
        err << kProgram << ": " << options.recording << ": " << mismatch << "\n";
        return std::nullopt;
    }
    if (describedTimeBase && conversion->timeBaseMicros() != *describedTimeBase) {
        err << kProgram << ": note: the time base of " << descriptionPath << " ("
            << numberText(*describedTimeBase) << " us) does not fit the recording's ("
            << numberText(header.timeBaseMicros) << " us); "
            << numberText(conversion->timeBaseMicros()) << " us is used\n";
    }
    if (described.description) conversion->placeGaps(described.description->gaps);
    return conversion;
}

// The file is what is converted; a description that counts other cycles (a recording killed or
// cut off before its description caught up) is told, not believed.
void noteCycleMismatch(const Options &options, int type, uint64_t records, std::ostream &err) {
    const std::string descriptionPath = descriptionPathFor(options.recording);
    const ParsedDescription described = readDescription(descriptionPath);
    if (!described.description) return;
    const uint64_t cycles = described.description->cycles;
    const uint64_t claimed = cycles * framesPerLoggedCycle(type);
    if (claimed == records) return;
    err << kProgram << ": note: " << descriptionPath << " counts " << cycles << " cycles ("
        << claimed << " records), the recording holds " << records
        << " records; the recording's records are converted\n";
}

int convert(const Options &options, std::ostream &out, std::ostream &err) {
    RecordingReader reader(options.recording);
    if (reader.error()) {
        err << kProgram << ": " << reader.error()->message() << "\n";
        return readErrorStatus(*reader.error());
    }
    int status = kConvertOk;
    const std::optional<int> type = resolveType(options, err, status);
    if (!type) return status;
    std::optional<Conversion> conversion = conversionOf(options, *type, reader.header(), err);
    // A type that does not fit the file, given or described: the recording is not that type.
    if (!conversion) return kConvertMalformed;

    const std::string descriptionPath = descriptionPathFor(options.recording);
    if (options.outPath) {
        for (const std::string &input : {options.recording, descriptionPath}) {
            if (*options.outPath == input || sameFile(*options.outPath, input)) {
                return usageError(
                    err, "--out " + *options.outPath + " would overwrite the input " + input);
            }
        }
    }
    Output output(out, options.outPath);
    if (const std::string problem = output.openError(); !problem.empty()) {
        err << kProgram << ": " << *options.outPath << ": " << problem << "\n";
        return kConvertFileError;
    }

    const std::size_t words = reader.wordsPerRecord();
    std::vector<uint16_t> records(kRecordsPerRead * words);
    bool written = true;
    RecordingSummary summary(*conversion);
    if (options.summary) {
        while (const std::size_t count = reader.nextRecords(records)) {
            summary.add(records.data(), count);
        }
        written = output.write(summary.text(options.recording));
    } else {
        std::vector<char> text(kOutputFlushBytes + kRecordsPerRead * conversion->maxRowBytes());
        written = output.write(conversion->csvHeader());
        uint64_t index = 0;
        while (written) {
            const std::size_t count = reader.nextRecords(records);
            if (count == 0) break;
            char *end = text.data();
            for (std::size_t r = 0; r < count; ++r) {
                end = conversion->formatRow(end, index++, records.data() + r * words);
            }
            written = output.write(std::string_view(text.data(), std::size_t(end - text.data())));
        }
    }
    // The records before a problem in the recording are kept: the output is completed.
    if (!written || !output.finish()) {
        err << kProgram << ": " << output.failure() << "\n";
        return kConvertFileError;
    }
    noteCycleMismatch(options, *type, reader.recordsRead(), err);
    if (reader.error()) {
        const ReadError &error = *reader.error();
        err << kProgram << ": " << error.message() << "\n"
            << kProgram << ": the output holds the " << reader.recordsRead() << " whole "
            << (reader.recordsRead() == 1 ? "record" : "records") << " before it\n";
        return readErrorStatus(error);
    }
    return kConvertOk;
}

}  // namespace

int runConvert(std::span<const std::string_view> args, std::ostream &out, std::ostream &err) {
    const std::optional<Options> options = parseOptions(args, err);
    if (!options) return kConvertUsage;
    if (options->help) {
        out << kUsage;
        return out ? kConvertOk : kConvertFileError;
    }
    if (options->version) {
        out << kProgram << " " << OSTREL_VERSION << "\n";
        return out ? kConvertOk : kConvertFileError;
    }
    return convert(*options, out, err);
}

}  // namespace ostrel::recording
