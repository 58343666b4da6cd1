#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <regex>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/CLogListModel.h"

namespace {

using viewertest::readFile;
using viewertest::writeFile;

struct Ids {
    uid_t uid;
    gid_t gid;
};

// The unprivileged user "nobody".
Ids nobodyIds() {
    const passwd* entry = ::getpwnam("nobody");
    return entry != nullptr ? Ids{entry->pw_uid, entry->pw_gid} : Ids{65534, 65534};
}

// The path in the system's 8-bit encoding; valid until the end of the full expression.
const char* local(const QString& path, QByteArray&& bytes = {}) {
    bytes = QFile::encodeName(path);
    return bytes.constData();
}

struct stat statOf(const QString& path) {
    struct stat status {};
    ::stat(local(path), &status);
    return status;
}

void addLines(CLogListModel& model, int count) {
    for (int i = 0; i < count; ++i) {
        model.stageLine(std::string(100, 'x'), false);
    }
    model.commitStaged();
}

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

TEST(LogFileWriterTest, AFailedWriteSaysWhyAndKeepsTheOldFileUnlessItWasRewrittenInPlace) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("keep.txt")).toStdString();
    const std::string shared = folder.filePath(QStringLiteral("shared.txt")).toStdString();
    const std::string old = "the old content\r\n";
    writeFile(path, old);
    writeFile(shared, old);
    ASSERT_EQ(::link(shared.c_str(), (shared + ".other").c_str()), 0);
    CLogListModel model;
    addLines(model, 2000);

    // A file-size limit makes the write fail part-way, as a full disk would.
    quorvane::test::ChildProcess child([&](quorvane::test::ChildProcess&) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        LogFileWriter writer;
        const SaveResult replaced = writer.write(QString::fromStdString(path), model, 2000, false);
        const SaveResult inPlace = writer.write(QString::fromStdString(shared), model, 2000, false);
        if (replaced.error != EFBIG || replaced.damagedTarget ||
            replaced.reason() != QStringLiteral("File too large")) {
            return 1;
        }
        return inPlace.error == EFBIG && inPlace.damagedTarget ? 0 : 2;
    });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.wait(), 0) << "1: the replacement's failure, 2: the rewrite's, misreported";
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(readFile(shared).size(), 4096u) << "a file rewritten in place is cut short";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 3)
        << "no temporary file is left behind";

    LogFileWriter writer;
    ASSERT_TRUE(writer.write(QString::fromStdString(path), model, 2000, false));
    EXPECT_EQ(readFile(path).size(), 2000u * 102u);
}

TEST(LogFileWriterTest, SavingThroughALinkChainRewritesTheRealFileAndHardLinksStayShared) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    const QString target = folder.filePath(QStringLiteral("target.txt"));
    const QString middle = folder.filePath(QStringLiteral("sub/middle"));
    const QString first = folder.filePath(QStringLiteral("first"));
    writeFile(target.toStdString(), "old");
    ASSERT_EQ(::chmod(local(target), 0640), 0);
    // first -> sub/middle (absolute), sub/middle -> ../target.txt (relative to its folder).
    ASSERT_EQ(::symlink("../target.txt", local(middle)), 0);
    ASSERT_EQ(::symlink(local(middle), local(first)), 0);
    CLogListModel model;
    model.insertLine("new", false);
    LogFileWriter writer;
    ASSERT_TRUE(writer.write(first, model, 1, false));
    EXPECT_EQ(readFile(target.toStdString()), "new\r\n");
    EXPECT_EQ(QFile::symLinkTarget(first), middle);
    EXPECT_EQ(QFile::symLinkTarget(middle), target);
    const struct stat status = statOf(target);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";

    // A chain whose end does not exist yet creates that file.
    const QString dangling = folder.filePath(QStringLiteral("dangling"));
    ASSERT_EQ(::symlink("sub/made.txt", local(dangling)), 0);
    ASSERT_TRUE(writer.write(dangling, model, 1, false));
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("sub/made.txt")).toStdString()), "new\r\n");

    // Hard links keep sharing one file.
    const QString linked = folder.filePath(QStringLiteral("linked.txt"));
    ASSERT_EQ(::link(local(target), local(linked)), 0);
    model.insertLine("newer", false);
    ASSERT_TRUE(writer.write(target, model, 2, false));
    EXPECT_EQ(readFile(linked.toStdString()), "new\r\nnewer\r\n");
    EXPECT_EQ(statOf(linked).st_ino, status.st_ino);
    EXPECT_EQ(statOf(linked).st_nlink, 2u);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 4);
}

TEST(LogFileWriterTest, AFileInAFolderTheUserCannotWriteOrOfAnotherUserIsRewrittenInPlace) {
    QTemporaryDir folder;
    // The user who saves into the locked folder: nobody when the tests run as root (root writes
    // anywhere), otherwise the test's own user.
    const bool root = ::geteuid() == 0;
    const Ids nobody = nobodyIds();
    ASSERT_EQ(::chmod(local(folder.path()), 0755), 0);
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("locked")));
    const QString locked = folder.filePath(QStringLiteral("locked"));
    const QString inLocked = locked + QStringLiteral("/log.txt");
    writeFile(inLocked.toStdString(), "old");
    if (root) {
        ASSERT_EQ(::chown(local(inLocked), nobody.uid, nobody.gid), 0);
    } else {
        ASSERT_EQ(::chmod(local(locked), 0555), 0);
    }
    CLogListModel model;
    model.insertLine("new", false);

    quorvane::test::ChildProcess saver([&](quorvane::test::ChildProcess&) {
        if (root && (::setgid(nobody.gid) != 0 || ::setuid(nobody.uid) != 0)) {
            return 1;
        }
        LogFileWriter writer;
        if (!writer.write(inLocked, model, 1, false)) {
            return 2;
        }
        const SaveResult refused =
            writer.write(locked + QStringLiteral("/new.txt"), model, 1, false);
        return refused.error == EACCES && !refused.damagedTarget ? 0 : 3;
    });
    ASSERT_TRUE(saver.started());
    EXPECT_EQ(saver.wait(), 0) << "1: no change of user, 2: the save failed, 3: a new file was "
                                  "not refused for want of permission";
    EXPECT_EQ(readFile(inLocked.toStdString()), "new\r\n");
    EXPECT_EQ(QDir(locked).entryList(QDir::Files | QDir::Hidden).size(), 1);
    ::chmod(local(locked), 0755);

    if (root) {
        const QString theirs = folder.filePath(QStringLiteral("theirs.txt"));
        writeFile(theirs.toStdString(), "old");
        ASSERT_EQ(::chown(local(theirs), nobody.uid, nobody.gid), 0);
        const ino_t inode = statOf(theirs).st_ino;
        LogFileWriter writer;
        ASSERT_TRUE(writer.write(theirs, model, 1, false));
        EXPECT_EQ(readFile(theirs.toStdString()), "new\r\n");
        EXPECT_EQ(statOf(theirs).st_uid, nobody.uid) << "the file keeps its owner";
        EXPECT_EQ(statOf(theirs).st_ino, inode);
    }
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
