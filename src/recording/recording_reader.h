// Reads a log file ("recording") back: its two header lines, then its records
// of raw words, comma or tab separated (found from the file), CR LF or LF line
// ends. Streams the file in chunks: memory does not grow with the file.
//
// Malformed input stops the reading with an error naming the file, the line
// (from 1) and what was expected: a foreign file, a record with too few or too
// many words, a word that is not a number or over 65535. A last record cut
// short (no line end, or fewer words) is reported as truncated, never used.
// One reader per thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::recording {

struct RecordingHeader {
    double timeBaseMicros = 0;         // from "Time-Base: <T>us"
    char separator = ',';              // ',' or '\t'
    std::vector<std::string> columns;  // names of line 2; columns.size() words per record
};

struct ReadError {
    std::string file;        // the path as given
    uint64_t line = 0;       // 1-based line number; 0 when the file could not be read at all
    std::string what;        // "expected 8 words, found 7", "word 70000 is over 65535", ...
    bool truncated = false;  // the last record is cut short (the file ends inside it)
    // "<file>: line <n>: <what>" (or "<file>: <what>" for line 0).
    std::string message() const;
};

class RecordingReader {
  public:
    // Opens `path` and reads the header. On failure error() is set and
    // nextRecords returns 0.
    explicit RecordingReader(std::string path);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    const RecordingHeader &header() const { return header_; }
    // Words per record (the column count); 0 when the header failed.
    std::size_t wordsPerRecord() const { return header_.columns.size(); }

    // Reads up to out.size() / wordsPerRecord() whole records into `out`;
    // returns the records read. 0 at the end of the file or on an error (then
    // error() is set). The records before an error have been returned.
    std::size_t nextRecords(std::span<uint16_t> out);

    const std::optional<ReadError> &error() const { return error_; }
    // Records returned so far.
    uint64_t recordsRead() const { return records_; }
    // Line number of the last record returned (2 + recordsRead()).
    uint64_t line() const { return line_; }

  private:
    class Stream;  // the open file, its read buffer and the record scanner

    RecordingHeader header_;
    std::optional<ReadError> error_;
    uint64_t records_ = 0;
    uint64_t line_ = 0;
    std::unique_ptr<Stream> stream_;
};

// Parses a whole recording held in memory (the fuzz target's entry): header
// and every record. `name` stands for the file in error messages.
struct ParsedRecording {
    RecordingHeader header;
    std::vector<uint16_t> words;  // records one after the other
    std::optional<ReadError> error;
};
ParsedRecording parseRecording(std::string_view content, std::string_view name);

}  // namespace ostrel::recording
