// The log file of a measurement. START creates it, writes its header and starts its writer
// thread (log_data_info, main thread, before the acquisition thread exists); the acquisition
// thread hands the writer one cycle per completed transfer ring (writeDataToFileRaw); the
// acquisition thread closes it (closeLogFile) in its complete stop, or START's thread when
// the start failed. The writer flushes the file before its description counts new cycles.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel {

// 1 when LOG_STATE was On at START: the acquisition thread then calls writeDataToFileRaw
// per cycle. Writers: main (START), acquisition (cleared when a write fails).
extern std::atomic<int32_t> log_to_file;
// FILE_SEP at START: 1 comma, 2 tab. Writer: main. Reader: acquisition.
extern std::atomic<int32_t> file_separator;
// 1 while a log file opened by log_data_info is open. Writers: main, or the thread that
// closes the file.
extern std::atomic<int32_t> log_file_open;

// Title of the modal messages that refuse a START, and of the notice of a failed write.
inline constexpr const char *log_path_error_title = "Path Error";
inline constexpr const char *log_write_error_title = "Log Error";
// Names tried for one start second: jex-log-<stamp>.dat, then -2 up to this number.
inline constexpr int kMaxLogNameAttempts = 100;

// START, main thread: latches channel_blocks, log_to_file and file_separator from the panel
// and, when logging is on, creates a new log file in the LOGPATH directory and writes its
// header. 0: go on with the start (logging off, or file open with its header). 1: refused;
// the operator has been told (missing directory, or a file that cannot be created or given
// its header) and nothing is left open. A file left open by an earlier start is closed.
int log_data_info();

// Acquisition thread, once per completed cycle while log_to_file is 1: hands a copy of
// `dataout` to the log's writer thread, which appends its channel_blocks records with one
// write. When the writer's queue is full the cycle is left out (a gap, told once). A failed
// write stops logging for the rest of the measurement, cuts the file back to its last whole
// cycle and posts one notice.
void writeDataToFileRaw();

// Acquisition thread, for a cycle left out of the log (a block of it arrived short): counted
// and placed after the records written so far, for the description and the closing notice.
void noteSkippedCycle();
// The gaps of the file opened by the last START, in file order.
std::vector<recording::LogGap> logGaps();
// What the operator is told of those gaps when the measurement ends; empty without gaps.
std::string describeLogGaps();
inline constexpr const char *log_gaps_title = "Log Gaps";
// Title of the notice that the disk does not keep up (cycles left out while it stalls).
inline constexpr const char *log_overrun_title = "Log Overrun";

// START: whether the acquisition thread waits for the writer when its queue is full (a
// source with no link to keep up with) instead of leaving the cycle out.
void setLogWaitsForDisk(bool wait);
// The cycles the writer's queue holds from the next START on (0: the default). For tests.
void useLogQueueCycles(std::size_t cycles);

// Closes the log file if log_file_open, clears it and frees the cycle buffer. Safe to call
// again. Runs once the acquisition thread has stopped, or on that thread itself.
void closeLogFile();

// The file opened by the last START with logging on ("" when none was), kept after closing.
// Main thread, or the acquisition thread during the run.
std::string logFilePath();
// Whole cycles written to that file.
uint64_t loggedCycles();

// At most this many cycles are written to each log file from now on (0: no limit): a
// recording of N cycles stays N cycles although the stop's drain completes one more.
// Main thread, while no measurement runs.
void limitLoggedCycles(uint64_t cycles);

// Source of the start time; nullptr restores the system clock. For tests.
using LogClock = std::time_t (*)();
void setLogClock(LogClock clock);
// Source of the monotonic time that gives a recording's duration; nullptr restores
// std::chrono::steady_clock. For tests.
using LogMonotonicClock = std::chrono::steady_clock::time_point (*)();
void setLogMonotonicClock(LogMonotonicClock clock);

}  // namespace ostrel
