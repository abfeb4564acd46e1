#include "recording/export_command.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "recording/convert_messages.h"
#include "recording/convert_output.h"
#include "recording/export_writer.h"
#include "recording/name_table.h"

namespace ostrel::recording {
namespace {

constexpr NameTable<Format, 3> kFormatNames{{
    {Format::csv, "csv"},
    {Format::mat, "mat"},
    {Format::hdf5, "hdf5"},
}};

}  // namespace

std::optional<Format> formatFromName(std::string_view name) {
    return valueIn(kFormatNames, name);
}

std::string_view formatName(Format format) {
    return nameIn(kFormatNames, format);
}

namespace convert_detail {
namespace {

using namespace export_detail;

constexpr int kSampleShift = 4;  // a word's 12-bit sample is its bits 15..4
constexpr std::size_t kSamples = 4096;

std::string_view kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISBLK(mode)) return "a block device";
    return "a socket";
}

// Why --out cannot take the export, as a usage error's text; empty when it can.
std::string refusedTarget(const ConvertOptions &options) {
    const std::string format(formatName(options.format));
    if (!options.outPath) {
        return "--format " + format +
               " writes a binary file, never to standard output: " + "give --out FILE";
    }
    struct stat target {};
    if (::stat(options.outPath->c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        return "--out " + *options.outPath + " is " + std::string(kindOf(target.st_mode)) +
               "; --format " + format + " writes a regular file";
    }
    return {};
}

// Converts records into a block, column by column. Outside raw units a value depends on its
// word's 12-bit sample only: each column's 4096 values are made once.
class BlockConverter {
  public:
    BlockConverter(const Conversion &conversion, const std::vector<ExportColumn> &columns)
        : conversion_(conversion), columns_(columns), raw_(conversion.units() == Units::raw) {
        block_.times.resize(kBlockRecords);
        if (raw_) {
            block_.words.resize(kBlockRecords * columns.size());
            return;
        }
        block_.values.resize(kBlockRecords * columns.size());
        for (const OutputColumn &column : conversion.columns()) {
            for (std::size_t sample = 0; sample < kSamples; ++sample) {
                table_.push_back(conversion.value(column, uint16_t(sample << kSampleShift)));
            }
        }
    }

    const ExportBlock &convert(const uint16_t *records, std::size_t count, uint64_t first) {
        const std::size_t words = conversion_.wordsPerRecord();
        block_.count = count;
        for (std::size_t r = 0; r < count; ++r) block_.times[r] = conversion_.secondsAt(first + r);
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const uint16_t *word = records + columns_[c].word;
            if (raw_) {
                uint16_t *out = block_.words.data() + c * kBlockRecords;
                for (std::size_t r = 0; r < count; ++r) out[r] = word[r * words];
            } else {
                double *out = block_.values.data() + c * kBlockRecords;
                const double *values = table_.data() + c * kSamples;
                for (std::size_t r = 0; r < count; ++r)
                    out[r] = values[word[r * words] >> kSampleShift];
            }
        }
        return block_;
    }

  private:
    const Conversion &conversion_;
    const std::vector<ExportColumn> &columns_;
    const bool raw_;
    std::vector<double> table_;  // per column its 4096 values, in columns order
    ExportBlock block_;
};

// Fills `records` unless the recording ends (or breaks) first: every block but the last is
// full, one chunk of the HDF5 export. Returns the records read.
std::size_t readBlock(RecordingReader &reader, std::vector<uint16_t> &records) {
    const std::size_t words = reader.wordsPerRecord();
    std::size_t count = 0;
    while (count < kBlockRecords) {
        const std::size_t read = reader.nextRecords(std::span(records).subspan(count * words));
        if (read == 0) break;
        count += read;
    }
    return count;
}

std::unique_ptr<ExportWriter> createWriter(Format format, const std::string &path,
                                           const ExportContents &contents) {
    return format == Format::mat ? createMatWriter(path, contents)
                                 : createHdf5Writer(path, contents);
}

}  // namespace

std::optional<int> exportTable(const ConvertOptions &options, RecordingReader &reader,
                               const Conversion &conversion, std::ostream &err) {
    if (const std::string refused = refusedTarget(options); !refused.empty()) {
        return usageError(err, refused);
    }
    Output output(err, options.outPath);
    if (!output.ready()) {
        err << kProgram << ": " << output.failure() << "\n";
        return kConvertFileError;
    }
    if (output.temporaryPath().empty()) {  // --out /dev/stdout, /dev/fd/N: a descriptor
        return usageError(err, "--out " + *options.outPath + " is a descriptor; --format " +
                                   std::string(formatName(options.format)) +
                                   " writes a regular file by its name");
    }
    const ParsedDescription described = readDescription(descriptionPathFor(options.recording));
    const std::string failure =
        writeExport(options.format, output.temporaryPath(), reader, conversion,
                    described.description ? &*described.description : nullptr);
    if (!failure.empty()) {
        err << kProgram << ": " << output.path() << ": " << failure << "\n";
        return kConvertFileError;  // the temporary file goes with `output`
    }
    if (!output.finish()) {
        err << kProgram << ": " << output.failure() << "\n";
        return kConvertFileError;
    }
    return std::nullopt;
}

std::string writeExport(Format format, const std::string &path, RecordingReader &reader,
                        const Conversion &conversion, const RecordingDescription *description) {
    const ExportContents contents{exportColumnsOf(conversion), conversion.units() == Units::raw,
                                  description};
    BlockConverter converter(conversion, contents.columns);
    const std::unique_ptr<ExportWriter> writer = createWriter(format, path, contents);
    std::vector<uint16_t> records(kBlockRecords * reader.wordsPerRecord());
    bool written = writer->error().empty();
    for (uint64_t first = 0; written;) {
        const std::size_t count = readBlock(reader, records);
        if (count == 0) break;
        written = writer->append(converter.convert(records.data(), count, first));
        first += count;
    }
    return written && writer->finish() ? std::string() : writer->error();
}

}  // namespace convert_detail
}  // namespace ostrel::recording
