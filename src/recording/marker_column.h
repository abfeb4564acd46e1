// The marker column of the CSV table: on each record, the markers that fall on it (a marker's
// label, or its number when it has none; ';' between two on the same record), and nothing on
// the other records. Only a recording whose description lists markers gets the column.
// Pure; one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording_description.h"

namespace ostrel::recording {

class MarkerColumn {
  public:
    explicit MarkerColumn(std::vector<RecordingMarker> markers);

    bool present() const { return !fields_.empty(); }

    // "...,Marker" for the header line `header` (which ends in LF), when the column is present.
    void extendHeader(std::string &header) const;
    // Most bytes the column adds to the `count` rows from record `first` on.
    std::size_t bytesFor(uint64_t first, std::size_t count) const;
    // Adds the field of record `index` to the row that ends (after its LF) at `end`; returns
    // the row's new end. Records must come in order.
    char *extendRow(char *end, uint64_t index);

  private:
    struct Field {
        uint64_t record;
        std::string text;  // as the CSV holds it (quoted when it must be)
    };
    std::vector<Field> fields_;  // one per record that has markers, by record
    std::size_t next_ = 0;       // the first field not yet written
};

}  // namespace ostrel::recording
