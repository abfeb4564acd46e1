#include "recording/recording_description.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "recording/atomic_file.h"
#include "recording/file_io.h"
#include "recording/input_file.h"
#include "recording/json.h"
#include "recording/name_table.h"
#include "recording/path_names.h"

namespace ostrel::recording {
namespace {

constexpr std::string_view kProgramName = "Ostrel";
constexpr std::string_view kLogExtension = ".dat";
constexpr std::string_view kDescriptionExtension = ".json";

// A description is a few kilobytes; anything much larger is not one (a log file given
// by mistake), and is refused before it is read whole.
constexpr off_t kMaxDescriptionBytes = 1 << 20;

constexpr NameTable<MeasurementEnd, 10> kEndNames{{
    {MeasurementEnd::running, "running"},
    {MeasurementEnd::stop, "STOP"},
    {MeasurementEnd::windowClosed, "window closed"},
    {MeasurementEnd::transferError, "transfer error"},
    {MeasurementEnd::writeError, "write error"},
    {MeasurementEnd::interrupted, "Ctrl-C"},
    {MeasurementEnd::endOfPlayback, "end of playback"},
    {MeasurementEnd::notInSync, "not in sync"},
    {MeasurementEnd::notStarted, "not started"},
    {MeasurementEnd::signal, "ended by signal"},
}};

// ---------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------

void appendKey(std::string &out, std::string_view key) {
    out += "  ";
    json::appendQuoted(out, key);
    out += ": ";
}

void appendStringMember(std::string &out, std::string_view key, std::string_view value) {
    appendKey(out, key);
    json::appendQuoted(out, value);
    out += ",\n";
}

template <typename Number>
void appendNumberMember(std::string &out, std::string_view key, Number value) {
    appendKey(out, key);
    out += std::to_string(value);
    out += ",\n";
}

// Shortest text that reads back as the same double; JSON has no infinity or NaN, so
// those are written as null (and refused when read back).
void appendDouble(std::string &out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), result.ptr);
}

// "markers": one object a line, in the order they were set. Written only when there are
// markers: a description without is written as before markers could be set.
void appendMarkers(std::string &out, const std::vector<RecordingMarker> &markers) {
    appendKey(out, "markers");
    out += '[';
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const RecordingMarker &m = markers[i];
        out += i > 0 ? ",\n    " : "\n    ";
        out += "{\"number\": " + std::to_string(m.number) +
               ", \"record\": " + std::to_string(m.record) + ", \"time_s\": ";
        appendDouble(out, m.seconds);
        out += ", \"wall_clock\": ";
        json::appendQuoted(out, m.wallClock);
        out += ", \"label\": ";
        json::appendQuoted(out, m.label);
        out += '}';
    }
    out += "\n  ]";
}

std::string_view separatorName(char separator) {
    if (separator == '\t') return "tab";
    if (separator == ',') return "comma";
    // Not a separator of any log file: written as it is, so the reader names it.
    return {};
}

// ---------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------

// Reads the members of a parsed description, stopping at the first problem.
class DescriptionReader {
  public:
    explicit DescriptionReader(const json::Value &root) : root_(root) {}

    ParsedDescription run() {
        ParsedDescription result;
        RecordingDescription d;
        const json::Value *type = nullptr;
        const bool ok = text("version", d.programVersion) && text("log_file", d.logFile) &&
                        text("module", d.module) && (type = object("telemetry_type")) &&
                        integer(*type, "telemetry_type.index", "index", d.typeIndex) &&
                        text(*type, "telemetry_type.text", "text", d.typeText) &&
                        integer(root_, "speed_kbps", "speed_kbps", d.speedKbps) &&
                        number("time_base_us", d.timeBaseMicros) &&
                        integer(root_, "channel_count", "channel_count", d.channelCount) &&
                        separator(d.separator) && columns(d.columns) &&
                        text("start", d.startTime) && optionalText("stop", d.stopTime) &&
                        unsignedInteger("cycles", d.cycles) && ended(d.ended) &&
                        lostFrames(d.lostFrames) && gaps(d.gaps) && markers(d.markers);
        if (ok) {
            result.description = std::move(d);
        } else {
            result.error = error_;
        }
        return result;
    }

