// Internal to the exports: the HDF5 library's errors in this program's words. Both exports
// write through HDF5 (the MATLAB 7.3 format is HDF5 underneath, written by matio).
#pragma once

#include <string>
#include <string_view>

namespace ostrel::recording::export_detail {

// Keeps the HDF5 library from printing its error stacks on stderr: a failure is told once,
// by the program. Call before the first HDF5 call (the library's setting is per process).
void silenceHdf5Errors();

// The current thread's HDF5 error, then cleared: the system's reason when the file driver
// gives one ("File too large", "No space left on device"), else the innermost description.
// Empty when the stack holds none.
std::string takeHdf5Error();

// The system's reason in an HDF5 error text ("..., error message = 'File too large', ..."), as
// a library that prints the error stack into its own message quotes it; empty when none.
std::string systemReasonIn(std::string_view text);

}  // namespace ostrel::recording::export_detail
