#include "app/convert_options.h"

#include "app/option_parser.h"
#include "recording/type_names.h"
#include "telemetry/tables.h"

namespace ostrel::convert {

namespace {

constexpr std::string_view kProgram = "ostrel-convert";
constexpr cli::Option kOptions[] = {
    {"type", true}, {"units", true}, {"out", true}, {"summary", false}, {"format", true}};

constexpr std::string_view kUsage =
    R"(Usage: ostrel-convert RECORDING [--type TYPE] [--units UNITS] [--out FILE] [--summary]
                      [--format csv|mat|hdf5]

Converts an Ostrel recording (a jex-log-*.dat log file of raw words) to CSV, to
a MATLAB or an HDF5 file, or summarises it.

  RECORDING       the log file
  --type TYPE     its telemetry type. Without it the type is taken from the
                  description beside the recording (the same name with .json for
                  .dat); with both, --type wins. TYPE is a short name
                    4ch 8ch 16ch 32ch
                    steer-car-100 steer-car-200   (Steering Personal Car 100/200 Nm)
                    steer-com-100 steer-com-200   (Steering Commercial 100/200 Nm)
                    steer-mod-100 steer-mod-200   (Steering Module 100/200 Nm)
                  or the type's text as the window lists it ("8 Channel",
                  "Steering Module 200 Nm"), in any case
  --units UNITS   physical (the default): for steering types Nm, deg, deg/s, g,
                            deg/s^2, the values the window shows; for plain
                            types percent, as the window shows them
                  percent   percent of full scale, -100..+100, for every type
                  raw       the logged words, 0..65535
  --out FILE      write to FILE instead of standard output. A regular file (or
                  a new one) is replaced only once it is complete; a symbolic
                  link's target is, and the link stays. A FIFO or a character
                  device (a pipe, /dev/stdout, /dev/null) is written in place,
                  and so is the program's own descriptor (/dev/fd/N) of a file.
                  A directory, a block device or a socket is refused. FILE is
                  never the recording itself or its description. Interrupted
                  (Ctrl-C, SIGTERM, SIGHUP) or over a file size limit, the
                  conversion leaves FILE as it was and no temporary file behind
  --summary       instead of the table: records, duration, cycles, and for every
                  column its count, minimum, maximum and mean (CSV only)
  --format FORMAT csv (the default): the table as text
                  mat       a MATLAB 7.3 file: one column vector per column (double;
                            raw words uint16) named after it ("Ch3", "Angle_low_2"),
                            "time" in seconds, the cells "channel_names",
                            "channel_units" and "channel_variables", the struct
                            "markers" and the struct "description"
                  hdf5      an HDF5 file: one compressed dataset per column (float32,
                            the values exactly; raw words uint16) and "time"
                            (seconds), each with its "name" and "unit" attributes, the
                            tables "markers" and "gaps", the description's fields
                            as attributes of the root group
                  mat and hdf5 need --out FILE, a regular file (or a new one)
  --help          this text
  --version       the program's version

The table is CSV with '.' as the decimal point: "Time [s]" (record index x time
base, in seconds to the microsecond; records after cycles the description says
were left out at their true time), then one column per word of the record. The
time base is the description's exact one, else the link's sample period that
the recording's rounded "Time-Base" stands for. Steering types name the words by
their quantity and unit and leave out the placeholder words ("-" in the log file).
The mat and hdf5 files hold the same values, the time unrounded. MATLAB loads
the mat file (load); Octave and SciPy's loadmat do not read MAT 7.3: read the
hdf5 file with h5py or pandas instead.

Exit status:
  0  done
  2  bad options, or no telemetry type (no --type and no description); also
     --format mat or hdf5 without --out, or with an --out that is not a
     regular file (a terminal, a pipe, /dev/stdout)
  3  a malformed recording (a foreign file, a bad or truncated record), a type
     whose words per record differ from the recording's columns, or a malformed
     description; the output then holds every whole record before the problem
  4  a file that cannot be read or written (also "File too large" over a file
     size limit, and an --out that is refused), or a recording or description
     that is not a regular file (a FIFO is refused at once, not waited for)
)";

std::string typeNames() {
    std::string names;
    for (int type = 0; type < telemetry_type_count; ++type) {
        if (type > 0) names += ", ";
        names += recording::shortTypeName(type);
    }
    return names;
}

// Keeps the value of option `name` (one of kOptions); what is wrong with it, or empty.
std::string applyOption(std::string_view name, std::string_view value,
                        recording::ConvertOptions &options) {
    if (name == "type") {
        options.type = recording::telemetryTypeFromName(value);
        if (!options.type) {
            return "unknown type '" + std::string(value) + "'; known: " + typeNames() +
                   ", or a type's text (\"8 Channel\")";
        }
    } else if (name == "units") {
        const std::optional<recording::Units> units = recording::unitsFromName(value);
        if (!units) return "unknown units '" + std::string(value) + "' (raw, percent or physical)";
        options.units = *units;
    } else if (name == "format") {
        const std::optional<recording::Format> format = recording::formatFromName(value);
        if (!format) return "unknown format '" + std::string(value) + "' (csv, mat or hdf5)";
        options.format = *format;
    } else if (name == "out") {
        if (value.empty()) return "--out needs a file name";
        options.outPath = std::string(value);
    } else {
        options.summary = true;
    }
    return {};
}

}  // namespace

ParsedOptions parseConvertOptions(std::span<const std::string_view> args) {
    ParsedOptions result;
    const cli::Grammar grammar{kProgram, kOptions, 1};
    const cli::ParsedArguments parsed = cli::parseArguments(
        grammar, args, [&result](std::string_view name, std::string_view value) {
            return applyOption(name, value, result.options);
        });
    result.help = parsed.help;
    result.version = parsed.version;
    result.error = parsed.error;
    if (result.help || result.version || !result.error.empty()) return result;
    const std::string format(recording::formatName(result.options.format));
    if (parsed.operands.empty()) {
        result.error = cli::usageMessage(kProgram, "no recording given");
    } else if (result.options.summary && result.options.format != recording::Format::csv) {
        result.error = cli::usageMessage(
            kProgram, "--summary writes text; it does not go with --format " + format);
    } else if (!result.options.outPath && result.options.format != recording::Format::csv) {
        result.error = cli::usageMessage(
            kProgram, "--format " + format + " writes a binary file: give --out FILE");
    } else {
        result.options.recording = parsed.operands.front();
    }
    return result;
}

std::string convertUsage() {
    return std::string(kUsage);
}

std::string convertVersion() {
    return cli::versionText(kProgram);
}

}  // namespace ostrel::convert
