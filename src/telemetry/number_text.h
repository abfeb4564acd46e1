// Fixed-point number texts with '.' as the decimal point whatever the process locale. Qt
// sets the locale from the environment (setlocale), and printf's "%f" follows it: under a
// German desktop it writes "50,04". Every number the program shows or writes goes through
// here (or through std::to_chars directly) instead. Pure; any thread.
#pragma once

#include <string>

namespace ostrel {

// Decimals a fixed-point text can have; more are taken as this many.
inline constexpr int kMaxFixedDecimals = 17;

// Writes `value` with `decimals` decimals, right-aligned with spaces in at least `width`
// places, as printf's "%*.*f" writes it in the C locale ("  -0.02" for -0.0244, 2, 7), into
// [first, last). A longer text is cut at `last`. Returns the end of what was written; writes
// no terminating NUL.
char *putFixed(char *first, char *last, double value, int decimals, int width = 0);

// The same text as a string.
std::string fixedText(double value, int decimals, int width = 0);

}  // namespace ostrel
