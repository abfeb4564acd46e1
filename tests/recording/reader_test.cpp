// Reading a log file back: header and separator detection, line ends, records split
// between reads, and every malformed input refused with its line and nothing lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording_reader.h"
#include "recording/recording_reader_testing.h"
#include "recording_test_support.h"
#include "support/process_counters.h"

namespace ostrel::recording {
namespace {

using ostrel::test::descriptorCount;
using test::ScratchDirectory;

// What reading a whole file gave.
struct Outcome {
    RecordingHeader header;
    std::vector<uint16_t> words;
    std::optional<ReadError> error;
    uint64_t records = 0;
};

class ReaderTest : public ::testing::Test {
  protected:
    void TearDown() override { testing::setReaderChunkBytes(0); }

    // Reads `content` from a file with the reader (`chunk` bytes a read, 0: the default)
    // in batches of `batch` records, and checks that parseRecording of the same bytes
    // agrees.
    Outcome read(std::string_view content, std::size_t chunk = 0, std::size_t batch = 64) {
        test::writeFile(path(), content);
        testing::setReaderChunkBytes(chunk);
        const int descriptors = descriptorCount();
        Outcome outcome;
        {
            RecordingReader reader(path());
            outcome.header = reader.header();
            const std::size_t words = reader.wordsPerRecord();
            std::vector<uint16_t> buffer(batch * std::max<std::size_t>(words, 1));
            while (const std::size_t count = reader.nextRecords(buffer)) {
                outcome.words.insert(outcome.words.end(), buffer.begin(),
                                     buffer.begin() + std::ptrdiff_t(count * words));
            }
            EXPECT_EQ(reader.nextRecords(buffer), 0u);  // the end (or the error) stays
            outcome.error = reader.error();
            outcome.records = reader.recordsRead();
            EXPECT_EQ(reader.line(), words == 0 ? 0 : 2 + reader.recordsRead());
            EXPECT_EQ(outcome.words.size(), outcome.records * words);
        }
        EXPECT_EQ(descriptorCount(), descriptors) << "the reader left its file open";

        ParsedRecording parsed = parseRecording(content, path());
        EXPECT_EQ(parsed.words, outcome.words);
        EXPECT_EQ(parsed.header.columns, outcome.header.columns);
        const auto told = [](const std::optional<ReadError> &e) {
            return e ? e->message() + (e->truncated ? " (truncated)" : "") : "";
        };
        EXPECT_EQ(told(parsed.error), told(outcome.error));
        return outcome;
    }

    std::string path() const { return dir_.file("r.dat"); }
    // "<file>: line <n>: <what>" for this test's file.
    std::string at(uint64_t line, std::string_view what) const {
        return path() + ": line " + std::to_string(line) + ": " + std::string(what);
    }

