// The one command-line parser of ostrel, ostrel-record and ostrel-convert, on glibc's
// getopt_long: long options as "--name value" or "--name=value", any unambiguous prefix of a
// name, "--" ending the options, "-h" for "--help". Every program gets --help and --version.
// A mistake is told in one wording for all three programs (usageMessage); the value of an
// option is judged by the program's own handler, whose text is told the same way.
//
// Not thread-safe: getopt_long keeps its state in globals (optind, optarg, optopt, opterr).
// The programs parse once at start-up on the main thread; every parse starts getopt afresh
// (optind = 0), so tests may parse any number of times, from one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::cli {

// One long option of a program. One with a value may be given once; a flag any number of
// times.
struct Option {
    std::string_view name;  // without the leading "--"
    bool takesValue = false;
};

// What a program accepts besides its options.
struct Grammar {
    std::string_view program;  // the name messages start with: "ostrel-record"
    std::span<const Option> options;
    std::size_t maxOperands = 0;  // arguments that are not options; more: "extra operand"
};

// Judges the value of option `name` (empty for a flag) and keeps it; returns what is wrong
// with it (the program's own text, without the program's name), empty when it is right.
using OptionHandler = std::function<std::string(std::string_view name, std::string_view value)>;

struct ParsedArguments {
    bool help = false;                  // --help (or -h) came first: nothing after it was judged
    bool version = false;               // --version came first
    std::vector<std::string> operands;  // in the order given
    std::string error;  // not empty: the whole message for stderr (usageMessage), status 2
};

// Parses `args`, the arguments after the program's name. The first of --help, --version
// and a mistake ends the parse. The real argv is never handed to getopt (it permutes what it
// is given): the arguments are copied first.
ParsedArguments parseArguments(const Grammar &grammar, std::span<const std::string_view> args,
                               const OptionHandler &handle);

// "<program>: <what>" and the line that points to --help: the text of every usage error.
std::string usageMessage(std::string_view program, std::string_view what);

// The text of --version: "<program> 1.3.1".
std::string versionText(std::string_view program);

// The status of every usage error of the three programs.
inline constexpr int kUsageStatus = 2;

}  // namespace ostrel::cli
