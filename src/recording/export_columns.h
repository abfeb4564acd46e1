// What the MATLAB and HDF5 exports name things: a column's variable (a MATLAB identifier, also
// the HDF5 dataset's name), its original name and its unit, and texts made valid UTF-8 for
// libraries that store text as Unicode. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "recording/conversion.h"

namespace ostrel::recording {

// One column of an export.
struct ExportColumn {
    std::size_t word = 0;    // the word of the record it comes from
    std::string identifier;  // "Ch3", "Angle_low_2": the variable or dataset name
    std::string name;        // the CSV table's name, "Ch3 [%]", "Angle low #2 [°]"
    std::string unit;        // "%", "Nm", "°"; "raw" for raw words
};

// The names every export holds beside the columns; no column's identifier is one of them.
inline constexpr std::string_view kTimeVariable = "time";
inline constexpr std::string_view kMarkersVariable = "markers";
inline constexpr std::string_view kDescriptionVariable = "description";

// The columns of `conversion` with identifiers that are valid MATLAB names (a letter, then
// letters, digits and '_', at most 63 characters), unique, and none of the reserved names:
// the name without its unit, every run of other characters one '_' ("Angle low #2" ->
// "Angle_low_2"), "x" before a leading digit or '_', "_2", "_3" after a name already taken
// (also a MATLAB keyword: "end" -> "end_2").
std::vector<ExportColumn> exportColumnsOf(const Conversion &conversion);

// `bytes` as valid UTF-8: valid sequences as they are, any other byte as U+F700 + byte, the
// escape the descriptions use (so a module name reads the same in every file).
std::string utf8Text(std::string_view bytes);

// The UTF-16 code units of `bytes` read as utf8Text gives them (MATLAB's characters).
std::u16string utf16Text(std::string_view bytes);

}  // namespace ostrel::recording
