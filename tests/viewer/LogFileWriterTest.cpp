#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <regex>

#include "tests/support/ChildProcess.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/CLogListModel.h"
#include "viewer/LogFileWriter.h"

namespace {

using viewertest::readFile;
using viewertest::writeFile;

std::string saved(std::string_view line) {
    std::string out;
    LogFileWriter::appendSavedLine(out, line);
    return out;
}

TEST(LogFileWriterTest, EveryRunOfTabsBecomesOneTabAndTheLineEndsWithCrLf) {
    EXPECT_EQ(saved("00003\t42\t10:00:00\torig\t\t\tName(text)"),
              "00003\t42\t10:00:00\torig\tName(text)\r\n");
    EXPECT_EQ(saved("a\t\t\tb"), "a\tb\r\n");
    EXPECT_EQ(saved("a\tb"), "a\tb\r\n");
    EXPECT_EQ(saved("\t\ta\t\t"), "\ta\t\r\n");
    EXPECT_EQ(saved(""), "\r\n");
    EXPECT_EQ(saved("\t"), "\t\r\n");
    EXPECT_EQ(saved(std::string("x\0\xff\t\ty", 6)), std::string("x\0\xff\ty\r\n", 7));
}

TEST(LogFileWriterTest, WritesOldestFirstInBothOrdersAndOnlyTheCountedLines) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("out.txt"));
    LogFileWriter writer;

    CLogListModel onTop;
    onTop.insertLine("1\t\tA", true);
    onTop.insertLine("2\tB", true);
    onTop.insertLine("3\tC", true);
    ASSERT_TRUE(writer.write(path, onTop, 3, true));
    EXPECT_EQ(readFile(path.toStdString()), "1\tA\r\n2\tB\r\n3\tC\r\n");

    CLogListModel appended;
    appended.insertLine("1\tA", false);
    appended.insertLine("2\tB", false);
    appended.insertLine("3\tC", false);
    ASSERT_TRUE(writer.write(path, appended, 3, false));
    EXPECT_EQ(readFile(path.toStdString()), "1\tA\r\n2\tB\r\n3\tC\r\n");
    ASSERT_TRUE(writer.write(path, appended, 2, false));
    EXPECT_EQ(readFile(path.toStdString()), "1\tA\r\n2\tB\r\n");
}

TEST(LogFileWriterTest, LargeSavesCrossTheWriteChunkWithoutLosingBytes) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("big.txt"));
    CLogListModel model;
    std::string expected;
    for (int i = 0; i < 30000; ++i) {
        const std::string line = std::to_string(i) + "\t\t" + std::string(60, 'a' + i % 26);
        model.stageLine(line, false);
        expected += std::to_string(i) + "\t" + std::string(60, 'a' + i % 26) + "\r\n";
    }
    model.commitStaged();
    LogFileWriter writer;
    ASSERT_TRUE(writer.write(path, model, 30000, false));
    EXPECT_EQ(readFile(path.toStdString()), expected);
}

TEST(LogFileWriterTest, AFailedWriteLeavesTheOldFileIntactAndNoTemporaryFileBehind) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("keep.txt")).toStdString();
    const std::string old = "the old content\r\n";
    writeFile(path, old);
    CLogListModel model;
    for (int i = 0; i < 2000; ++i) {
        model.stageLine(std::string(100, 'x'), false);
    }
    model.commitStaged();

    // A file-size limit makes the write fail part-way, as a full disk would.
    quorvane::test::ChildProcess child([&](quorvane::test::ChildProcess&) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        LogFileWriter writer;
        return writer.write(QString::fromStdString(path), model, 2000, false) ? 1 : 0;
    });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.wait(), 0) << "the write did not report failure";
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    LogFileWriter writer;
    ASSERT_TRUE(writer.write(QString::fromStdString(path), model, 2000, false));
    EXPECT_EQ(readFile(path).size(), 2000u * 102u);
}

TEST(LogFileWriterTest, AReplacedFileKeepsItsPermissionsAndALinkKeepsPointingAtIt) {
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("target.txt"));
    const QString link = folder.filePath(QStringLiteral("link.txt"));
    writeFile(target.toStdString(), "old");
    ASSERT_EQ(::chmod(target.toLocal8Bit().constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(target, link));
    CLogListModel model;
    model.insertLine("new", false);
    LogFileWriter writer;
    ASSERT_TRUE(writer.write(link, model, 1, false));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target.toStdString()), "new\r\n");
    struct stat status {};
    ASSERT_EQ(::stat(target.toLocal8Bit().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

TEST(LogFileWriterTest, AFileThatCannotBeCreatedReportsFailure) {
    QTemporaryDir folder;
    CLogListModel model;
    model.insertLine("a", false);
    LogFileWriter writer;
    EXPECT_FALSE(writer.write(folder.filePath(QStringLiteral("missing/x.txt")), model, 1, false));
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("missing"))));
}

TEST(LogFileWriterTest, DefaultNameIsTheLocalTimeInFourteenDigits) {
    // The test environment runs on UTC.
    EXPECT_EQ(defaultSaveFileName(1709647629), "20240305140709");
    EXPECT_TRUE(std::regex_match(defaultSaveFileName(std::time(nullptr)), std::regex("[0-9]{14}")));
}

}  // namespace
