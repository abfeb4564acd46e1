// The description written beside every recording: jex-log-<stamp>.json next to
// jex-log-<stamp>.dat. It says what the log file holds (module, telemetry type,
// speed, time base, columns) and how the measurement went (start and stop time,
// cycles written, how it ended). Written at START with the stop fields empty
// and completed when the log file closes; always replaced atomically (a
// temporary file in the same directory, then rename), so a reader sees either
// the old or the new description, never a part.
//
// Pure formatting and parsing plus one file operation; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::recording {

// How a measurement ended, as the description names it.
enum class MeasurementEnd {
    running,        // "running": the description of a recording still being written
    stop,           // "STOP": the operator's STOP
    windowClosed,   // "window closed"
    transferError,  // "transfer error": the module's transfer failed
    writeError,     // "write error": the log file could not be written; logging stopped
    interrupted,    // "Ctrl-C": SIGINT or SIGTERM to ostrel-record
    endOfPlayback,  // "end of playback": a played-back recording reached its end
    notInSync,      // "not in sync": the receiver was not in sync; no data was taken
    notStarted,     // "not started": the module could not be opened or given its buffers
    signal,         // "ended by signal": SIGTERM, SIGHUP or SIGINT to the window program
};

std::string_view measurementEndText(MeasurementEnd end);
// The end named by `text`; nullopt for an unknown text.
std::optional<MeasurementEnd> measurementEndFromText(std::string_view text);

// Whole cycles left out of the log file (a block of theirs arrived short), after the record
// `afterRecord` (the records written before them): the records that follow were measured
// `cycles` cycles later than their place in the file says.
struct LogGap {
    uint64_t afterRecord = 0;
    uint64_t cycles = 0;
    bool operator==(const LogGap &) const = default;
};

// An event marker the operator (or a test rig's script) set during the measurement: its
// running number from 1, the record it falls on (the next record to be written when it was
// set), the time since START that record stands for, the wall-clock time it was set at, and
// its label (empty for an unlabelled marker).
struct RecordingMarker {
    int number = 0;
    uint64_t record = 0;
    double seconds = 0;     // record x the exact time base (plus the gaps before it), in s
    std::string wallClock;  // ISO 8601 with offset and milliseconds
    std::string label;
    bool operator==(const RecordingMarker &) const = default;
};

struct RecordingDescription {
    std::string programVersion;        // "1.3.1"
    std::string logFile;               // base name of the log file, "jex-log-07122026093000.dat"
    std::string module;                // module name as listed
    int typeIndex = -1;                // telemetry type 0..9
    std::string typeText;              // the type ring's text, " 8 Channel"
    int speedKbps = 0;                 // 40, 160, 320 or 640
    double timeBaseMicros = 0;         // the log file's time base (µs between two records)
    int channelCount = 0;              // words per record (columns of the log file)
    char separator = ',';              // ',' ("comma") or '\t' ("tab")
    std::vector<std::string> columns;  // the log file's column names
    std::string startTime;             // ISO 8601 with offset, "2026-12-07T09:30:00+01:00"
    std::string stopTime;              // same form; empty while running
    uint64_t cycles = 0;               // whole cycles written to the log file
    MeasurementEnd ended = MeasurementEnd::running;
    std::optional<uint64_t> lostFrames;  // frames the simulated module lost; none for hardware
    std::vector<LogGap> gaps;            // in file order
    std::vector<RecordingMarker> markers;  // in the order they were set
    bool operator==(const RecordingDescription &) const = default;
};

// The description as a JSON object (UTF-8, one key a line, LF line ends).
// Keys: "program", "version", "log_file", "module", "telemetry_type" ({"index",
// "text"}), "speed_kbps", "time_base_us", "channel_count", "separator"
// ("comma" / "tab"), "columns", "start", "stop" (null while running),
// "cycles", "ended", "gaps" ([{"after_record", "cycles"}], absent in older descriptions),
// "markers" ([{"number", "record", "time_s", "wall_clock", "label"}], one a line; only when
// markers were set), and "lost_frames" only when known.
std::string describeAsJson(const RecordingDescription &description);

// Parses a description written by describeAsJson (any JSON whitespace and key
// order; unknown keys are ignored). On failure `error` says what is wrong,
// e.g. "line 3: expected ':' after a key" or "\"speed_kbps\" is missing".
struct ParsedDescription {
    std::optional<RecordingDescription> description;
    std::string error;
};
ParsedDescription parseDescription(std::string_view json);

// Reads and parses the file at `path`; the error names the file.
ParsedDescription readDescription(const std::string &path);

// The description's path for a log file: the same path with ".json" in place
// of the ".dat" extension (or ".json" appended when the name has no ".dat").
std::string descriptionPathFor(const std::string &logFilePath);

// Writes `json` to `path` atomically: a temporary file beside it, flushed,
// then renamed over `path`. Empty on success, else the system's reason.
std::string writeFileAtomically(const std::string &path, std::string_view content,
                                bool durable = true);

// Local time as ISO 8601 with its UTC offset: "2026-12-07T09:30:00+01:00"; with
// `milliseconds` (0..999) after the seconds: "2026-12-07T09:30:00.250+01:00".
std::string isoLocalTime(std::int64_t secondsSinceEpoch, int milliseconds = -1);

}  // namespace ostrel::recording
