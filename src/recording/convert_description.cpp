#include "recording/convert_description.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "recording/convert_messages.h"
#include "recording/input_file.h"
#include "recording/recording_description.h"
#include "recording/type_names.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel::recording::convert_detail {
namespace {

// The shortest text that reads back as `value`, '.' as the decimal point.
std::string numberText(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return result.ec == std::errc{} ? std::string(text, result.ptr) : std::string("?");
}

}  // namespace

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
    if (described.description) {
        conversion->placeGaps(described.description->gaps);
        conversion->placeMarkers(described.description->markers);
    }
    return conversion;
}

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

}  // namespace ostrel::recording::convert_detail
