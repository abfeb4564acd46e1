// ostrel-convert's run once its command line is read: where the type comes from, output to
// stdout or a file, and the exit status of every kind of problem.
#include "recording/convert_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "recording/recording_description.h"
#include "recording_test_support.h"

namespace ostrel::recording {
namespace {

using test::ScratchDirectory;

constexpr int kFourChannels = 0;  // 4ch

constexpr std::string_view kRecording =
    "Time-Base: 79.69us,,,\r\nCh1,Ch2,Ch3,Ch4\r\n0,65535,32768,1\r\n65520,0,32752,2\r\n";
constexpr std::string_view kTable =
    "Time [s],Ch1 [%],Ch2 [%],Ch3 [%],Ch4 [%]\n"
    "0,-100,100,0.024420025,-100\n"
    "0.00008,100,-100,-0.024420025,-100\n";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome run(const ConvertOptions &options) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runConvert(options, out, err);
    return {status, out.str(), err.str()};
}

// A description of a recording of 4 channels.
std::string described(int typeIndex, double timeBaseMicros = 79.6875,
                      std::vector<LogGap> gaps = {}) {
    RecordingDescription d;
    d.programVersion = "1.3.1";
    d.typeIndex = typeIndex;
    d.timeBaseMicros = timeBaseMicros;
    d.channelCount = 4;
    d.gaps = std::move(gaps);
    return describeAsJson(d);
}

class ConvertCommand : public ::testing::Test {
  protected:
    ConvertCommand() { test::writeFile(recording_, kRecording); }
    void describe(std::string_view json) const { test::writeFile(description_, json); }

    ScratchDirectory dir_;
    const std::string recording_ = dir_.file("jex-log-07122026093000.dat");
    const std::string description_ = descriptionPathFor(recording_);
};

// 122 cycles left out after the first record (8192 records of 4 channels each): the second
// record is record 999 425 of the measurement, at 999 425 x 79.6875 us exactly (the
// header's 79.69 would put it 2.5 ms late), and the summary says where.
TEST_F(ConvertCommand, RecordsAfterAGapAreAtTheirTrueTime) {
    describe(described(0, 79.6875, {{1, 122}}));
    const Outcome table = run({.recording = recording_, .units = Units::raw});
    ASSERT_EQ(table.status, kConvertOk) << table.err;
    // The description counts no cycle (a recording killed before it caught up): the file's
    // records are converted, and the difference is told.
    EXPECT_EQ(table.err, "ostrel-convert: note: " + description_ +
                             " counts 0 cycles (0 records), the recording holds 2 records; the "
                             "recording's records are converted\n");
    EXPECT_EQ(table.out, "Time [s],Ch1,Ch2,Ch3,Ch4\n0,0,65535,32768,1\n79.64168,65520,0,32752,2\n");
    const Outcome summary = run({.recording = recording_, .summary = true});
    EXPECT_NE(summary.out.find("time base: 79.6875 us\nrecords: 2\nduration: 79.641759 s\n"
                               "cycles: 0.000244140625\n"
                               "gaps: 1 (122 cycles left out)\ngap: after record 1: 122 cycles\n"),
              std::string::npos)
        << summary.out;
}

// Where the type comes from (--type wins over the description), and what ends a conversion
// with which status: `err` is part of what is told, `table` whether the table is written.
TEST_F(ConvertCommand, TheTypeFromTheOptionOrTheDescriptionAndEveryProblemsStatus) {
    const std::string notes = dir_.file("notes.txt");
    test::writeFile(notes, "shopping list\n");
    const std::string absent = dir_.file("absent.dat");
    const std::string broken = "{\n  \"version\": \n";
    const auto none = std::nullopt;
    const struct {
        std::string description;  // "": none
        std::optional<int> type;
        int status;
        bool table;
        std::string err;
        std::string recording = {};  // "": the one of 4 channels
    } cases[] = {
        {"", none, kConvertUsage, false,
         "no telemetry type: " + description_ + " does not exist; give --type TYPE"},
        {"", kFourChannels, kConvertOk, true, ""},
        {described(0), none, kConvertOk, true, ""},
        {described(1), kFourChannels, kConvertOk, true, "note: --type 4ch overrides the type of"},
        {described(1), none, kConvertMalformed, false,
         "the recording has 4 columns, but type \"8 Channel\" (8ch) has 8 words per record"},
        {"", 4, kConvertMalformed, false,
         "but type \"Steering Personal Car 100 Nm\" (steer-car-100) has 32 words per record"},
        {broken, none, kConvertMalformed, false, description_ + ": line 3: "},
        {broken, kFourChannels, kConvertOk, true, ""},
        {described(0, 80.5), none, kConvertOk, true,
         "note: the time base of " + description_ +
             " (80.5 us) does not fit the recording's (79.69 us); 79.6875 us is used\n"},
        {described(12), none, kConvertMalformed, false,
         "telemetry type index 12 is not a known type"},
        {"", kFourChannels, kConvertFileError, false,
         "ostrel-convert: " + absent + ": No such file or directory\n", absent},
        {"", kFourChannels, kConvertMalformed, false, notes + ": line 1: expected \"Time-Base",
         notes},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description + (c.type ? " with a type" : "") + " " + c.recording);
        std::filesystem::remove(description_);
        if (!c.description.empty()) describe(c.description);
        const Outcome r =
            run({.recording = c.recording.empty() ? recording_ : c.recording, .type = c.type});
        EXPECT_EQ(r.status, c.status);
        if (c.err.empty() && c.description.empty()) {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, c.table ? kTable : "");
    }
}

