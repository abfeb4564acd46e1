// Internal to ostrel-convert's run: the MATLAB and HDF5 exports of a recording.
#pragma once

#include <optional>
#include <ostream>

#include "recording/conversion.h"
#include "recording/convert_command.h"
#include "recording/recording_reader.h"

namespace ostrel::recording::convert_detail {

// Writes the records `reader` returns, converted by `conversion`, to --out in
// `options.format` (mat or hdf5), with the names, the markers and the description beside the
// recording. --out must be given and be a regular file or none yet (a usage error otherwise:
// a binary file is written by name, never to a terminal or a pipe); it is replaced only once
// complete. nullopt when written (a problem in the recording is then the caller's to tell),
// else the exit status after telling why; a failed write leaves no partial file.
std::optional<int> exportTable(const ConvertOptions &options, RecordingReader &reader,
                               const Conversion &conversion, std::ostream &err);

}  // namespace ostrel::recording::convert_detail
