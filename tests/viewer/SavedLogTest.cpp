#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/FileMapping.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/files/SavedLog.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineStore.h"

using namespace std::string_literals;

namespace {

using viewertest::readFile;
using viewertest::writeFile;

std::vector<std::string> linesOf(const LineStore& lines) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.emplace_back(lines[i]);
    }
    return out;
}

class SavedLogTest : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return m_folder.filePath(name).toStdString(); }
    SavedLog openWith(const char* name, const std::string& bytes) const {
        writeFile(path(name), bytes);
        return SavedLog::open(path(name));
    }

    QTemporaryDir m_folder;
};

TEST_F(SavedLogTest, LinesComeWithoutTheirEndsWhicheverEndsThemAndALastLineWithoutOneCounts) {
    const SavedLog log = openWith("mixed.log", "a\r\nb\n\r\n\nc\t\td\r\nx\ry\nlast");
    ASSERT_TRUE(log.isOpen()) << log.failure();
    EXPECT_EQ(linesOf(log.lines()),
              (std::vector<std::string>{"a", "b", "", "", "c\t\td", "x\ry", "last"}));

    const SavedLog ended = openWith("ended.log", "one\r\ntwo\r\n");
    EXPECT_EQ(linesOf(ended.lines()), (std::vector<std::string>{"one", "two"}));

    const SavedLog empty = openWith("empty.log", "");
    ASSERT_TRUE(empty.isOpen()) << empty.failure();
    EXPECT_EQ(empty.lines().size(), 0u);
}

TEST_F(SavedLogTest, ALogSavedByTheViewerOpensWithItsLinesAndNoCopyOfTheirBytes) {
    CLogListModel live;
    std::vector<std::string> expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = std::to_string(i) + "\t42\t10:00:00\torigin\t\t\tName(" +
                                 std::string(static_cast<std::size_t>(200 + i % 90), 'x') + ")";
        live.stageLine(line, false);
        std::string collapsed;
        LogFileWriter::appendSavedLine(collapsed, line);
        expected.push_back(collapsed.substr(0, collapsed.size() - 2));
    }
    live.commitStaged();
    LogFileWriter writer;
    ASSERT_TRUE(writer.write(QString::fromStdString(path("saved.log")), live,
                             static_cast<std::uint32_t>(live.size()), false));

    SavedLog log = SavedLog::open(path("saved.log"));
    ASSERT_TRUE(log.isOpen()) << log.failure();
    EXPECT_EQ(linesOf(log.lines()), expected);
    EXPECT_LT(log.lines().bytesHeld(), log.fileSize() / 20);

    CLogListModel opened;
    opened.adoptLines(std::move(log.lines()));
    ASSERT_EQ(opened.size(), expected.size());
    EXPECT_EQ(opened.line(0), expected.front());
    EXPECT_EQ(opened.line(expected.size() - 1), expected.back());
}

TEST_F(SavedLogTest, WhatIsNotASavedLogIsRefusedWithTheReason) {
    EXPECT_EQ(SavedLog::open(path("missing.log")).failure(), "No such file or directory");
    EXPECT_EQ(SavedLog::open(m_folder.path().toStdString()).failure(), "it is a directory");
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(SavedLog::open(path("pipe")).failure(), "it is not a regular file");

    EXPECT_EQ(openWith("nul.log", "text\r\nmore\0text\r\n"s).failure(),
              "it is not a saved log: it holds a NUL byte at offset 10");
    std::string binary(1000, 'a');
    for (std::size_t i = 0; i < binary.size(); i += 16) {
        binary[i] = '\x01';
    }
    EXPECT_EQ(openWith("binary.log", binary).failure(),
              "it is not a saved log: 63 of its first 1000 bytes are control bytes");
    // A record's text may carry a control byte now and then, and escape sequences for colour.
    const SavedLog fewControls =
        openWith("controls.log", "a\x01 b\r\n\x1b[31mred\x1b[0m\r\n" + std::string(100, 'c'));
    EXPECT_TRUE(fewControls.isOpen()) << fewControls.failure();

    const std::string longest(SavedLog::kMaxLineLength, 'L');
    EXPECT_TRUE(openWith("longest.log", "a\r\n" + longest + "\r\nb").isOpen());
    EXPECT_EQ(openWith("huge.log", "a\r\nb\r\n" + longest + "L\r\nc").failure(),
              "it is not a saved log: line 3 is longer than 65536 bytes");
}

