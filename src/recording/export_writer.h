// Internal to ostrel-convert's exports: what the MATLAB and the HDF5 writer have in common.
// The run (export_command.cpp) reads the records, converts a block of them at a time into
// one array per column and the times, and hands each block to the writer; the names, the
// markers and the description go in when the last block is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/export_columns.h"
#include "recording/recording_description.h"

namespace ostrel::recording::export_detail {

// Records converted per block: one HDF5 chunk of every column.
inline constexpr std::size_t kBlockRecords = 32768;

// A block of converted records, column by column: `count` times in seconds, and for column
// c its values at values[c * kBlockRecords] (raw units: its words at words[c *
// kBlockRecords]).
struct ExportBlock {
    std::size_t count = 0;
    std::vector<double> times;
    std::vector<double> values;   // empty for raw units
    std::vector<uint16_t> words;  // raw units only
};

// What an export holds beside the records.
struct ExportContents {
    std::vector<ExportColumn> columns;
    bool raw = false;  // the columns are raw words (uint16), else values (double)
    // The description beside the recording, if it was read; gives the markers and the
    // `description` fields.
    const RecordingDescription *description = nullptr;
};

class ExportWriter {
  public:
    virtual ~ExportWriter() = default;
    // Appends a block to every column and to the times. False on failure (error()).
    virtual bool append(const ExportBlock &block) = 0;
    // Writes what is not records and closes the file. False on failure (error()).
    virtual bool finish() = 0;
    // "cannot write: File too large", the library's reason in words; empty while all went
    // well.
    virtual std::string error() const = 0;
};

// Writers of the file at `path` (created or truncated); error() says when that failed.
std::unique_ptr<ExportWriter> createMatWriter(const std::string &path,
                                              const ExportContents &contents);
std::unique_ptr<ExportWriter> createHdf5Writer(const std::string &path,
                                               const ExportContents &contents);

}  // namespace ostrel::recording::export_detail
