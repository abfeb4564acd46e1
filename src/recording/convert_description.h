// Internal to ostrel-convert's run: what the description beside the recording adds to it
// (the telemetry type, the exact time base, the cycles left out), and what is told when it
// says otherwise than the command line or the file.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "recording/conversion.h"
#include "recording/convert_command.h"
#include "recording/recording_reader.h"

namespace ostrel::recording::convert_detail {

// The telemetry type: --type, else the description's. Sets `status` when there is none.
std::optional<int> resolveType(const ConvertOptions &options, std::ostream &err, int &status);

// The conversion of the recording with `header` as `type`; nullopt after telling why. The
// description gives the exact time base and the cycles left out of the file, which put the
// records after them later; without one the header's time base is made exact and there are
// no gaps to tell.
std::optional<Conversion> conversionOf(const ConvertOptions &options, int type,
                                       const RecordingHeader &header, std::ostream &err);

// The file is what is converted; a description that counts other cycles (a recording killed or
// cut off before its description caught up) is told, not believed.
void noteCycleMismatch(const ConvertOptions &options, int type, uint64_t records,
                       std::ostream &err);

}  // namespace ostrel::recording::convert_detail