// (The raw table: RecordsAfterAGapAreAtTheirTrueTime.)
TEST_F(ConvertCommand, ARawSummary) {
    const Outcome summary =
        run({.recording = recording_, .type = kFourChannels, .units = Units::raw, .summary = true});
    EXPECT_EQ(summary.status, kConvertOk);
    EXPECT_EQ(summary.out,
              "recording: " + recording_ +
                  "\ntype: 4 Channel (4ch)\nunits: raw\ntime base: 79.6875 us\nrecords: 2\n"
                  "duration: 0.000159 s\ncycles: 0.000244140625\ngaps: none\nmarkers: none\n"
                  "column,count,min,max,mean\nCh1,2,0,65520,32760\nCh2,2,0,65535,32767.5\n"
                  "Ch3,2,32752,32768,32760\nCh4,2,1,2,1.5\n");
}

// A FIFO named like the recording or its description is refused at once, naming it, never
// waited for (opened for reading, it would block until a writer comes).
TEST_F(ConvertCommand, AFifoIsRefusedAtOnceNotWaitedFor) {
    const std::string fifo = dir_.file("jex-log-08122026093000.dat");
    ASSERT_EQ(::mkfifo(description_.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        ConvertOptions options;
        std::string fifo;
        std::string err;  // "": converted
    } cases[] = {
        {{.recording = fifo, .type = kFourChannels}, fifo, fifo},
        {{.recording = recording_}, description_, description_},
        {{.recording = recording_, .type = kFourChannels}, description_, ""},  // not needed
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options.recording + (c.options.type ? " with a type" : ""));
        Outcome r;
        EXPECT_TRUE(test::returnsAtOnce(c.fifo, [&] { r = run(c.options); }));
        EXPECT_EQ(r.status, c.err.empty() ? kConvertOk : kConvertFileError);
        EXPECT_EQ(r.err,
                  c.err.empty() ? "" : "ostrel-convert: " + c.err + ": not a regular file\n");
        EXPECT_EQ(r.out, c.err.empty() ? std::string(kTable) : "");
    }
}

TEST_F(ConvertCommand, ATruncatedRecordingGivesEveryWholeRecordBeforeIt) {
    test::writeFile(recording_, std::string(kRecording) + "65535,65535,6");
    const Outcome r = run({.recording = recording_, .type = kFourChannels});
    EXPECT_EQ(r.status, kConvertMalformed);
    EXPECT_EQ(r.out, kTable);
    EXPECT_EQ(r.err, "ostrel-convert: " + recording_ +
                         ": line 5: the file ends inside this record (3 of 4 words, no line "
                         "end)\nostrel-convert: the output holds the 2 whole records before it\n");

    const std::string out = dir_.file("out.csv");
    EXPECT_EQ(run({.recording = recording_, .type = kFourChannels, .outPath = out}).status,
              kConvertMalformed);
    EXPECT_EQ(test::readFile(out), kTable);
}