TEST_F(SavedLogTest, AnUnreadableFileIsRefusedWithTheSystemsReason) {
    writeFile(path("locked.log"), "line\r\n");
    ASSERT_EQ(::chmod(path("locked.log").c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_folder.path().toLocal8Bit().constData(), 0755), 0);
    // Root reads any file, so the opening is done as "nobody" when the tests run as root.
    const passwd* nobody = ::getpwnam("nobody");
    const bool root = ::geteuid() == 0;
    if (root && nobody == nullptr) {
        GTEST_SKIP() << "running as root and there is no user \"nobody\" to read as";
    }
    quorvane::test::ChildProcess reader([&](quorvane::test::ChildProcess&) {
        if (root && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) {
            return 1;
        }
        return SavedLog::open(path("locked.log")).failure() == "Permission denied" ? 0 : 2;
    });
    ASSERT_TRUE(reader.started());
    EXPECT_EQ(reader.wait(), 0) << "1: no change of user, 2: not refused for want of permission";
}

TEST_F(SavedLogTest, AFileTruncatedWhileOpenReadsAsNulBytesInsteadOfEndingTheProcess) {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    std::string bytes;
    while (bytes.size() < static_cast<std::size_t>(4 * pageSize)) {
        bytes += "00001\t42\t10:00:00\torigin\tName(" + std::string(100, 't') + ")\r\n";
    }
    const SavedLog log = openWith("shrinking.log", bytes);
    ASSERT_TRUE(log.isOpen()) << log.failure();
    const std::string first(log.lines()[0]);
    // Cut at a line's end inside the first page: later pages vanish from under the mapping.
    const std::size_t lineSize = first.size() + 2;
    const auto cut =
        static_cast<off_t>(static_cast<std::size_t>(pageSize / 2) / lineSize * lineSize);
    ASSERT_EQ(::truncate(path("shrinking.log").c_str(), cut), 0);

    std::size_t zeroed = 0;
    for (std::size_t i = 0; i < log.lines().size(); ++i) {
        const std::string_view line = log.lines()[i];
        if (line.find_first_not_of('\0') == std::string_view::npos && !line.empty()) {
            ++zeroed;
        } else {
            ASSERT_EQ(line, first) << "line " << i << " is neither the file's nor zeros";
        }
    }
    // Lines past the first page lost their bytes; those before the cut kept them.
    EXPECT_GT(zeroed, log.lines().size() / 2);
}

TEST_F(SavedLogTest, FilesTheSystemMakesUpAsTheyAreReadAreReadToTheirEnd) {
    // /proc gives a size of 0 (a window on /proc/cpuinfo is tested with the windows); /sys gives
    // a page's size but cannot map its files.
    const SavedLog status = SavedLog::open("/proc/self/status");
    ASSERT_TRUE(status.isOpen()) << status.failure();
    ASSERT_GT(status.lines().size(), 10u);
    EXPECT_EQ(std::string(status.lines()[0]).rfind("Name:\t", 0), 0u) << status.lines()[0];

    const std::string onlineText = readFile("/sys/devices/system/cpu/online");
    ASSERT_FALSE(onlineText.empty());
    const SavedLog online = SavedLog::open("/sys/devices/system/cpu/online");
    ASSERT_TRUE(online.isOpen()) << online.failure();
    EXPECT_EQ(linesOf(online.lines()),
              std::vector<std::string>{onlineText.substr(0, onlineText.find('\n'))});
    EXPECT_FALSE(FileMapping("/sys/devices/system/cpu/online").isMapped());

    // A file of its own is still mapped, not read.
    writeFile(path("real.log"), "a line\n");
    EXPECT_TRUE(FileMapping(path("real.log")).isMapped());

    // What is read is bounded: a file that goes on past the limit is refused.
    EXPECT_EQ(FileMapping("/sys/devices/system/cpu/online", onlineText.size()).status(),
              FileMapping::Status::Open);
    EXPECT_EQ(FileMapping("/sys/devices/system/cpu/online", onlineText.size() - 1).status(),
              FileMapping::Status::ReadTooLong);
    EXPECT_EQ(FileMapping("/proc/self/smaps", 4096).status(), FileMapping::Status::ReadTooLong);
}

}  // namespace