  private:
    bool fail(const json::Value *at, std::string what) {
        error_ = at ? "line " + std::to_string(at->line) + ": " + what : what;
        return false;
    }

    const json::Value *require(const json::Value &object, std::string_view path,
                               std::string_view key) {
        const json::Value *value = object.member(key);
        if (!value) fail(nullptr, "\"" + std::string(path) + "\" is missing");
        return value;
    }

    bool text(const json::Value &object, std::string_view path, std::string_view key,
              std::string &out) {
        const json::Value *value = require(object, path, key);
        if (!value) return false;
        if (value->kind != json::Value::Kind::string) {
            return fail(value, "\"" + std::string(path) + "\" must be a string");
        }
        out = value->text;
        return true;
    }
    bool text(std::string_view key, std::string &out) { return text(root_, key, key, out); }

    // A string, or null for "not yet" (empty).
    bool optionalText(std::string_view key, std::string &out) {
        const json::Value *value = require(root_, key, key);
        if (!value) return false;
        if (value->kind == json::Value::Kind::null) {
            out.clear();
            return true;
        }
        return text(key, out);
    }

    const json::Value *object(std::string_view key) {
        const json::Value *value = require(root_, key, key);
        if (value && value->kind != json::Value::Kind::object) {
            fail(value, "\"" + std::string(key) + "\" must be an object");
            return nullptr;
        }
        return value;
    }

    bool integer(const json::Value &object, std::string_view path, std::string_view key, int &out) {
        const json::Value *value = require(object, path, key);
        if (!value) return false;
        const std::optional<int64_t> number = value->int64;
        if (!number || *number < std::numeric_limits<int>::min() ||
            *number > std::numeric_limits<int>::max()) {
            return fail(value, "\"" + std::string(path) + "\" must be a whole number");
        }
        out = int(*number);
        return true;
    }

    bool unsignedInteger(std::string_view key, uint64_t &out) {
        const json::Value *value = require(root_, key, key);
        if (!value) return false;
        const std::optional<uint64_t> number = value->uint64;
        if (!number) {
            return fail(value, "\"" + std::string(key) + "\" must be a whole number from 0");
        }
        out = *number;
        return true;
    }

    bool number(std::string_view key, double &out) {
        const json::Value *value = require(root_, key, key);
        if (!value) return false;
        const std::optional<double> number = value->real;
        if (!number) return fail(value, "\"" + std::string(key) + "\" must be a finite number");
        out = *number;
        return true;
    }

    bool separator(char &out) {
        std::string name;
        if (!text("separator", name)) return false;
        if (name == "comma") {
            out = ',';
        } else if (name == "tab") {
            out = '\t';
        } else {
            return fail(root_.member("separator"), "\"separator\" must be \"comma\" or \"tab\"");
        }
        return true;
    }

    bool columns(std::vector<std::string> &out) {
        const json::Value *value = require(root_, "columns", "columns");
        if (!value) return false;
        if (value->kind != json::Value::Kind::array) {
            return fail(value, "\"columns\" must be an array of strings");
        }
        out.clear();
        for (const json::Value &item : value->items) {
            if (item.kind != json::Value::Kind::string) {
                return fail(&item, "\"columns\" must be an array of strings");
            }
            out.push_back(item.text);
        }
        return true;
    }

    bool ended(MeasurementEnd &out) {
        std::string name;
        if (!text("ended", name)) return false;
        const std::optional<MeasurementEnd> end = measurementEndFromText(name);
        if (!end) {
            std::string known;
            for (const NamedValue<MeasurementEnd> &e : kEndNames) {
                known += known.empty() ? "\"" : ", \"";
                known += e.name;
                known += '"';
            }
            return fail(root_.member("ended"), "\"ended\" must be one of " + known);
        }
        out = *end;
        return true;
    }

    // Optional: absent (or null) when the module does not count lost frames.
    bool lostFrames(std::optional<uint64_t> &out) {
        const json::Value *value = root_.member("lost_frames");
        if (!value || value->kind == json::Value::Kind::null) {
            out.reset();
            return true;
        }
        uint64_t frames = 0;
        if (!unsignedInteger("lost_frames", frames)) return false;
        out = frames;
        return true;
    }

