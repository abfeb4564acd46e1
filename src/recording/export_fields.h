// The description's fields as the MATLAB and HDF5 exports hold them (the `description` struct,
// the root group's attributes): one list of names and values both writers go through.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel::recording {

// A field's value: a text (valid UTF-8, utf8Text), a list of texts, a number, a count.
using ExportValue = std::variant<std::string, std::vector<std::string>, double, int32_t, uint64_t>;

struct ExportField {
    std::string name;
    ExportValue value;
};

// The fields in the description's order: "version", "log_file", "module", "telemetry_type"
// (the index), "telemetry_type_text", "speed_kbps", "time_base_us", "channel_count",
// "separator" ("comma" or "tab"), "columns", "start", "stop" (empty while running),
// "cycles", "ended", and "lost_frames" only when known. The gaps and the markers are tables
// of their own.
std::vector<ExportField> exportFieldsOf(const RecordingDescription &description);

}  // namespace ostrel::recording
