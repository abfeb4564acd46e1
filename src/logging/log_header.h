// The two header lines of a log file: the time base line and the column name line. Pure;
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

// The separator of `fileSeparator` (FILE_SEP value): ',' for 1, '\t' for 2, '\0' for any
// other value, which no log file uses.
char separatorOf(int32_t fileSeparator);

// The time base as written in line 1: fixed point, two decimals ("159.38"). Independent of
// the process locale, which Qt sets from the environment.
std::string timeBaseText(double micros);

// The column names of `type` as line 2 lists them; none for an unknown type.
std::vector<std::string> logColumnNames(int type);

// Both header lines, CR LF after each: "Time-Base: <T>us" followed by N - 1 separators,
// then the N column names of `type` joined by `separator`. An unknown type has no columns.
std::string logHeader(int type, double timeBaseMicros, char separator);

}  // namespace ostrel