    // Optional: descriptions written before gaps were recorded have none.
    bool gaps(std::vector<LogGap> &out) {
        out.clear();
        const json::Value *value = root_.member("gaps");
        if (!value) return true;
        if (value->kind != json::Value::Kind::array) {
            return fail(value, "\"gaps\" must be an array");
        }
        for (const json::Value &item : value->items) {
            LogGap gap;
            if (!gapMember(item, "after_record", gap.afterRecord) ||
                !gapMember(item, "cycles", gap.cycles)) {
                return false;
            }
            out.push_back(gap);
        }
        return true;
    }

    bool gapMember(const json::Value &item, std::string_view key, uint64_t &out) {
        const json::Value *member =
            item.kind == json::Value::Kind::object ? item.member(key) : nullptr;
        const std::optional<uint64_t> number = member ? member->uint64 : std::nullopt;
        if (!number) {
            return fail(&item,
                        "each of \"gaps\" must hold \"after_record\" and \"cycles\" as "
                        "whole numbers from 0");
        }
        out = *number;
        return true;
    }

    // Optional: descriptions written before markers could be set have none.
    bool markers(std::vector<RecordingMarker> &out) {
        out.clear();
        const json::Value *value = root_.member("markers");
        if (!value) return true;
        if (value->kind != json::Value::Kind::array) {
            return fail(value, "\"markers\" must be an array");
        }
        for (const json::Value &item : value->items) {
            RecordingMarker marker;
            if (!markerFields(item, marker)) {
                return fail(&item,
                            "each of \"markers\" must hold \"number\" and \"record\" as whole "
                            "numbers, \"time_s\" as a number and \"wall_clock\" and \"label\" "
                            "as strings");
            }
            out.push_back(std::move(marker));
        }
        return true;
    }

    static bool markerFields(const json::Value &item, RecordingMarker &out) {
        if (item.kind != json::Value::Kind::object) return false;
        const json::Value *number = item.member("number");
        const json::Value *record = item.member("record");
        const json::Value *seconds = item.member("time_s");
        const json::Value *wallClock = item.member("wall_clock");
        const json::Value *label = item.member("label");
        if (!number || !number->int64 || *number->int64 < 0 ||
            *number->int64 > std::numeric_limits<int>::max() || !record || !record->uint64 ||
            !seconds || !seconds->real || !wallClock ||
            wallClock->kind != json::Value::Kind::string || !label ||
            label->kind != json::Value::Kind::string) {
            return false;
        }
        out = {int(*number->int64), *record->uint64, *seconds->real, wallClock->text, label->text};
        return true;
    }

    const json::Value &root_;
    std::string error_;
};

}  // namespace

std::string_view measurementEndText(MeasurementEnd end) {
    return nameIn(kEndNames, end, "unknown");
}

std::optional<MeasurementEnd> measurementEndFromText(std::string_view text) {
    return valueIn(kEndNames, text);
}

