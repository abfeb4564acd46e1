#include "recording/convert_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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

// Where a path leads once its symbolic links are followed link by link: also to a file that
// does not exist yet (a dangling link), which realpath cannot resolve. A link of /proc on the
// way (/dev/stdout, /dev/fd/N lead to one) is an open descriptor of the process, whose
// target need not be a path ("pipe:[81]", a deleted file): `descriptor`, and no further.
struct FollowedPath {
    std::string path;
    bool descriptor = false;
};

FollowedPath followLinks(std::filesystem::path path) {
    constexpr int kMostLinks = 40;  // as the kernel follows
    struct stat proc {};
    const bool procKnown = ::stat("/proc/self", &proc) == 0;
    for (int links = 0; links < kMostLinks; ++links) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
        if (procKnown && link.st_dev == proc.st_dev) return {path.string(), true};
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return {path.string()};
}

std::string_view kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a file";
}

// Where the output goes. --out: a regular file, or none yet, is replaced atomically; so is a
// symbolic link's target (the link stays); a FIFO or a character device (a pipe of the
// shell's, a terminal, /dev/null) is opened and written in place, never replaced, and so is
// a descriptor of the process that is a regular file; anything else is refused before
// anything is created. Without --out: the given stream.
class Output {
  public:
    Output(std::ostream &stream, const std::optional<std::string> &path) : stream_(stream) {
        if (!path) return;
        path_ = *path;
        struct stat target {};
        const bool exists = ::stat(path_.c_str(), &target) == 0;
        if (!exists && errno != ENOENT) {
            problem_ = std::strerror(errno);
            return;
        }
        if (exists && (S_ISFIFO(target.st_mode) || S_ISCHR(target.st_mode))) {
            openInPlace(0);
            return;
        }
        if (exists && !S_ISREG(target.st_mode)) {
            problem_ = std::string(kindOf(target.st_mode)) +
                       "; --out takes a regular file, a FIFO or a character device";
            return;
        }
        const FollowedPath followed = followLinks(path_);
        // The process's own descriptor (--out /dev/stdout > file): added to, as the shell
        // opened it, not replaced behind its back.
        if (followed.descriptor) {
            openInPlace(O_APPEND);
            return;
        }
        path_ = followed.path;
        file_ = std::make_unique<AtomicFile>(path_);
    }
    ~Output() {
        if (fd_ >= 0) ::close(fd_);
    }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    bool ready() const { return file_ ? file_->error().empty() : problem_.empty(); }

    bool write(std::string_view bytes) {
        if (file_) return file_->write(bytes);
        if (fd_ >= 0) return failIf("cannot write", writeAll(fd_, bytes));
        stream_.write(bytes.data(), std::streamsize(bytes.size()));
        return bool(stream_);
    }

    bool finish() {
        if (file_) return file_->commit();
        if (fd_ >= 0) {
            const int fd = std::exchange(fd_, -1);
            return failIf("cannot close", ::close(fd) == 0 ? 0 : errno);
        }
        stream_.flush();
        return bool(stream_);
    }

    // What failed, naming the file written.
    std::string failure() const {
        if (file_) return file_->path() + ": " + file_->error();
        if (!path_.empty()) return path_ + ": " + problem_;
        return "standard output: write failed";
    }

  private:
    void openInPlace(int flags) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | flags);
        if (fd_ < 0) failIf("cannot open", errno);
    }

    bool failIf(const char *what, int errorNumber) {
        if (errorNumber == 0) return true;
        if (problem_.empty()) problem_ = std::string(what) + ": " + std::strerror(errorNumber);
        return false;
    }

    std::ostream &stream_;
    std::string path_;  // --out's file, after its links; empty: the stream
    std::unique_ptr<AtomicFile> file_;
    int fd_ = -1;  // a FIFO or a character device, written in place
    std::string problem_;
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
    if (!output.ready()) {
        err << kProgram << ": " << output.failure() << "\n";
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
