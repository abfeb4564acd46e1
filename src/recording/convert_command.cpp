#include "recording/convert_command.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recording/conversion.h"
#include "recording/convert_description.h"
#include "recording/convert_messages.h"
#include "recording/convert_output.h"
#include "recording/export_command.h"
#include "recording/marker_column.h"
#include "recording/recording_description.h"
#include "recording/recording_reader.h"

namespace ostrel::recording {
namespace {

using namespace convert_detail;

constexpr std::size_t kRecordsPerRead = 4096;
constexpr std::size_t kOutputFlushBytes = std::size_t{1} << 20;

int readErrorStatus(const ReadError &error) {
    return error.line == 0 ? kConvertFileError : kConvertMalformed;
}

// A usage error when --out names the recording or its description, which it would replace.
std::optional<int> refuseOutputOverInput(const ConvertOptions &options, std::ostream &err) {
    if (!options.outPath) return std::nullopt;
    for (const std::string &input : {options.recording, descriptionPathFor(options.recording)}) {
        if (*options.outPath == input || sameFile(*options.outPath, input)) {
            return usageError(err,
                              "--out " + *options.outPath + " would overwrite the input " + input);
        }
    }
    return std::nullopt;
}

bool writeSummary(RecordingReader &reader, const Conversion &conversion,
                  const std::string &recording, Output &output) {
    std::vector<uint16_t> records(kRecordsPerRead * reader.wordsPerRecord());
    RecordingSummary summary(conversion);
    while (const std::size_t count = reader.nextRecords(records)) {
        summary.add(records.data(), count);
    }
    return output.write(summary.text(recording));
}

// The table, a read of records at a time; stops at the first write that fails.
bool writeTable(RecordingReader &reader, const Conversion &conversion, Output &output) {
    const std::size_t words = reader.wordsPerRecord();
    std::vector<uint16_t> records(kRecordsPerRead * words);
    std::vector<char> text(kOutputFlushBytes + kRecordsPerRead * conversion.maxRowBytes());
    MarkerColumn markers(conversion.markers());
    std::string header = conversion.csvHeader();
    markers.extendHeader(header);
    bool written = output.write(header);
    uint64_t index = 0;
    while (written) {
        const std::size_t count = reader.nextRecords(records);
        if (count == 0) break;
        const std::size_t room = count * conversion.maxRowBytes() + markers.bytesFor(index, count);
        if (text.size() < room) text.resize(room);
        char *end = text.data();
        for (std::size_t r = 0; r < count; ++r) {
            end = conversion.formatRow(end, index, records.data() + r * words);
            end = markers.extendRow(end, index++);
        }
        written = output.write(std::string_view(text.data(), std::size_t(end - text.data())));
    }
    return written;
}

// Markers on records the file does not hold (set in the last moments of a recording that
// ended before they were written): not in the table, and said.
void noteMarkersBeyond(const Conversion &conversion, uint64_t records, std::ostream &err) {
    for (const RecordingMarker &m : conversion.markers()) {
        if (m.record < records) continue;
        err << kProgram << ": note: marker " << m.number << " falls on record " << m.record
            << ", after the last record (" << records << "): the table leaves it out\n";
    }
}

// A problem in the recording after the records converted: told, with what the output holds.
int reportReadError(const RecordingReader &reader, std::ostream &err) {
    const ReadError &error = *reader.error();
    err << kProgram << ": " << error.message() << "\n"
        << kProgram << ": the output holds the " << reader.recordsRead() << " whole "
        << (reader.recordsRead() == 1 ? "record" : "records") << " before it\n";
    return readErrorStatus(error);
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
    const std::optional<Conversion> conversion = conversionOf(options, *type, reader.header(), err);
    // A type that does not fit the file, given or described: the recording is not that type.
    if (!conversion) return kConvertMalformed;
    if (const std::optional<int> refused = refuseOutputOverInput(options, err)) return *refused;
    // MATLAB and HDF5: a file of their own; what the recording holds is told as for CSV.
    if (options.format != Format::csv) {
        if (const std::optional<int> failed = exportTable(options, reader, *conversion, err))
            return *failed;
        noteCycleMismatch(options, *type, reader.recordsRead(), err);
        return reader.error() ? reportReadError(reader, err) : kConvertOk;
    }
    Output output(out, options.outPath);
    if (!output.ready()) {
        err << kProgram << ": " << output.failure() << "\n";
        return kConvertFileError;
    }
    const bool written = options.summary
                             ? writeSummary(reader, *conversion, options.recording, output)
                             : writeTable(reader, *conversion, output);
    // The records before a problem in the recording are kept: the output is completed.
    if (!written || !output.finish()) {
        err << kProgram << ": " << output.failure() << "\n";
        return kConvertFileError;
    }
    noteCycleMismatch(options, *type, reader.recordsRead(), err);
    if (!options.summary) noteMarkersBeyond(*conversion, reader.recordsRead(), err);
    return reader.error() ? reportReadError(reader, err) : kConvertOk;
}

}  // namespace ostrel::recording