std::string describeAsJson(const RecordingDescription &d) {
    std::string out = "{\n";
    appendStringMember(out, "program", kProgramName);
    appendStringMember(out, "version", d.programVersion);
    appendStringMember(out, "log_file", d.logFile);
    appendStringMember(out, "module", d.module);
    appendKey(out, "telemetry_type");
    out += "{\"index\": " + std::to_string(d.typeIndex) + ", \"text\": ";
    json::appendQuoted(out, d.typeText);
    out += "},\n";
    appendNumberMember(out, "speed_kbps", d.speedKbps);
    appendKey(out, "time_base_us");
    appendDouble(out, d.timeBaseMicros);
    out += ",\n";
    appendNumberMember(out, "channel_count", d.channelCount);
    const std::string_view separator = separatorName(d.separator);
    appendStringMember(out, "separator",
                       separator.empty() ? std::string_view(&d.separator, 1) : separator);
    appendKey(out, "columns");
    out += '[';
    for (std::size_t i = 0; i < d.columns.size(); ++i) {
        if (i > 0) out += ", ";
        json::appendQuoted(out, d.columns[i]);
    }
    out += "],\n";
    appendStringMember(out, "start", d.startTime);
    appendKey(out, "stop");
    if (d.stopTime.empty()) {
        out += "null";
    } else {
        json::appendQuoted(out, d.stopTime);
    }
    out += ",\n";
    appendNumberMember(out, "cycles", d.cycles);
    appendKey(out, "ended");
    json::appendQuoted(out, measurementEndText(d.ended));
    out += ",\n";
    appendKey(out, "gaps");
    out += '[';
    for (std::size_t i = 0; i < d.gaps.size(); ++i) {
        out += i > 0 ? ", " : "";
        out += "{\"after_record\": " + std::to_string(d.gaps[i].afterRecord) +
               ", \"cycles\": " + std::to_string(d.gaps[i].cycles) + "}";
    }
    out += ']';
    if (!d.markers.empty()) {
        out += ",\n";
        appendMarkers(out, d.markers);
    }
    if (d.lostFrames) {
        out += ",\n";
        appendKey(out, "lost_frames");
        out += std::to_string(*d.lostFrames);
    }
    out += "\n}\n";
    return out;
}

ParsedDescription parseDescription(std::string_view text) {
    const json::ParseResult parsed = json::parse(text);
    if (!parsed.value) return {std::nullopt, parsed.error};
    if (parsed.value->kind != json::Value::Kind::object) {
        return {std::nullopt, "line " + std::to_string(parsed.value->line) +
                                  ": a description is a JSON object ({...})"};
    }
    return DescriptionReader(*parsed.value).run();
}

ParsedDescription readDescription(const std::string &path) {
    std::string error;
    struct stat status {};
    const int fd = openRegularFile(path, error, &status);
    if (fd < 0) return {std::nullopt, path + ": " + error};
    // Read to the end, whatever the size said: the file may have grown meanwhile, but never
    // past the bound (one byte more tells that it is larger).
    std::string content;
    const int readError = status.st_size > kMaxDescriptionBytes
                              ? 0
                              : readUpTo(fd, std::size_t(kMaxDescriptionBytes) + 1, content);
    ::close(fd);
    if (readError != 0) {
        error = std::strerror(readError);
    } else if (status.st_size > kMaxDescriptionBytes ||
               content.size() > std::size_t(kMaxDescriptionBytes)) {
        error = "larger than " + std::to_string(kMaxDescriptionBytes) +
                " bytes: not a recording description";
    }
    if (!error.empty()) return {std::nullopt, path + ": " + error};
    ParsedDescription parsed = parseDescription(content);
    if (!parsed.description) parsed.error = path + ": " + parsed.error;
    return parsed;
}

std::string descriptionPathFor(const std::string &logFilePath) {
    const std::string_view name = baseNameOf(logFilePath);
    // A name that is only ".dat" has no base to keep.
    if (name.size() > kLogExtension.size() && name.ends_with(kLogExtension)) {
        return logFilePath.substr(0, logFilePath.size() - kLogExtension.size()) +
               std::string(kDescriptionExtension);
    }
    return logFilePath + std::string(kDescriptionExtension);
}

std::string writeFileAtomically(const std::string &path, std::string_view content, bool durable) {
    AtomicFile file(path);
    if (file.write(content) && file.commit(durable)) return {};
    return file.error();
}

std::string isoLocalTime(std::int64_t secondsSinceEpoch, int milliseconds) {
    const auto seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (static_cast<std::int64_t>(seconds) != secondsSinceEpoch ||
        ::localtime_r(&seconds, &local) == nullptr) {
        return {};
    }
    std::array<char, 64> text{};
    std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &local);
    if (length == 0) return {};
    if (milliseconds >= 0 && milliseconds < 1000) {
        length += std::size_t(
            std::snprintf(text.data() + length, text.size() - length, ".%03d", milliseconds));
    }
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    const int written =
        std::snprintf(text.data() + length, text.size() - length, "%c%02ld:%02ld",
                      offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    if (written < 0 || std::size_t(written) >= text.size() - length) return {};
    length += std::size_t(written);
    return std::string(text.data(), length);
}

}  // namespace ostrel::recording
