// The command lines of the three programs: one parser (the same mistake in the same words, long
// options taken alike), each program's own values and refusals, and their statuses as processes.
#include "app/command_line.h"

#include "../recording/recording_test_support.h"
#include "app/convert_options.h"
#include "app/record_options.h"
#include "process_support.h"
#include "recording/type_names.h"
#include "support/file_size_limit.h"

namespace ostrel {
namespace {

using Args = std::vector<std::string>;

// What a program made of its command line, in terms common to the three.
struct Outcome {
    std::string error;
    bool help = false;
    bool version = false;
    std::string value = {};    // what the program took for its option `Program::option`
    std::string operand = {};  // ostrel-convert's recording
};

std::string typeName(std::optional<int> type) {
    return type ? std::string(recording::shortTypeName(*type)) : std::string();
}

Outcome window(std::span<const std::string_view> args) {
    const CommandLine line = parseCommandLine(args);
    return {line.error, line.help, line.version, line.replayPath.value_or(""), ""};
}

Outcome recorder(std::span<const std::string_view> args) {
    record::ParsedOptions parsed = record::parseRecordOptions(args);
    if (!parsed.options) return {parsed.error};
    record::RecordOptions &o = *parsed.options;
    if (!o.help && !o.version && !o.list) {
        if (auto problem = record::settleTypeAndSpeed(o, std::nullopt)) return {*problem};
    }
    return {"", o.help, o.version, o.type < 0 ? "" : typeName(o.type), ""};
}

Outcome converter(std::span<const std::string_view> args) {
    const convert::ParsedOptions parsed = convert::parseConvertOptions(args);
    return {parsed.error, parsed.help, parsed.version, typeName(parsed.options.type),
            parsed.options.recording};
}

struct Program {
    std::string name;
    const char *path;    // the executable
    std::string option;  // an option with a value, and a good value of it
    std::string value;
    Args rest;  // what completes a command line with the option
    Outcome (*parse)(std::span<const std::string_view>);
    std::string (*version)();
};

const Args kRecordRest = {"--module", "M", "--speed", "160", "--cycles", "1"};
const Program kWindow{"ostrel", OSTREL_PROGRAM, "--replay", "/r/a.dat", {}, window, versionText};
const Program kRecorder{"ostrel-record", OSTREL_RECORD_PROGRAM, "--type", "8ch", kRecordRest,
                        recorder,        record::recordVersion};
const Program kConverter{"ostrel-convert", OSTREL_CONVERT_PROGRAM, "--type", "8ch", {"r.dat"},
                         converter,        convert::convertVersion};
const Program *const kPrograms[] = {&kWindow, &kRecorder, &kConverter};

// `text` with OPT and VAL replaced by the program's option and value.
std::string expand(const Program &p, std::string text) {
    for (const auto &[mark, by] : {std::pair{"OPT", p.option}, std::pair{"VAL", p.value}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 3, by);
    }
    return text;
}

Outcome parse(const Program &p, const Args &args) {
    Args owned;
    for (const std::string &arg : args) owned.push_back(expand(p, arg));
    const std::vector<std::string_view> views(owned.begin(), owned.end());
    return p.parse(views);
}

std::string usageError(const Program &p, const std::string &what) {
    return p.name + ": " + expand(p, what) + "\nTry '" + p.name +
           " --help' for more information.\n";
}

Args operator+(Args a, const Args &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CommandLines, TheSameMistakeInTheSameWords) {
    const struct {
        Args args;
        std::string what;
    } mistakes[] = {
        {{"--bogus"}, "unrecognized option '--bogus'"},
        {{"--bogus", "OPT", "VAL"}, "unrecognized option '--bogus'"},  // OPT is not its value
        {{"OPT", "VAL", "--bogus=1"}, "unrecognized option '--bogus=1'"},
        {{"OPT"}, "option 'OPT' requires an argument"},
        {{"--help=yes"}, "option '--help' doesn't allow an argument"},
        {{"OPT", "VAL", "OPT=VAL"}, "OPT given twice"},
        {{"--bogus", "--help"}, "unrecognized option '--bogus'"},  // the first decides
    };
    for (const Program *p : kPrograms) {
        for (const auto &m : mistakes) {
            SCOPED_TRACE(p->name + " " + expand(*p, testing::PrintToString(m.args)));
            const Outcome o = parse(*p, p->rest + m.args);
            EXPECT_EQ(o.error, usageError(*p, m.what));
            EXPECT_FALSE(o.help || o.version);
        }
    }
}

TEST(CommandLines, LongOptionsTheWayTheGnuToolsTakeThem) {
    const Args forms[] = {{"OPT", "VAL"}, {"OPT=VAL"}};
    for (const Program *p : kPrograms) {
        SCOPED_TRACE(p->name);
        const std::string prefix = p->option.substr(0, p->option.size() - 1);
        for (const Args &form : forms) {
            for (const Args &args : {form + p->rest, p->rest + form}) {
                const Outcome o = parse(*p, args);
                EXPECT_EQ(o.error, "") << testing::PrintToString(args);
                EXPECT_EQ(o.value, p->value) << testing::PrintToString(args);
            }
        }
        EXPECT_EQ(parse(*p, Args{prefix, "VAL"} + p->rest).value, p->value);
        EXPECT_EQ(parse(*p, Args{prefix + "=VAL"} + p->rest).value, p->value);
        for (const Args &help : {Args{"--help"}, Args{"-h"}, Args{"--he"}, Args{"--help", "-x"}}) {
            const Outcome o = parse(*p, help);
            EXPECT_TRUE(o.help && o.error.empty()) << testing::PrintToString(help) << o.error;
        }
        for (const Args &version : {Args{"--version"}, Args{"--vers", "--bogus"}}) {
            const Outcome o = parse(*p, version);
            EXPECT_TRUE(o.version && !o.help && o.error.empty()) << o.error;
        }
        EXPECT_EQ(p->version(), p->name + " 1.3.1\n");
    }
}

// Each program's own refusals (their texts as before, in the common frame), what it accepts
// that the others do not, and how the arguments that are not options are taken.
TEST(CommandLines, EachProgramsOwnValuesAndOperands) {
    const std::string kSeconds =
        "--seconds must be a number of seconds above 0 and at most a year (31622400)";
    const struct {
        const Program &program;
        Args args;
        std::string what;          // the refusal; empty: accepted
        std::string value = {};    // when accepted
        std::string operand = {};  // when accepted
    } cases[] = {
        // clang-format off
        {kWindow, {"-platform", "offscreen", "--replay", "/r/a.dat"}, "", "/r/a.dat"},
        {kWindow, {"--replay", "/r/a.dat", "-style=fusion", "-reverse"}, "", "/r/a.dat"},
        {kWindow, {"--replay="}, "--replay needs the path of a recording"},
        {kWindow, {"--platform", "offscreen"}, "unrecognized option '--platform'"},
        {kWindow, {"--", "--bogus", "offscreen"}, ""},  // the rest is Qt's
        {kRecorder, {"--bogus", "--seconds", "5"}, "unrecognized option '--bogus'"},
        {kRecorder, {"--s", "1"}, "option '--s' is ambiguous; possibilities: '--speed' '--separator' '--seconds'"},
        {kRecorder, {"-xh"}, "invalid option -- 'x'"},
        {kRecorder, {"stray"}, "extra operand 'stray'"},
        {kRecorder, kRecordRest + Args{"--type", "8ch", "--", "--list"}, "extra operand '--list'"},
        {kRecorder, {"--list", "--list"}, ""},
        {kRecorder, {"--type", "8ch", "--speed", "160", "--cycles", "1"}, "--module is missing (--list shows the modules)"},
        {kRecorder, {"--module", "M", "--speed", "160", "--cycles", "1"}, "--type is missing"},
        {kRecorder, {"--module", "M", "--type", "8ch", "--cycles", "1"}, "--speed is missing"},
        {kRecorder, {"--module", "M", "--type", "8ch", "--speed", "160"}, "give either --seconds or --cycles"},
        {kRecorder, kRecordRest + Args{"--type", "8ch", "--seconds", "1"}, "give either --seconds or --cycles"},
        {kRecorder, {"--type", "9ch"}, "unknown telemetry type \"9ch\" (see --help)"},
        {kRecorder, {"--speed", "100"}, "--speed must be 40, 160, 320 or 640 (kbps)"},
        {kRecorder, kRecordRest + Args{"--type", "steer-mod-100"}, "steering types run at 640 kbps"},
        {kRecorder, {"--cycles", "0"}, "--cycles must be a whole number above 0"},
        {kRecorder, {"--seconds", "-1"}, kSeconds},
        {kRecorder, {"--seconds", "nan"}, kSeconds},
        {kRecorder, {"--seconds", "31622401"}, kSeconds},
        {kRecorder, {"--separator", "semicolon"}, "--separator must be comma or tab"},
        {kRecorder, {"--module="}, "--module needs a module name (--list shows them)"},
        {kRecorder, {"--dir="}, "--dir needs a directory"},
        {kConverter, {}, "no recording given"},
        {kConverter, {"--summary"}, "no recording given"},
        {kConverter, {"x.dat", "y.dat"}, "extra operand 'y.dat'"},
        {kConverter, {"-xh", "x.dat"}, "invalid option -- 'x'"},
        {kConverter, {"--type", "8ch", "--", "-r.dat"}, "", "8ch", "-r.dat"},
        {kConverter, {"-", "--type", "8ch"}, "", "8ch", "-"},
        {kConverter, {"x.dat", "--units", "metric"}, "unknown units 'metric' (raw, percent or physical)"},
        {kConverter, {"x.dat", "--type=9ch"}, "unknown type '9ch'; known: 4ch, 8ch, 16ch, 32ch, steer-car-100, steer-car-200, steer-com-100, steer-com-200, steer-mod-100, steer-mod-200, or a type's text (\"8 Channel\")"},
        {kConverter, {"x.dat", "--out="}, "--out needs a file name"},
        {kConverter, {"x.dat", "--units", "raw", "--units", "raw"}, "--units given twice"},
        {kConverter, {"x.dat", "--format", "xls"}, "unknown format 'xls' (csv, mat or hdf5)"},
        {kConverter, {"x.dat", "--format", "mat"}, "--format mat writes a binary file: give --out FILE"},
        {kConverter, {"x.dat", "--format=hdf5", "--out", "x.h5", "--summary"}, "--summary writes text; it does not go with --format hdf5"},
        // clang-format on
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.program.name + " " + testing::PrintToString(c.args));
        const Outcome o = parse(c.program, c.args);
        EXPECT_EQ(o.error, c.what.empty() ? "" : usageError(c.program, c.what));
        if (!c.what.empty()) continue;
        EXPECT_EQ(o.value, c.value);
        EXPECT_EQ(o.operand, c.operand);
    }
}

TEST(CommandLines, RecordAndConvertKeepTheirValues) {
    const std::vector<std::string_view> recordArgs = {
        "--module", "SIM-8CH", "--type",          "8ch",   "--speed", "160kbps",
        "--cycles", "3",       "--separator=tab", "--dir", "/tmp"};
    record::ParsedOptions r = record::parseRecordOptions(recordArgs);
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(std::tuple(r.options->module, r.options->speedIndex, r.options->separator,
                         r.options->cycles, r.options->directory),
              std::tuple("SIM-8CH", 1, 2, std::optional<uint64_t>(3),
                         std::optional<std::string>("/tmp")));
    const std::vector<std::string_view> steering = {
        "--module=S", "--type", "Steering Commercial 200 Nm", "--seconds", "2.5"};
    r = record::parseRecordOptions(steering);
    ASSERT_TRUE(r.options) << r.error;
    ASSERT_EQ(record::settleTypeAndSpeed(*r.options, std::nullopt), std::nullopt);
    EXPECT_EQ(std::tuple(r.options->type, r.options->speedIndex, r.options->seconds),
              std::tuple(7, 3, std::optional<double>(2.5)))
        << "steering runs at 640 kbps";

    const std::vector<std::string_view> convertArgs = {"--sum", "r.dat", "--units=raw", "--out",
                                                       "t.csv"};
    const convert::ParsedOptions c = convert::parseConvertOptions(convertArgs);
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(std::tuple(c.options.summary, c.options.units, c.options.outPath, c.options.type),
              std::tuple(true, recording::Units::raw, std::optional<std::string>("t.csv"),
                         std::optional<int>()));
}

// The programs themselves: a usage error is status 2 with the message on stderr, --version
// status 0 on stdout, for all three (ostrel answers before it looks for a display).
TEST(CommandLines, TheProgramsEndWithTheirStatus) {
    for (const Program *p : kPrograms) {
        const struct {
            std::string args;
            int status;
            std::string output;
        } runs[] = {
            {"--bogus 2>&1 >/dev/null", 2, usageError(*p, "unrecognized option '--bogus'")},
            {"--version 2>/dev/null", 0, p->version()},
        };
        for (const auto &run : runs) {
            SCOPED_TRACE(p->name + " " + run.args);
            int status = -1;
            EXPECT_EQ(test::commandOutput(std::string(p->path) + " " + run.args, &status),
                      run.output);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == run.status) << status;
        }
    }
}

