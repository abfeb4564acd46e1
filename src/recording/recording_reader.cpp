#include "recording/recording_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "recording/byte_escape.h"
#include "recording/file_io.h"
#include "recording/input_file.h"
#include "recording/recording_reader_testing.h"

namespace ostrel::recording {
namespace {

constexpr std::size_t kDefaultChunkBytes = std::size_t{1} << 20;
// Longest line accepted: a header line of a log file is far below the first bound, a
// record (32 words of five digits) far below the second. Longer lines are not a
// recording, and the bounds keep the buffer from growing with a foreign file.
constexpr std::size_t kMaxHeaderLineBytes = std::size_t{1} << 16;
constexpr std::size_t kMaxRecordLineBytes = std::size_t{1} << 20;
constexpr std::string_view kTimeBasePrefix = "Time-Base: ";
constexpr std::string_view kTimeBaseUnit = "us";
constexpr uint32_t kMaxWord = 65535;
constexpr std::size_t kExcerptBytes = 24;
// Records parsed per call while parseRecording collects a whole file.
constexpr std::size_t kCollectRecords = 1024;

std::atomic<std::size_t> chunkBytesForTests{0};

// Up to kExcerptBytes of `text` for a message: printable ASCII as it is, every other
// byte as \xNN, "..." when cut.
std::string excerpt(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kExcerptBytes; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += char(byte);
        } else {
            out += "\\x";
            appendHexByte(out, byte);
        }
    }
    if (text.size() > kExcerptBytes) out += "...";
    return out;
}

std::string quoted(std::string_view text) {
    return "\"" + excerpt(text) + "\"";
}

std::string_view withoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

inline unsigned digitOf(char c) {
    return unsigned(static_cast<unsigned char>(c)) - unsigned('0');
}

// Eight bytes of a record as one number, the first byte in its lowest eight bits.
uint64_t eightBytes(const char *p) {
    uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    if constexpr (std::endian::native == std::endian::big) chunk = __builtin_bswap64(chunk);
    return chunk;
}

constexpr uint64_t kEachByte = 0x0101010101010101;

// How many of the bytes of `chunk` are decimal digits before the first that is not (8 when
// all are). Byte b - '0' has its top bit for b below '0' (it borrows) or from 0xB0 on, b +
// 0x46 for b from ':' (0x3A) to 0xB9: together every byte but '0'..'9'. A borrow or carry
// runs only into later bytes, so the first byte marked is the first that is no digit.
unsigned digitRun(uint64_t chunk) {
    const uint64_t marked =
        ((chunk - '0' * kEachByte) | (chunk + 0x46 * kEachByte)) & (0x80 * kEachByte);
    return unsigned(std::countr_zero(marked)) / 8;
}

// The value of the first `length` (1..8) bytes of `chunk`, all digits: moved to the top
// bytes (zeros before them), then neighbouring digits, pairs and fours combined.
uint32_t digitsValue(uint64_t chunk, unsigned length) {
    uint64_t v = (chunk - '0' * kEachByte) << (8 * (8 - length));
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
    return uint32_t((v * 10000 + (v >> 32)) & 0xFFFFFFFF);
}

// What is wrong with one word's text, or an empty string when it is a word.
std::string wordProblem(std::string_view field) {
    if (field.empty()) return "expected a number, found nothing";
    uint32_t value = 0;
    for (const char c : field) {
        const unsigned digit = digitOf(c);
        if (digit > 9) return "expected a number, found " + quoted(field);
        value = std::min<uint32_t>(value * 10 + digit, kMaxWord + 1);
    }
    if (value > kMaxWord) return "word " + excerpt(field) + " is over 65535";
    return {};
}

}  // namespace

namespace testing {
void setReaderChunkBytes(std::size_t bytes) {
    chunkBytesForTests.store(bytes);
}
}  // namespace testing

std::string ReadError::message() const {
    if (line == 0) return file + ": " + what;
    return file + ": line " + std::to_string(line) + ": " + what;
}

// ---------------------------------------------------------------------------------------
// The scanner: a window of the file in memory and the parsing of lines from it.
//
// [data_, end_) holds bytes of the file not yet consumed from pos_ on; complete_ is just
// past the last line end in [pos_, end_) (pos_ when there is none), so every line in
// [pos_, complete_) ends with '\n' and the record parser needs no bounds checks: a digit
// run always stops at a '\n' at the latest. In memory the window is the whole content.
// ---------------------------------------------------------------------------------------

namespace detail {

class Scanner {
  public:
    // Over a whole recording in memory.
    Scanner(std::string_view content, std::string name) : name_(std::move(name)) {
        pos_ = content.data();
        end_ = pos_ + content.size();
        eof_ = true;
        findComplete(pos_);
    }

