// For tests of the recording reader: how many bytes it reads at a time, so that records
// split between two reads can be tested with small files.
#pragma once

#include <cstddef>

namespace ostrel::recording::testing {

// Bytes each RecordingReader constructed from now on asks the system for at a time
// (at least 1); 0 restores the default, 1 MiB. Any thread.
void setReaderChunkBytes(std::size_t bytes);

}  // namespace ostrel::recording::testing
