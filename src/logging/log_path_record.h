// The log directory file's record: 260 bytes holding the directory path, a
// zero byte and zero filler. Pure encoding and decoding, plus reading and
// writing the record file. No panel; any thread, though only the main thread
// uses it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace ostrel {

// Size of the record, and the longest path (in bytes) it holds before its zero byte.
inline constexpr std::size_t log_path_record_size = 260;
inline constexpr std::size_t max_log_path_length = log_path_record_size - 1;

// True when `path` fits the record whole: at most 259 bytes, no zero byte.
bool fitsLogPathRecord(std::string_view path);

// The 260-byte record of `path`: the path, then zero bytes. nullopt when the
// path does not fit; a path is never cut.
std::optional<std::string> encodeLogPathRecord(std::string_view path);

// The path held by the first bytes of a log directory file; only the first 260
// count. The path ends at the first zero byte; a file shorter than 260 bytes
// without one (written by hand) is the path without its line end, "\n" or
// "\r\n" (an empty file gives ""). nullopt when the
// first 260 bytes hold no zero byte: such a record was not written by Ostrel
// and would be a cut path.
std::optional<std::string> decodeLogPathRecord(std::string_view bytes);

// Reads the path from `file`; nullopt when the file is missing, is not a
// regular file, cannot be read or holds no valid record.
std::optional<std::string> readLogPathFile(const std::filesystem::path &file);

// Writes the record of `path` at the start of `file`, creating it if needed,
// and leaves the file exactly 260 bytes long. Returns the failure, if any;
// std::errc::filename_too_long when the path does not fit (the file is then
// not touched).
std::error_code writeLogPathFile(const std::filesystem::path &file, std::string_view path);

}  // namespace ostrel
