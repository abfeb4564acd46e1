#include "logging/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "logging/log_description.h"
#include "logging/log_directory.h"
#include "logging/log_header.h"
#include "logging/log_writer.h"
#include "logging/record_writer.h"
#include "panel/ostrel_panel.h"
#include "recording/file_io.h"
#include "telemetry/scaling.h"
#include "telemetry/selections.h"
#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"
#include "ui/frontend.h"
#include "ui/panel.h"

namespace ostrel {

constinit std::atomic<int32_t> log_to_file{0};
constinit std::atomic<int32_t> file_separator{1};
constinit std::atomic<int32_t> log_file_open{0};

namespace {

constexpr std::string_view kFilePrefix = "/jex-log-";
constexpr std::string_view kFileExtension = ".dat";
constexpr const char *kStampPattern = "%d%m%Y%H%M%S";

// The open log file. fd, name and writer belong to the thread that opens the file (START)
// and then to the one that closes it; the acquisition thread submits cycles to the writer
// in between. Never deleted: a late stop during exit still finds it.
struct OpenLog {
    int fd = -1;
    std::string name;
    std::unique_ptr<LogWriter> writer;
    uint64_t recordsPerCycle = 0;
    std::atomic<bool> stopped{false};     // a write failed: nothing more is written
    bool overrunTold = false;             // acquisition thread
    std::mutex gapsMutex;                 // guards gaps
    std::vector<recording::LogGap> gaps;  // cycles left out, in file order
};

OpenLog &openLog() {
    static OpenLog *const log = new OpenLog;
    return *log;
}

std::atomic<uint64_t> cyclesWritten{0};   // by the writer
std::atomic<uint64_t> cyclesAccepted{0};  // handed to the writer
std::atomic<uint64_t> cycleLimit{0};      // 0: none
std::atomic<bool> waitForDisk{false};
std::atomic<std::size_t> queueCycles{LogWriter::kDefaultQueueCycles};

std::time_t systemTime() {
    return std::time(nullptr);
}
std::atomic<LogClock> logClock{systemTime};

std::chrono::steady_clock::time_point steadyTime() {
    return std::chrono::steady_clock::now();
}
std::atomic<LogMonotonicClock> monotonicClock{steadyTime};

// ---------------------------------------------------------------------------------------
// Names and system calls
// ---------------------------------------------------------------------------------------

// Local time of `when` as "%d%m%Y%H%M%S": 14 digits.
std::string startStamp(std::time_t when) {
    ::tzset();
    std::tm local{};
    std::array<char, 32> text{};
    if (::localtime_r(&when, &local) == nullptr) return "00000000000000";
    return std::string(text.data(), std::strftime(text.data(), text.size(), kStampPattern, &local));
}

// Attempt 1 is jex-log-<stamp>.dat, attempt n > 1 jex-log-<stamp>-n.dat.
std::string candidateName(const std::string &directory, const std::string &stamp, int attempt) {
    std::string name = directory;
    name.append(kFilePrefix).append(stamp);
    if (attempt > 1) name += "-" + std::to_string(attempt);
    return name.append(kFileExtension);
}

// The name as a message shows it: a zero byte as "\0".
std::string printable(std::string_view name) {
    std::string text;
    for (const char c : name) c == '\0' ? text.append("\\0") : text.append(1, c);
    return text;
}

std::string reasonOf(int error) {
    return std::strerror(error);
}

// Only the answer "no such directory" counts as missing; any other failure of the check
// lets the start go on, and creating the file then tells the precise reason.
bool directoryMissing(const std::string &directory) {
    struct stat info {};
    return ::stat(directory.c_str(), &info) != 0 && errno == ENOENT;
}

// A file grown past RLIMIT_FSIZE must fail its write with EFBIG, not end the process.
void ignoreFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

// ---------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------

void reportMissingDirectory(const std::string &directory) {
    ui::showMessage(log_path_error_title,
                    "Directory Does Not Exist\nPlease Create A Directory And Start Again\n"
                    "Log directory: " +
                        printable(describeLogDirectory(directory)));
}

void reportCreateFailure(const std::string &name, const std::string &reason) {
    ui::showMessage(log_path_error_title,
                    "The log file could not be created:\n" + printable(name) + "\n" + reason +
                        ".\nPlease choose another log directory and start again.");
}

void reportNamesTaken(const std::string &first) {
    ui::showMessage(log_path_error_title,
                    "No new log file could be created:\n" + printable(first) +
                        "\nand its numbered names up to -" + std::to_string(kMaxLogNameAttempts) +
                        " all exist already.\nPlease start again in a moment.");
}

void reportHeaderFailure(const std::string &name, int error) {
    ui::showMessage(log_path_error_title,
                    "The header could not be written to the log file:\n" + printable(name) + "\n" +
                        reasonOf(error) +
                        ".\nThe file has been removed. Please free space or choose another log "
                        "directory and start again.");
}

std::string cycleCount(uint64_t cycles) {
    return std::to_string(cycles) + (cycles == 1 ? " whole cycle" : " whole cycles");
}

// Posted once, at the first cycle left out because the writer's queue was full.
void reportOverrun(const OpenLog &log) {
    ui::postMessage(log_overrun_title,
                    "The disk does not keep up with the link:\n" + log.name +
                        "\nCycles are being left out of the log file while it stalls; the "
                        "measurement goes on. The description lists where (its gaps).");
}

bool onGuiThread() {
    return ui::currentFrontend()->isGuiThread();
}

// Posted, never waited for: the writer thread must not stall.
void reportWriteFailure(const OpenLog &log, int error, int truncateError) {
    std::string text = "Writing the log file failed:\n" + log.name + "\n" + reasonOf(error) +
                       ".\nLogging has stopped for this measurement; the file holds its header "
                       "and " +
                       cycleCount(cyclesWritten) + ".";
    if (truncateError != 0) {
        text +=
            "\nThe incomplete last cycle could not be removed: " + reasonOf(truncateError) + ".";
    }
    ui::postMessage(log_write_error_title, text);
}

// Posted, never waited for: the writer thread must not stall.
void reportLostFromDirectory(const OpenLog &log) {
    ui::postMessage(log_write_error_title,
                    "The log file is no longer in the log directory:\n" + log.name +
                        "\nIt or its directory was removed (or unmounted) during the recording: "
                        "the recording is lost from that directory.\nLogging has stopped for "
                        "this measurement.");
}

void reportCloseFailure(const std::string &name, int error) {
    ui::postMessage(log_write_error_title, "Closing the log file failed:\n" + name + "\n" +
                                               reasonOf(error) +
                                               ".\nIts last records may be missing.");
}

// ---------------------------------------------------------------------------------------
// Creating the file
// ---------------------------------------------------------------------------------------

// Creates a file of a name no other file has: never opens, overwrites or appends to an
// existing one. Returns the descriptor and sets `name`, or reports and returns -1.
int createLogFile(const std::string &directory, const std::string &stamp, std::string *name) {
    const std::string first = candidateName(directory, stamp, 1);
    if (first.find('\0') != std::string::npos) {
        reportCreateFailure(first, reasonOf(EINVAL) + ": the name contains a zero byte");
        return -1;
    }
    for (int attempt = 1; attempt <= kMaxLogNameAttempts;) {
        *name = candidateName(directory, stamp, attempt);
        const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno == EINTR) continue;
        if (errno != EEXIST) {
            reportCreateFailure(*name, reasonOf(errno));
            return -1;
        }
        ++attempt;
    }
    reportNamesTaken(first);
    return -1;
}

// Creates the file and writes its header with one write. On failure the half-written file
// is removed and nothing stays open.
bool openLogFile(const std::string &directory, const std::string &stamp,
                 const std::string &header) {
    ignoreFileSizeSignal();
    std::string name;
    const int fd = createLogFile(directory, stamp, &name);
    if (fd < 0) return false;
    if (const int error = recording::writeAll(fd, header)) {
        ::close(fd);
        ::unlink(name.c_str());
        reportHeaderFailure(name, error);
        return false;
    }
    OpenLog &log = openLog();
    log.fd = fd;
    log.name = std::move(name);
    log.stopped = false;
    log.overrunTold = false;
    log_file_open = 1;
    return true;
}

// The cycles left out before `records` records: what a description of those records lists.
std::vector<recording::LogGap> gapsWithin(OpenLog &log, uint64_t records) {
    std::lock_guard lock(log.gapsMutex);
    std::vector<recording::LogGap> within;
    for (const recording::LogGap &gap : log.gaps) {
        if (gap.afterRecord <= records) within.push_back(gap);
    }
    return within;
}

void addGap(OpenLog &log) {
    const uint64_t after = cyclesAccepted.load() * log.recordsPerCycle;
    std::lock_guard lock(log.gapsMutex);
    if (!log.gaps.empty() && log.gaps.back().afterRecord == after) {
        ++log.gaps.back().cycles;
    } else {
        log.gaps.push_back({after, 1});
    }
}

void stopLogging(OpenLog &log, int error, int truncateError);
void stopLostLogging(OpenLog &log);

// Whether the open log file is still the one its name leads to. Writes to a file that was
// removed, or whose directory was removed or unmounted, go on succeeding, into a file nobody
// will find. A name that cannot be checked (no permission, an I/O error) counts as found.
bool reachableByName(const OpenLog &log) {
    struct stat open {};
    struct stat named {};
    if (::fstat(log.fd, &open) != 0) return true;
    if (open.st_nlink == 0) return false;
    if (::stat(log.name.c_str(), &named) != 0) return errno != ENOENT && errno != ENOTDIR;
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// The writer of the new file: records of the START's type; its durable cycles are brought
// into the description as they reach the disk.
uint64_t recordsPerCycleOf(int type) {
    return std::min<uint64_t>(channel_blocks, LOGCOUNT / uint64_t(number_of_channels[type]));
}

void startWriter(OpenLog &log, int type, char separator) {
    const int words = number_of_channels[type];
    log.recordsPerCycle = recordsPerCycleOf(type);
    LogWriter::Callbacks callbacks;
    callbacks.failed = [&log](int error, int truncateError) {
        stopLogging(log, error, truncateError);
    };
    callbacks.written = [](uint64_t cycles) { cyclesWritten = cycles; };
    callbacks.durable = [&log](uint64_t cycles) {
        if (log.stopped) return;
        if (!reachableByName(log)) {
            stopLostLogging(log);
            return;
        }
        log_description::update(cycles, gapsWithin(log, cycles * log.recordsPerCycle));
    };
    log.writer = std::make_unique<LogWriter>(
        log.fd, LogWriter::Format{std::size_t(log.recordsPerCycle), words, separator},
        std::move(callbacks), queueCycles.load());
}

int panelInt(int control) {
    int value = 0;
    ui::getValue(panelHandle, control, &value);
    return value;
}

// ---------------------------------------------------------------------------------------
// Writing cycles
// ---------------------------------------------------------------------------------------

// After a failed write (the writer has cut the file back to its whole cycles): nothing more
// is written and the operator is told once. Writer thread.
//
// log_to_file goes last: whoever sees it cleared (ostrel-record ends its recording on it) finds
// the end noted and the notice posted.
void stopLogging(OpenLog &log, int error, int truncateError) {
    log.stopped = true;
    noteMeasurementEnd(recording::MeasurementEnd::writeError);
    reportWriteFailure(log, error, truncateError);
    log_to_file = 0;
}

// The log file can no longer be found by its name: as after a failed write, and its
// description is not written again (its directory may be gone with it). Writer thread.
void stopLostLogging(OpenLog &log) {
    log.stopped = true;
    noteMeasurementEnd(recording::MeasurementEnd::writeError);
    log_description::abandon();
    reportLostFromDirectory(log);
    log_to_file = 0;
}

// What the description of a new log file says about it.
log_description::StartFacts startFacts(int type, int speedIndex, double timeBase,
                                       std::time_t startTime) {
    log_description::StartFacts facts;
    facts.logFilePath = openLog().name;
    ui::getValue(panelHandle, usbinterface, &facts.module);
    facts.type = type;
    facts.speedKbps = isValidSpeed(speedIndex) ? telemetry_speeds[speedIndex].item_value : 0;
    facts.timeBaseMicros = timeBase;
    facts.separator = separatorOf(file_separator);
    facts.startTime = startTime;
    facts.startedAt = monotonicClock.load()();
    facts.recordsPerCycle = recordsPerCycleOf(type);
    return facts;
}

}  // namespace

int log_data_info() {
    closeLogFile();
    openLog().name.clear();
    {
        std::lock_guard lock(openLog().gapsMutex);
        openLog().gaps.clear();
    }
    cyclesWritten = 0;
    cyclesAccepted = 0;
    log_description::reset();
    const int type = channel_index;
    channel_blocks = framesPerLoggedCycle(type);
    const std::time_t startTime = logClock.load()();
    const std::string stamp = startStamp(startTime);
    std::string directory;
    ui::getValue(panelHandle, LOGPATH, &directory);
    log_to_file = panelInt(LOG_STATE) == 1 ? 1 : 0;
    int speedIndex = -1;
    ui::getRingIndex(panelHandle, SPEED_SLIDE, &speedIndex);
    file_separator = panelInt(FILE_SEP) == 2 ? 2 : 1;
    const double timeBase = samplePeriodMicros(type, speedIndex);
    if (log_to_file != 1) return 0;
    if (directoryMissing(directory)) {
        reportMissingDirectory(directory);
        return 1;
    }
    const std::string header = logHeader(type, timeBase, separatorOf(file_separator));
    if (!openLogFile(directory, stamp, header)) return 1;
    log_description::begin(startFacts(type, speedIndex, timeBase, startTime));
    startWriter(openLog(), type, separatorOf(file_separator));
    return 0;
}

// Hands the cycle to the writer thread, which formats and writes it. A full queue (the disk
// stalls longer than the queue lasts) leaves the cycle out: counted, placed, told once. A
// source with no link to keep up with waits for room instead.
void writeDataToFileRaw() {
    OpenLog &log = openLog();
    if (!log.writer || log.stopped) return;
    if (const uint64_t limit = cycleLimit.load(); limit != 0 && cyclesAccepted >= limit) return;
    const LogWriter::Submitted submitted = log.writer->submit(dataout.data(), waitForDisk.load());
    if (submitted == LogWriter::Submitted::queued) ++cyclesAccepted;
    if (submitted != LogWriter::Submitted::full) return;
    addGap(log);
    if (!log.overrunTold) reportOverrun(log);
    log.overrunTold = true;
}

// The writer writes what it holds and flushes it (not on the GUI thread, which must never
// wait for the disk: there only a START that failed closes a file, with no cycles in it).
void closeLogFile() {
    OpenLog &log = openLog();
    const bool wasOpen = log_file_open.exchange(0) == 1;
    if (log.writer) {
        cyclesWritten = log.writer->finish(!onGuiThread());
        log.writer.reset();
        if (!log.stopped && !reachableByName(log)) stopLostLogging(log);
    }
    if (wasOpen && log.fd >= 0 && ::close(log.fd) != 0 && !log.stopped) {
        reportCloseFailure(log.name, errno);
    }
    log.fd = -1;
    if (wasOpen) {
        log_description::complete(cyclesWritten, monotonicClock.load()(),
                                  gapsWithin(log, cyclesWritten * log.recordsPerCycle));
    }
}

void noteSkippedCycle() {
    OpenLog &log = openLog();
    if (!log.writer || log.stopped) return;
    addGap(log);
}

std::vector<recording::LogGap> logGaps() {
    OpenLog &log = openLog();
    std::lock_guard lock(log.gapsMutex);
    return log.gaps;
}

void setLogWaitsForDisk(bool wait) {
    waitForDisk = wait;
}

void useLogQueueCycles(std::size_t cycles) {
    queueCycles = cycles != 0 ? cycles : LogWriter::kDefaultQueueCycles;
}

std::string describeLogGaps() {
    const std::vector<recording::LogGap> gaps = logGaps();
    if (gaps.empty()) return {};
    constexpr std::size_t kPlacesShown = 5;
    uint64_t cycles = 0;
    std::string places;
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        cycles += gaps[i].cycles;
        if (i < kPlacesShown) {
            places += "\n  after record " + std::to_string(gaps[i].afterRecord) + ": " +
                      std::to_string(gaps[i].cycles) + (gaps[i].cycles == 1 ? " cycle" : " cycles");
        }
    }
    if (gaps.size() > kPlacesShown) {
        places += "\n  and " + std::to_string(gaps.size() - kPlacesShown) + " more places";
    }
    return std::to_string(cycles) + (cycles == 1 ? " cycle was" : " cycles were") +
           " left out of the log file (a block arrived short, or the disk did not keep up):\n" +
           openLog().name + places +
           "\nThe records after a gap were measured that much later; the description lists "
           "the gaps.";
}

std::string logFilePath() {
    return openLog().name;
}

uint64_t loggedCycles() {
    return cyclesWritten;
}

void limitLoggedCycles(uint64_t cycles) {
    cycleLimit = cycles;
}

void setLogClock(LogClock clock) {
    logClock = clock != nullptr ? clock : systemTime;
}

void setLogMonotonicClock(LogMonotonicClock clock) {
    monotonicClock = clock != nullptr ? clock : steadyTime;
}

}  // namespace ostrel