    ScratchDirectory dir_;
};

constexpr std::string_view kEightColumns =
    "Time-Base: 159.38us,,,,,,,\r\nCh1,Ch2,Ch3,Ch4,Ch5,Ch6,Ch7,Ch8\r\n";

std::string eightChannel(std::string_view records) {
    return std::string(kEightColumns) + std::string(records);
}

// Header and records as written ---------------------------------------------------------------

// CR LF or LF, comma or tab give the same words; one column takes its separator from line 1,
// else ','; the header alone is an empty recording.
TEST_F(ReaderTest, LineEndsSeparatorsOneColumnAndTheHeaderAlone) {
    const auto four = [](char sep, std::string_view end) {
        // '|' stands for the separator, '\n' for the line end.
        std::string text = "Time-Base: 19.92us|||\nCh1|Ch2|Ch 3|-\n0|065535|7|12345\n1|2|3|4\n";
        std::replace(text.begin(), text.end(), '|', sep);
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += end.size())
            text.replace(at, 1, end);
        return text;
    };
    const std::vector<std::string> fourColumns = {"Ch1", "Ch2", "Ch 3", "-"};
    const std::vector<uint16_t> fourWords = {0, 65535, 7, 12345, 1, 2, 3, 4};
    const struct {
        std::string content;
        char separator;
        std::vector<std::string> columns;
        std::vector<uint16_t> words;
    } cases[] = {
        {four(',', "\r\n"), ',', fourColumns, fourWords},
        {four('\t', "\r\n"), '\t', fourColumns, fourWords},
        {four(',', "\n"), ',', fourColumns, fourWords},
        {four('\t', "\n"), '\t', fourColumns, fourWords},
        {"Time-Base: 5us\r\nCh1\r\n1\r\n2\r\n", ',', {"Ch1"}, {1, 2}},
        {"Time-Base: 5us\t\r\nonly\r\n3\r\n", '\t', {"only"}, {3}},
        {std::string(kEightColumns),
         ',',
         {"Ch1", "Ch2", "Ch3", "Ch4", "Ch5", "Ch6", "Ch7", "Ch8"},
         {}},
    };
    for (const auto &c : cases) {
        const Outcome o = read(c.content);
        EXPECT_FALSE(o.error) << c.content;
        EXPECT_EQ(o.header.separator, c.separator);
        EXPECT_EQ(o.header.columns, c.columns);
        EXPECT_EQ(o.words, c.words);
    }
    EXPECT_EQ(read(four(',', "\n")).header.timeBaseMicros, 19.92);
}

// // Reads of any size ---------------------------------------------------------------------------

std::string manyRecords(int records, std::vector<uint16_t> &words) {
    std::string text(kEightColumns);
    uint32_t value = 1;
    for (int r = 0; r < records; ++r) {
        for (int k = 0; k < 8; ++k) {
            value = value * 1103515245u + 12345u;
            const uint16_t word = uint16_t(value >> 16);
            words.push_back(word);
            text += std::to_string(word);
            text += k < 7 ? "," : (r % 3 == 0 ? "\n" : "\r\n");
        }
    }
    return text;
}

// Every split of records (and of an error after five) between reads of 1 to 64 bytes, and a
// file of several default reads.
TEST_F(ReaderTest, RecordsAndErrorsSplitAtEveryByteBetweenReads) {
    std::vector<uint16_t> expected;
    const std::string text = manyRecords(40, expected);
    std::vector<uint16_t> ignored;
    const std::string bad = manyRecords(5, ignored) + "1,2,3,4,5,6,7,x8\r\n1,2,3,4,5,6,7,8\r\n";
    for (std::size_t chunk = 1; chunk <= 64; ++chunk) {
        const Outcome o = read(text, chunk, 1 + chunk % 5);
        EXPECT_FALSE(o.error) << chunk << ": " << o.error->message();
        ASSERT_EQ(o.words, expected) << "chunk " << chunk;
        const Outcome e = read(bad, chunk, 2);
        ASSERT_TRUE(e.error) << chunk;
        EXPECT_EQ(e.error->message(), at(8, "column 8 (Ch8): expected a number, found \"x8\""));
        EXPECT_EQ(e.records, 5u) << chunk;
    }
    expected.clear();
    const std::string large = manyRecords(60'000, expected);  // about 2.7 MB
    ASSERT_GT(large.size(), 2u << 20);
    const Outcome o = read(large, 0, 4096);
    EXPECT_FALSE(o.error);
    EXPECT_EQ(o.words, expected);
}

TEST_F(ReaderTest, ASpanSmallerThanARecordReadsNothing) {
    test::writeFile(path(), eightChannel("1,2,3,4,5,6,7,8\r\n"));
    RecordingReader reader(path());
    std::vector<uint16_t> small(7);
    EXPECT_EQ(reader.nextRecords(small), 0u);
    std::vector<uint16_t> oneAndAHalf(12);
    EXPECT_EQ(reader.nextRecords(oneAndAHalf), 1u);
    EXPECT_EQ(oneAndAHalf[7], 8);
    EXPECT_FALSE(reader.error());
}

// Malformed records ---------------------------------------------------------------------------

// A bad record names its line, column and what was found, and the record before it is kept.
// A last record cut short is a truncation and never used; what no further byte could mend
// is an error of its own. A record that ends its line is followed by a good one.
TEST_F(ReaderTest, BadAndTruncatedRecordsNameLineColumnAndWhatWasFound) {
    const struct {
        std::string_view record;
        std::string_view what;
        bool truncated = false;
    } cases[] = {
        {"9", "the file ends inside this record (1 of 8 words, no line end)", true},
        {"9,10,1", "the file ends inside this record (3 of 8 words, no line end)", true},
        {"9,10,", "the file ends inside this record (3 of 8 words, no line end)", true},
        {"9,10,11,12,13,14,15,16", "the file ends inside this record (no line end)", true},
        {"9,10,11,12,13,14,15,16\r", "the file ends inside this record (no line end)", true},
        {"9,10,11,12,13,14,15,6553", "the file ends inside this record (no line end)", true},
        {"9,10,70000", "column 3 (Ch3): word 70000 is over 65535"},
        {"1,2,3,4,5,6,7,8,9", "expected 8 words, found 9"},
        {"1,2,3,4,5,6,7\r\n", "expected 8 words, found 7"},
        {"1,2,3,4,5,6,7,8,9\r\n", "expected 8 words, found 9"},
        {"1,2,70000,4,5,6,7,8\r\n", "column 3 (Ch3): word 70000 is over 65535"},
        {"1,2,3,4,5,6,7,65536\r\n", "column 8 (Ch8): word 65536 is over 65535"},
        {"1,2,3,4,5,6,7,99999999999999999999\r\n",
         "column 8 (Ch8): word 99999999999999999999 is over 65535"},
        {"1,-2,3,4,5,6,7,8\r\n", "column 2 (Ch2): expected a number, found \"-2\""},
        {"1, 2,3,4,5,6,7,8\r\n", "column 2 (Ch2): expected a number, found \" 2\""},
        {"1,,3,4,5,6,7,8\r\n", "column 2 (Ch2): expected a number, found nothing"},
        {"1\t2\t3\t4\t5\t6\t7\t8\r\n",
         "column 1 (Ch1): expected a number, found "
         "\"1\\x092\\x093\\x094\\x095\\x096\\x097\\x098\""},
        {"1,2,3,4,5,6,7,8\r\r\n", "column 8 (Ch8): expected a number, found \"8\\x0d\""},
        {"\r\n", "empty line, expected 8 words"},
        {"\n", "empty line, expected 8 words"},
        {"1,2,3,4,5,6,7,8,\r\n", "column 9: expected a number, found nothing"},
    };
    for (const auto &c : cases) {
        const std::string after = c.record.ends_with('\n') ? "1,2,3,4,5,6,7,8\r\n" : "";
        const Outcome o =
            read(eightChannel("1,2,3,4,5,6,7,8\r\n" + std::string(c.record) + after), 7);
        ASSERT_TRUE(o.error) << c.record;
        EXPECT_EQ(o.error->truncated, c.truncated) << c.record;
        EXPECT_EQ(o.error->message(), at(4, c.what));
        EXPECT_EQ(o.words, (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    }
}

// Words of every length (leading zeros too), and the bytes just outside '0'..'9' ('/', ':',
// bytes with the top bit) before or after the digits, first and last in a record.
TEST_F(ReaderTest, WordsOfEveryLengthAndTheBytesBesideTheDigits) {
    const std::pair<std::string_view, uint16_t> words[] = {
        {"7", 7},         {"10", 10},   {"655", 655},         {"6553", 6553},
        {"65535", 65535}, {"00000", 0}, {"000065535", 65535}, {"0000000000012", 12}};
    const std::string_view over[] = {"65536", "99999", "0065536"};
    const std::string_view notNumbers[] = {
        "1/", "1:", "/1", "12345:", "1\x80", "6553\xff", "\2711", "12\xba"};
    for (const std::size_t column : {std::size_t{0}, std::size_t{7}}) {
        // The record with `field` in `column`, and one after it.
        const auto readWith = [&](std::string_view field) {
            std::string record = "1,2,3,4,5,6,7,8";
            record.replace(2 * column, 1, field);
            return read(eightChannel(record + "\r\n8,7,6,5,4,3,2,1\r\n"));
        };
        for (const auto &[field, word] : words) {
            const Outcome o = readWith(field);
            ASSERT_FALSE(o.error) << field << ": " << o.error->message();
            EXPECT_EQ(o.words[column], word) << field;
            EXPECT_EQ(o.records, 2u);
        }
        const std::string n = std::to_string(column + 1);
        const std::string at3 = at(3, "column " + n + " (Ch" + n + ")");
        for (const std::string_view field : over) {
            const Outcome o = readWith(field);
            ASSERT_TRUE(o.error) << field;
            EXPECT_EQ(o.error->message(), at3 + ": word " + std::string(field) + " is over 65535");
        }
        for (const std::string_view field : notNumbers) {
            const Outcome o = readWith(field);
            ASSERT_TRUE(o.error) << field;
            EXPECT_EQ(o.error->message().find(at3 + ": expected a number"), 0u)
                << o.error->message();
        }
    }
}

// Files that are not recordings ---------------------------------------------------------------

TEST_F(ReaderTest, ForeignAndBrokenHeadersAreNamed) {
    const std::string foreign = "1:expected \"Time-Base: <\xC2\xB5s>us\", found ";
    const std::string positive =
        "1:expected the time base as a positive number of \xC2\xB5s followed by \"us\", found ";
    const std::string endsInside = "the file ends inside the header (no line end after ";
    const struct {
        std::string content;
        std::string what;  // of line 1 unless it starts with "2:"
    } cases[] = {
        {"", "1:the file is empty"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
         foreign + "\"\\x89PNG\": not a recording"},
        {"hello, world\nsecond line\n", foreign + "\"hello, world\": not a recording"},
        {"Time-Base: -5us\r\nCh1\r\n", positive + "\"-5us\""},
        {"Time-Base: 159.38\r\nCh1\r\n", positive + "\"159.38\""},
        {"Time-Base: 159.38us,\t\r\nCh1,Ch2\r\n", "1:unexpected \",\\x09\" after the time base"},
        {"Time-Base: 159.38us,\r\nCh1\tCh2\r\n",
         "1:the separators after the time base are commas, but line 2 is separated by tabs"},
        {"Time-Base: 159.38us", "1:" + endsInside + "\"Time-Base: 159.38us\")"},
        {"Time-Base: 159.38us\r\n\r\n1\r\n", "2:no column names"},
        {"Time-Base: 159.38us,\r\nCh1,Ch2", "2:" + endsInside + "\"Ch1,Ch2\")"},
        {std::string(3 << 20, '\x07'), "1:no line end within 65536 bytes: not a recording"},
    };
    for (const auto &c : cases) {
        const Outcome o = read(c.content);
        ASSERT_TRUE(o.error) << c.what;
        const uint64_t line = c.what[0] == '2' ? 2 : 1;
        EXPECT_EQ(o.error->message(), at(line, c.what.substr(2)));
        EXPECT_EQ(o.header.columns.size(), 0u);
        EXPECT_TRUE(o.words.empty());
    }
}

}  // namespace
}  // namespace ostrel::recording
