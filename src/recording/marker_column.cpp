#include "recording/marker_column.h"

#include <algorithm>
#include <cstring>

#include "recording/conversion.h"

namespace ostrel::recording {

// Markers by record, then in the order they were set.
MarkerColumn::MarkerColumn(std::vector<RecordingMarker> markers) {
    std::stable_sort(
        markers.begin(), markers.end(),
        [](const RecordingMarker &a, const RecordingMarker &b) { return a.record < b.record; });
    std::string joined;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const RecordingMarker &m = markers[i];
        if (!joined.empty()) joined += ';';
        joined += m.label.empty() ? std::to_string(m.number) : m.label;
        if (i + 1 == markers.size() || markers[i + 1].record != m.record) {
            fields_.push_back({m.record, csvField(joined)});
            joined.clear();
        }
    }
}

void MarkerColumn::extendHeader(std::string &header) const {
    if (!present() || header.empty()) return;
    header.back() = ',';
    header += "Marker\n";
}

std::size_t MarkerColumn::bytesFor(uint64_t first, std::size_t count) const {
    if (!present()) return 0;
    std::size_t bytes = count;  // a separator a row
    for (const Field &field : fields_) {
        if (field.record >= first && field.record - first < count) bytes += field.text.size();
    }
    return bytes;
}

char *MarkerColumn::extendRow(char *end, uint64_t index) {
    if (!present()) return end;
    end[-1] = ',';
    while (next_ < fields_.size() && fields_[next_].record < index) ++next_;
    if (next_ < fields_.size() && fields_[next_].record == index) {
        const std::string &text = fields_[next_++].text;
        std::memcpy(end, text.data(), text.size());
        end += text.size();
    }
    *end++ = '\n';
    return end;
}

}  // namespace ostrel::recording
