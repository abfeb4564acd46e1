// The export tests' readers: an export file read back by the library that wrote it (matio for
// MAT 7.3, the HDF5 C API for HDF5) or by python3 with h5py and pandas, each into the same
// plain form, which the tests compare with the CSV conversion and the description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/convert_command.h"
#include "recording/recording_description.h"

namespace ostrel::recording::test {

struct ReadBack {
    std::vector<std::string> variables;  // in column order
    std::vector<std::string> names;
    std::vector<std::string> units;
    std::vector<std::vector<double>> columns;  // per variable its values
    std::vector<double> time;
    std::vector<RecordingMarker> markers;
    std::vector<LogGap> gaps;
    std::vector<std::string> descriptionKeys;  // python only: every field's name, sorted
    std::string module;                        // from the description
    uint64_t cycles = 0;
    std::vector<std::string> describedColumns;
    std::string problem;  // not empty: the file could not be read so
};

ReadBack readWithLibrary(const std::string &path, Format format);

// Empty `problem` and no data either when no python3 with h5py and pandas is known (the
// caller skips): `pythonAvailable()`.
bool pythonAvailable();
ReadBack readWithPython(const std::string &path, Format format);

}  // namespace ostrel::recording::test
