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

namespace ostrel::recording {
namespace {

constexpr std::string_view kProgram = "ostrel-convert";
constexpr std::size_t kRecordsPerRead = 4096;
constexpr std::size_t kOutputFlushBytes = std::size_t{1} << 20;

// Prints a usage error in the words of every usage error of the programs ("Try ... for more
// information.") and returns the usage status.
int usageError(std::ostream &err, const std::string &what) {
    err << kProgram << ": " << what << "\nTry '" << kProgram << " --help' for more information.\n";
    return kConvertUsage;
}

// The telemetry type: --type, else the description's. Sets `status` when there is none.
std::optional<int> resolveType(const ConvertOptions &options, std::ostream &err, int &status) {
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
std::optional<Conversion> conversionOf(const ConvertOptions &options, int type,
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
void noteCycleMismatch(const ConvertOptions &options, int type, uint64_t records,
                       std::ostream &err) {
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

}  // namespace

int runConvert(const ConvertOptions &options, std::ostream &out, std::ostream &err) {
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

}  // namespace ostrel::recording
