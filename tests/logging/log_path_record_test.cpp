// The log directory file's record: what is written and how every kind of file
// reads back.
#include "logging/log_path_record.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_directory.h"

namespace ostrel {
namespace {

using namespace std::string_literals;

// --- Writing ---------------------------------------------------------------------

class RecordFile : public ::testing::Test {
  protected:
    TempDirectory temp;
    std::filesystem::path file = temp.path() / "log_path.dat";
};

TEST_F(RecordFile, HoldsThePathAZeroByteAndZeroFillerIn260Bytes) {
    ASSERT_FALSE(writeLogPathFile(file, "/home/op/logs"));
    const std::string bytes = readBytes(file);
    ASSERT_EQ(bytes.size(), 260u);
    EXPECT_EQ(bytes, "/home/op/logs"s + std::string(260 - 13, '\0'));
}

TEST_F(RecordFile, OverwritesAnyEarlierFileToExactly260Bytes) {
    writeBytes(file, std::string(300, 'x'));
    ASSERT_FALSE(writeLogPathFile(file, "/a"));
    EXPECT_EQ(readBytes(file), "/a"s + std::string(258, '\0'));

    ASSERT_FALSE(writeLogPathFile(file, std::string(259, 'p')));
    EXPECT_EQ(readBytes(file), std::string(259, 'p') + '\0');
    ASSERT_FALSE(writeLogPathFile(file, "/b"));
    EXPECT_EQ(readBytes(file), "/b"s + std::string(258, '\0')) << "no tail of the longer path";
}

TEST_F(RecordFile, RefusesAPathThatDoesNotFitAndLeavesTheFile) {
    ASSERT_FALSE(writeLogPathFile(file, "/kept"));
    EXPECT_EQ(writeLogPathFile(file, std::string(260, 'p')),
              std::make_error_code(std::errc::filename_too_long));
    EXPECT_EQ(writeLogPathFile(file, "/a\0b"s), std::make_error_code(std::errc::filename_too_long));
    EXPECT_EQ(readLogPathFile(file), "/kept");
}

TEST_F(RecordFile, ReportsAFileThatCannotBeWritten) {
    std::filesystem::create_directory(file);  // refused even to root
    EXPECT_TRUE(writeLogPathFile(file, "/a"));
    EXPECT_TRUE(writeLogPathFile(temp.path() / "missing" / "log_path.dat", "/a"));
}

// --- Reading ---------------------------------------------------------------------

TEST_F(RecordFile, MissingOrUnreadableFileGivesNothing) {
    EXPECT_EQ(readLogPathFile(file), std::nullopt);
    std::filesystem::create_directory(file);
    EXPECT_EQ(readLogPathFile(file), std::nullopt);
}

TEST(RecordDecoding, PathEndsAtTheFirstZeroByte) {
    EXPECT_EQ(decodeLogPathRecord("/logs\0junk\0"s), "/logs");
    EXPECT_EQ(decodeLogPathRecord("\0/logs"s), "");
    // Another tool's longer file: only the first 260 bytes count.
    EXPECT_EQ(decodeLogPathRecord(std::string(259, 'a') + '\0' + std::string(50, 'b')),
              std::string(259, 'a'));
}

TEST(RecordDecoding, ShortFileWithoutZeroByteIsUsedAsItIs) {
    EXPECT_EQ(decodeLogPathRecord(" /data/logs \r\n"), " /data/logs \r\n");
    EXPECT_EQ(decodeLogPathRecord(std::string(259, 'a')), std::string(259, 'a'));
    EXPECT_EQ(decodeLogPathRecord(""), "") << "an empty file is an empty path";
}

TEST(RecordDecoding, LongFileWithoutZeroByteIsIgnoredNotCut) {
    EXPECT_EQ(decodeLogPathRecord(std::string(260, 'a')), std::nullopt);
    EXPECT_EQ(decodeLogPathRecord(std::string(400, 'a')), std::nullopt);
    EXPECT_EQ(decodeLogPathRecord(std::string(260, 'a') + '\0'), std::nullopt)
        << "a zero byte beyond the record does not count";
}

}  // namespace
}  // namespace ostrel