    // Over the file `path`, read chunkBytes at a time.
    Scanner(const std::string &path, std::size_t chunkBytes)
        : name_(path), chunkBytes_(std::max<std::size_t>(chunkBytes, 1)) {
        fd_ = openRegularFile(path, openError_);
        if (fd_ < 0) {
            eof_ = true;
            return;
        }
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        capacity_ = chunkBytes_;
        buffer_ = std::make_unique<char[]>(capacity_);
        pos_ = complete_ = end_ = buffer_.get();
    }

    ~Scanner() {
        if (fd_ >= 0) ::close(fd_);
    }
    Scanner(const Scanner &) = delete;
    Scanner &operator=(const Scanner &) = delete;

    // Reads both header lines into `header`. False with `error` set on failure.
    bool readHeader(RecordingHeader &header, std::optional<ReadError> &error) {
        if (!openError_.empty()) return ioFailure(error, openError_);
        std::string_view first;
        std::string_view second;
        if (!headerLine(1, first, error)) return false;
        // Line 1, checked before line 2 is read, so a foreign file is named as such
        // without reading further.
        double micros = 0;
        std::string_view trailing;
        if (!parseTimeBase(first, micros, trailing, error)) return false;
        // The first line's text lives in the buffer, which reading line 2 may move.
        const std::string trailingCopy(trailing);
        if (!headerLine(2, second, error)) return false;
        if (second.empty()) return fail(error, 2, "no column names");

        char separator = ',';
        if (second.find('\t') != std::string_view::npos) {
            separator = '\t';
        } else if (second.find(',') != std::string_view::npos) {
            separator = ',';
        } else if (!trailingCopy.empty()) {
            separator = trailingCopy.front();  // one column: line 1 still names it
        }
        if (!trailingCopy.empty() && trailingCopy.front() != separator) {
            return fail(error, 1,
                        std::string("the separators after the time base are ") +
                            (separator == '\t' ? "commas" : "tabs") +
                            ", but line 2 is separated by " +
                            (separator == '\t' ? "tabs" : "commas"));
        }
        header.timeBaseMicros = micros;
        header.separator = separator;
        header.columns.clear();
        std::size_t start = 0;
        while (true) {
            const std::size_t next = second.find(separator, start);
            header.columns.emplace_back(second.substr(start, next - start));
            if (next == std::string_view::npos) break;
            start = next + 1;
        }
        columns_ = &header.columns;
        separator_ = separator;
        return true;
    }

    // Parses up to `maxRecords` records into `out`. Stops early at the end of the
    // file or at an error (then `error` is set); returns the records parsed.
    std::size_t nextRecords(uint16_t *out, std::size_t maxRecords, uint64_t recordsBefore,
                            std::optional<ReadError> &error) {
        const std::size_t words = columns_->size();
        std::size_t count = 0;
        while (count < maxRecords) {
            if (pos_ == complete_) {
                if (!eof_) {
                    if (!refill(kMaxRecordLineBytes, recordsBefore + count, error)) break;
                    continue;
                }
                if (pos_ != end_) {
                    diagnose(std::string_view(pos_, std::size_t(end_ - pos_)), false,
                             recordsBefore + count, error);
                }
                break;
            }
            // The hot loop: whole lines only, one record per line.
            while (count < maxRecords && pos_ != complete_) {
                const char *next = parseRecord(pos_, out + count * words, words);
                if (next == nullptr) {
                    const char *lineEnd = static_cast<const char *>(
                        std::memchr(pos_, '\n', std::size_t(complete_ - pos_)));
                    diagnose(std::string_view(pos_, std::size_t(lineEnd - pos_)), true,
                             recordsBefore + count, error);
                    return count;
                }
                pos_ = next;
                ++count;
            }
        }
        return count;
    }

  private:
    bool fail(std::optional<ReadError> &error, uint64_t line, std::string what,
              bool truncated = false) {
        error = ReadError{name_, line, std::move(what), truncated};
        return false;
    }

    bool ioFailure(std::optional<ReadError> &error, std::string what) {
        return fail(error, 0, std::move(what));
    }

    bool tooLong(std::size_t maxLine, uint64_t line, std::optional<ReadError> &error) {
        return fail(error, line,
                    "no line end within " + std::to_string(maxLine) + " bytes: not a recording");
    }

    void findComplete(const char *from) {
        if (from == end_) {
            complete_ = pos_;
            return;
        }
        const void *lastEnd = ::memrchr(from, '\n', std::size_t(end_ - from));
        complete_ = lastEnd ? static_cast<const char *>(lastEnd) + 1 : pos_;
    }