// ostrel-convert --out FILE ended while it writes (64 MB), by a signal once the temporary file
// is there or by a file size limit (the parameter SIGXFSZ): the temporary file is gone, FILE
// keeps what it held; a signal ends the program as it would, the limit is a write error.
class InterruptedConversion : public testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() {
        directory_ = new recording::test::ScratchDirectory;
        std::ofstream out(directory_->file("big.dat"), std::ios::binary);
        std::string header = "Time-Base: 159.38us\r\nCh1";
        std::string record = "0";
        for (int word = 2; word <= 32; ++word) {
            header += ",Ch" + std::to_string(word);
            record += "," + std::to_string(word * 2039);
        }
        out << header << "\r\n";
        std::string block;
        while (block.size() < (std::size_t{1} << 20)) block += record + "\r\n";
        for (int blocks = 0; blocks < 64; ++blocks) out << block;
    }
    static void TearDownTestSuite() { delete directory_; }

    static recording::test::ScratchDirectory *directory_;
};
recording::test::ScratchDirectory *InterruptedConversion::directory_ = nullptr;

TEST_P(InterruptedConversion, LeavesNoTemporaryFileAndTheTargetAsItWas) {
    using namespace std::chrono_literals;
    const int signalNumber = GetParam();
    const recording::test::ScratchDirectory out;
    const std::string target = out.file("table.csv");
    recording::test::writeFile(target, "old\n");
    pid_t child = -1;
    {  // the child inherits the limit (the test itself writes nothing while it holds)
        const test::FileSizeLimit limit(signalNumber == SIGXFSZ ? rlim_t{1} << 20 : RLIM_INFINITY);
        ASSERT_TRUE(limit.applied());
        child = test::spawnProgram(  // slower than the test on a loaded machine
            {"/usr/bin/nice", "-n", "19", OSTREL_CONVERT_PROGRAM, directory_->file("big.dat"),
             "--type", "32ch", "--out", target},
            {}, "", directory_->file("stderr"));
    }
    ASSERT_GT(child, 0);
    int status = -1;
    bool signalled = signalNumber == SIGXFSZ;
    const auto ended = [&] {
        if (::waitpid(child, &status, WNOHANG) != 0) return true;
        if (!signalled && out.entries().size() > 1) signalled = ::kill(child, signalNumber) == 0;
        return false;
    };
    if (!test::waitFor(ended, 120s, 1ms))
        FAIL() << "ostrel-convert did not end: " << test::waitForEnd(child, 0s);
    const std::string err = test::readFile(directory_->file("stderr"));
    ASSERT_TRUE(signalled) << "the conversion ended before its temporary file was seen";
    if (signalNumber == SIGXFSZ) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == recording::kConvertFileError)
            << status;
        EXPECT_EQ(err, "ostrel-convert: " + target + ": cannot write: File too large\n");
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
        EXPECT_EQ(err, "");
    }
    EXPECT_EQ(out.entries(), std::vector<std::string>{"table.csv"});
    EXPECT_EQ(recording::test::readFile(target), "old\n");
}

INSTANTIATE_TEST_SUITE_P(SignalsAndTheFileSizeLimit, InterruptedConversion,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGXFSZ),
                         [](const testing::TestParamInfo<int> &info) {
                             return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace ostrel
