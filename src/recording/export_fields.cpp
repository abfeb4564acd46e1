#include "recording/export_fields.h"

#include "recording/export_columns.h"

namespace ostrel::recording {

std::vector<ExportField> exportFieldsOf(const RecordingDescription &d) {
    std::vector<std::string> columns;
    for (const std::string &column : d.columns) columns.push_back(utf8Text(column));
    std::vector<ExportField> fields = {
        {"version", utf8Text(d.programVersion)},
        {"log_file", utf8Text(d.logFile)},
        {"module", utf8Text(d.module)},
        {"telemetry_type", int32_t(d.typeIndex)},
        {"telemetry_type_text", utf8Text(d.typeText)},
        {"speed_kbps", int32_t(d.speedKbps)},
        {"time_base_us", d.timeBaseMicros},
        {"channel_count", int32_t(d.channelCount)},
        {"separator", std::string(d.separator == '\t' ? "tab" : "comma")},
        {"columns", std::move(columns)},
        {"start", utf8Text(d.startTime)},
        {"stop", utf8Text(d.stopTime)},
        {"cycles", d.cycles},
        {"ended", std::string(measurementEndText(d.ended))},
    };
    if (d.lostFrames) fields.push_back({"lost_frames", *d.lostFrames});
    return fields;
}

}  // namespace ostrel::recording