    // Precondition: no whole line left (pos_ == complete_). Moves the partial line to the
    // front of the buffer, grows it when the line fills it, and reads once. False with
    // `error` set when the read fails or the line is longer than `maxLine`.
    bool refill(std::size_t maxLine, uint64_t linesBefore, std::optional<ReadError> &error) {
        char *const buffer = buffer_.get();
        const std::size_t kept = std::size_t(end_ - pos_);
        if (kept >= maxLine) return tooLong(maxLine, linesBefore + 1, error);
        if (pos_ != buffer) std::memmove(buffer, pos_, kept);
        if (kept == capacity_) {
            const std::size_t grown = std::min(capacity_ * 2, maxLine + chunkBytes_);
            auto larger = std::make_unique<char[]>(grown);
            std::memcpy(larger.get(), buffer, kept);
            buffer_ = std::move(larger);
            capacity_ = grown;
        }
        char *const start = buffer_.get();
        pos_ = start;
        end_ = start + kept;
        const std::size_t room = std::min(capacity_ - kept, chunkBytes_);
        const ssize_t got = readOnce(fd_, start + kept, room);
        if (got < 0) {
            return ioFailure(error, std::string("read failed after line ") +
                                        std::to_string(linesBefore) + ": " + std::strerror(errno));
        }
        if (got == 0) eof_ = true;
        end_ = start + kept + got;
        findComplete(start + kept);
        return true;
    }

    // Line `number` of the header, without its line end, into `line`.
    bool headerLine(uint64_t number, std::string_view &line, std::optional<ReadError> &error) {
        while (pos_ == complete_ && !eof_) {
            if (!refill(kMaxHeaderLineBytes, number - 1, error)) return false;
        }
        // The same bound whether the line end came in the first read or not at all.
        const char *limit = pos_ == complete_ ? end_ : complete_;
        const char *lineEnd =
            pos_ == limit
                ? nullptr
                : static_cast<const char *>(std::memchr(pos_, '\n', std::size_t(limit - pos_)));
        const std::size_t length = std::size_t((lineEnd ? lineEnd : limit) - pos_);
        if (length >= kMaxHeaderLineBytes) return tooLong(kMaxHeaderLineBytes, number, error);
        if (lineEnd == nullptr) {
            if (number == 1 && pos_ == end_) return fail(error, 1, "the file is empty");
            if (number == 2 && pos_ == end_) return fail(error, 2, "no column names");
            return fail(error, number,
                        "the file ends inside the header (no line end after " +
                            quoted(std::string_view(pos_, length)) + ")");
        }
        line = withoutCarriageReturn(std::string_view(pos_, length));
        pos_ = lineEnd + 1;
        return true;
    }