// What becomes of what --out names: a file, or none, is replaced by the whole table; a link's
// target is (a dangling link's is made), the link stays; a FIFO and a character device are
// written in place and stay what they are, and so is a descriptor of the process (added to);
// anything else is refused with nothing created.
TEST_F(ConvertCommand, EveryKindOfOutputAndNeverTheInput) {
    test::writeFile(dir_.file("old.csv"), "old\n");
    test::writeFile(dir_.file("target.csv"), "old\n");
    test::writeFile(dir_.file("opened.csv"), "head\n");
    ASSERT_EQ(::symlink("target.csv", dir_.file("link.csv").c_str()), 0);
    ASSERT_EQ(::symlink("made.csv", dir_.file("dangling.csv").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir_.file("out.fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir_.file("sub").c_str(), 0700), 0);
    // The FIFO's reader, there before the writer; the table fits the pipe's buffer.
    const int reader = ::open(dir_.file("out.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int opened = ::open(dir_.file("opened.csv").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_TRUE(reader >= 0 && opened >= 0);
    const std::string sub = dir_.file("sub");
    const struct {
        std::string out;           // in the directory unless absolute
        mode_t kind;               // what it is afterwards (lstat)
        std::string written = {};  // the file that holds the table afterwards, after `head`
        std::string head = {};
        std::string err = {};  // "": converted
    } cases[] = {
        {"old.csv", S_IFREG, "old.csv"},
        {"new.csv", S_IFREG, "new.csv"},
        {"link.csv", S_IFLNK, "target.csv"},
        {"dangling.csv", S_IFLNK, "made.csv"},
        {"out.fifo", S_IFIFO},
        {"/dev/fd/" + std::to_string(opened), S_IFLNK, "opened.csv", "head\n"},
        {"/dev/null", S_IFCHR},
        {"/dev/full", S_IFCHR, {}, {}, "/dev/full: cannot write: No space left on device"},
        {"sub",
         S_IFDIR,
         {},
         {},
         sub + ": a directory; --out takes a regular file, a FIFO or a character device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out);
        const std::string out = c.out.starts_with('/') ? c.out : dir_.file(c.out);
        const Outcome r = run({.recording = recording_, .type = kFourChannels, .outPath = out});
        EXPECT_EQ(r.status, c.err.empty() ? kConvertOk : kConvertFileError);
        EXPECT_EQ(r.err, c.err.empty() ? "" : "ostrel-convert: " + c.err + "\n");
        EXPECT_EQ(r.out, "");
        struct stat after {};
        ASSERT_EQ(::lstat(out.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, c.kind);
        if (!c.written.empty()) {
            EXPECT_EQ(test::readFile(dir_.file(c.written)), c.head + std::string(kTable));
        }
    }
    char piped[4096];
    const ssize_t length = ::read(reader, piped, sizeof piped);
    EXPECT_EQ(std::string(piped, std::size_t(std::max<ssize_t>(length, 0))), kTable);
    ::close(reader);
    ::close(opened);
    EXPECT_EQ(dir_.entries(),
              (std::vector<std::string>{"dangling.csv", "jex-log-07122026093000.dat", "link.csv",
                                        "made.csv", "new.csv", "old.csv", "opened.csv", "out.fifo",
                                        "sub", "target.csv"}));
    EXPECT_TRUE(std::filesystem::is_empty(sub));

    // Never the input, also by another name.
    describe(described(0));
    for (const std::string &input :
         {recording_, description_, dir_.path() + "/./jex-log-07122026093000.dat"}) {
        const std::string before = test::readFile(input);
        const Outcome refused = run({.recording = recording_, .outPath = input});
        EXPECT_EQ(refused.status, kConvertUsage) << input;
        EXPECT_NE(refused.err.find("would overwrite the input"), std::string::npos);
        EXPECT_EQ(test::readFile(input), before);
    }
    const Outcome nowhere =
        run({.recording = recording_, .type = kFourChannels, .outPath = dir_.file("no/such.csv")});
    EXPECT_EQ(nowhere.status, kConvertFileError);
    EXPECT_NE(nowhere.err.find("No such file or directory"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("no")));
}

TEST_F(ConvertCommand, AFailingStandardOutputIsAFileError) {
    std::ostream broken(nullptr);  // every write fails
    std::ostringstream err;
    EXPECT_EQ(runConvert({.recording = recording_, .type = kFourChannels}, broken, err),
              kConvertFileError);
    EXPECT_NE(err.str().find("standard output"), std::string::npos);
}

// The markers of the description: on the records they fall on in the table (the label, or the
// number; two on one record joined by ';', quoted as a CSV field must be), one past the last
// record told; the summary lists them all.
TEST_F(ConvertCommand, MarkersAreOnTheirRecordsAndListedInTheSummary) {
    RecordingDescription d = *parseDescription(described(kFourChannels)).description;
    d.markers = {{1, 1, 0.0000796875, "2026-12-08T09:30:01.250+01:00", "curve, left"},
                 {2, 1, 0.0000796875, "2026-12-08T09:30:01.300+01:00", ""},
                 {3, 2, 0.000159375, "2026-12-08T09:30:02.000+01:00", "late"}};
    describe(describeAsJson(d));
    const Outcome table = run({.recording = recording_, .units = Units::raw});
    ASSERT_EQ(table.status, kConvertOk) << table.err;
    EXPECT_EQ(table.out,
              "Time [s],Ch1,Ch2,Ch3,Ch4,Marker\n0,0,65535,32768,1,\n"
              "0.00008,65520,0,32752,2,\"curve, left;2\"\n");
    EXPECT_NE(table.err.find("ostrel-convert: note: marker 3 falls on record 2, after the last "
                             "record (2): the table leaves it out\n"),
              std::string::npos)
        << table.err;
    const Outcome summary = run({.recording = recording_, .summary = true});
    EXPECT_NE(summary.out.find("markers: 3\n"
                               "marker 1: record 1, 0.00008 s, 2026-12-08T09:30:01.250+01:00: "
                               "curve, left\n"
                               "marker 2: record 1, 0.00008 s, 2026-12-08T09:30:01.300+01:00\n"
                               "marker 3: record 2, 0.000159 s, 2026-12-08T09:30:02.000+01:00: "
                               "late\n"),
              std::string::npos)
        << summary.out;
}

}  // namespace
}  // namespace ostrel::recording
