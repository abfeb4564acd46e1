// Internal to ostrel-convert's run: the MATLAB and HDF5 exports of a recording.
#pragma once

#include <optional>
#include <ostream>

#include "recording/conversion.h"
#include "recording/convert_command.h"
#include "recording/recording_description.h"
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

// The export itself: the records `reader` returns, converted by `conversion`, in `format` (mat
// or hdf5) to the file at `path` (created or truncated, written in place), with the markers
// and the fields of `description` (none: neither). Empty when written, else what failed
// ("cannot write: File too large"); the file is then incomplete.
std::string writeExport(Format format, const std::string &path, RecordingReader &reader,
                        const Conversion &conversion, const RecordingDescription *description);

}  // namespace ostrel::recording::convert_detail