    // "Time-Base: <T>us" followed by nothing or by separators (all ',' or all '\t').
    bool parseTimeBase(std::string_view line, double &micros, std::string_view &trailing,
                       std::optional<ReadError> &error) {
        if (!line.starts_with(kTimeBasePrefix)) {
            return fail(
                error, 1,
                "expected \"Time-Base: <µs>us\", found " + quoted(line) + ": not a recording");
        }
        std::string_view rest = line.substr(kTimeBasePrefix.size());
        const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), micros,
                                               std::chars_format::fixed);
        const std::size_t numberLength = std::size_t(ptr - rest.data());
        if (ec != std::errc{} || !std::isfinite(micros) || micros <= 0 ||
            rest.substr(numberLength, kTimeBaseUnit.size()) != kTimeBaseUnit) {
            return fail(error, 1,
                        "expected the time base as a positive number of µs followed by \"us\", "
                        "found " +
                            quoted(rest));
        }
        trailing = rest.substr(numberLength + kTimeBaseUnit.size());
        if (!trailing.empty()) {
            const char separator = trailing.front();
            const bool uniform = trailing.find_first_not_of(separator) == std::string_view::npos;
            if ((separator != ',' && separator != '\t') || !uniform) {
                return fail(error, 1, "unexpected " + quoted(trailing) + " after the time base");
            }
        }
        return true;
    }

    // One record at `p` (inside a whole line): `words` words of decimal digits, each at
    // most 65535, joined by the separator, then "\r\n" or "\n". Returns the start of the
    // next line, or nullptr when the line is not exactly such a record.
    // A word whose digits end within eight bytes the window holds is taken at once; a
    // longer one (leading zeros), or one near the window's end, a digit at a time.
    const char *parseRecord(const char *p, uint16_t *out, std::size_t words) const {
        const char separator = separator_;
        for (std::size_t k = 1;; ++k) {
            uint64_t chunk = 0;
            unsigned length = 0;
            if (end_ - p >= 8) {
                chunk = eightBytes(p);
                length = digitRun(chunk);
            }
            uint32_t value;
            if (length >= 1 && length < 8) {
                value = digitsValue(chunk, length);
                if (value > kMaxWord) return nullptr;
                p += length;
            } else {
                unsigned digit = digitOf(*p);
                if (digit > 9) return nullptr;
                value = digit;
                while ((digit = digitOf(*++p)) <= 9) {
                    value = value * 10 + digit;
                    if (value > kMaxWord) return nullptr;
                }
            }
            *out++ = uint16_t(value);
            char c = *p++;
            if (k < words) {
                if (c != separator) return nullptr;
                continue;
            }
            if (c == '\r') c = *p++;
            return c == '\n' ? p : nullptr;
        }
    }

    std::string columnName(std::size_t column) const {
        std::string name = "column " + std::to_string(column + 1);
        if (column < columns_->size()) name += " (" + excerpt((*columns_)[column]) + ")";
        return name;
    }

    // Says what is wrong with the record line `line` (without its '\n'), the record after
    // `recordsBefore` others. `complete`: the line had its line end; otherwise the file
    // ends inside it, and only what the rest of the line could not mend is an error of
    // its own: anything else is reported as a truncated last record.
    void diagnose(std::string_view line, bool complete, uint64_t recordsBefore,
                  std::optional<ReadError> &error) {
        const uint64_t number = recordsBefore + 3;
        const std::size_t words = columns_->size();
        line = withoutCarriageReturn(line);
        if (complete && line.empty()) {
            fail(error, number, "empty line, expected " + std::to_string(words) + " words");
            return;
        }
        std::size_t found = 0;
        std::size_t start = 0;
        while (true) {
            const std::size_t next = line.find(separator_, start);
            const bool last = next == std::string_view::npos;
            const std::string_view field = line.substr(start, last ? next : next - start);
            ++found;
            // A cut last word is a prefix of a word: only what no prefix can be counts.
            const bool cut = !complete && last;
            const std::string problem = wordProblem(field);
            if (!problem.empty() && !(cut && field.empty())) {
                fail(error, number, columnName(found - 1) + ": " + problem);
                return;
            }
            if (last) break;
            start = next + 1;
        }
        if (found > words || (complete && found < words)) {
            fail(error, number,
                 "expected " + std::to_string(words) + " words, found " + std::to_string(found));
            return;
        }
        if (!complete) {
            fail(error, number,
                 found < words ? "the file ends inside this record (" + std::to_string(found) +
                                     " of " + std::to_string(words) + " words, no line end)"
                               : std::string("the file ends inside this record (no line end)"),
                 true);
            return;
        }
        fail(error, number, "not a record of " + std::to_string(words) + " words");
    }

    std::string name_;
    int fd_ = -1;
    std::string openError_;  // why the file could not be opened
    std::size_t chunkBytes_ = kDefaultChunkBytes;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    const char *pos_ = nullptr;
    const char *complete_ = nullptr;
    const char *end_ = nullptr;
    bool eof_ = false;
    const std::vector<std::string> *columns_ = nullptr;  // the header's, once read
    char separator_ = ',';
};

}  // namespace detail

class RecordingReader::Stream : public detail::Scanner {
  public:
    using Scanner::Scanner;
};

RecordingReader::RecordingReader(std::string path) {
    const std::size_t chunk = chunkBytesForTests.load();
    stream_ = std::make_unique<Stream>(path, chunk == 0 ? kDefaultChunkBytes : chunk);
    if (stream_->readHeader(header_, error_)) {
        line_ = 2;
    } else {
        header_ = RecordingHeader{};
    }
}

RecordingReader::~RecordingReader() = default;

std::size_t RecordingReader::nextRecords(std::span<uint16_t> out) {
    const std::size_t words = wordsPerRecord();
    if (error_ || words == 0) return 0;
    const std::size_t count =
        stream_->nextRecords(out.data(), out.size() / words, records_, error_);
    records_ += count;
    line_ += count;
    return count;
}

ParsedRecording parseRecording(std::string_view content, std::string_view name) {
    ParsedRecording parsed;
    detail::Scanner stream(content, std::string(name));
    if (!stream.readHeader(parsed.header, parsed.error)) {
        parsed.header = RecordingHeader{};
        return parsed;
    }
    const std::size_t words = parsed.header.columns.size();
    std::vector<uint16_t> chunk(kCollectRecords * words);
    uint64_t records = 0;
    while (!parsed.error) {
        const std::size_t count =
            stream.nextRecords(chunk.data(), kCollectRecords, records, parsed.error);
        if (count == 0) break;
        parsed.words.insert(parsed.words.end(), chunk.begin(), chunk.begin() + count * words);
        records += count;
    }
    return parsed;
}

}  // namespace ostrel::recording
