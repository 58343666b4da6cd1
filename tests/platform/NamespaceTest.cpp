// The name space directory the objects live in: refused when others can reach it, cleared of
// strays, emptied by the last user, closed to other users.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "tests/platform/KernelObjectTestSupport.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::drain;
using quorvane::test::Handle;

namespace {

// The name space directory of a test run, private to it.
class PrivateNamespace : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvane-ns-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_hadOld = old != nullptr;
        if (m_hadOld) m_old = old;
        ::setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadOld)
            ::setenv("XDG_RUNTIME_DIR", m_old.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        std::string command = "rm -rf '" + m_root + "'";
        (void)!std::system(command.c_str());
    }
    std::string m_root;
    std::string m_old;
    bool m_hadOld = false;
};

TEST_F(PrivateNamespace, DirectoryOthersCanEnterIsRefused) {
    std::string directory = m_root + "/quorvane";
    ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(directory.c_str(), 0755), 0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(PrivateNamespace, SymlinkedDirectoryIsRefused) {
    std::string target = m_root + "/elsewhere";
    ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(target.c_str(), (m_root + "/quorvane").c_str()), 0);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 1, "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// The object files in the name space, by path.
std::vector<std::string> objectFiles(const std::string& root) {
    std::vector<std::string> files;
    const std::string directory = root + "/quorvane";
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename().string().rfind("o-", 0) == 0)
            files.push_back(entry.path().string());
    return files;
}

// The file a fresh object of `name` gets, found by making one and closing it again.
std::string fileOfFreshObject(const std::string& root, const char* name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    std::vector<std::string> files = objectFiles(root);
    CloseHandle(mutex);
    return files.size() == 1 ? files.front() : std::string();
}

TEST_F(PrivateNamespace, HeldSectionCutShortIsRefusedInsteadOfFaulting) {
    Handle section(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, "cut"));
    ASSERT_NE(section.value, nullptr);
    const std::vector<std::string> files = objectFiles(m_root);
    ASSERT_EQ(files.size(), 1u);
    for (off_t length : {off_t{4096 + 4096}, off_t{4096}, off_t{100}}) {
        ASSERT_EQ(::truncate(files[0].c_str(), length), 0);
        EXPECT_EQ(
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, "cut"),
            nullptr)
            << length;
        EXPECT_EQ(GetLastError(), ERROR_FILE_CORRUPT) << length;
    }
}

TEST_F(PrivateNamespace, DirectoriesSymlinksAndStrayFilesInAnObjectsPlaceAreClearedAway) {
    const std::string path = fileOfFreshObject(m_root, "squatted");
    ASSERT_FALSE(path.empty());
    const std::string bait = m_root + "/bait";
    {
        std::FILE* file = std::fopen(bait.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("untouched", file);
        std::fclose(file);
    }
    auto baitText = [&] {
        char text[16] = {};
        std::FILE* file = std::fopen(bait.c_str(), "r");
        (void)!std::fgets(text, sizeof text, file);
        std::fclose(file);
        return std::string(text);
    };
    // An empty directory, a symlink, a stray file, and a directory that cannot be removed.
    std::vector<std::function<void()>> squatters = {
        [&] { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); },
        [&] { ASSERT_EQ(::symlink(bait.c_str(), path.c_str()), 0); },
        [&] { ASSERT_EQ(::link(bait.c_str(), path.c_str()), 0); },
        [&] {
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
            ASSERT_EQ(::mkdir((path + "/inside").c_str(), 0700), 0);
        },
    };
    for (std::size_t i = 0; i < squatters.size(); ++i) {
        squatters[i]();
        Handle mutex(CreateMutexA(nullptr, TRUE, "squatted"));
        ASSERT_NE(mutex.value, nullptr) << i << ": error " << GetLastError();
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << i;
        EXPECT_TRUE(ReleaseMutex(mutex)) << i;
        EXPECT_EQ(baitText(), "untouched") << i;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode)) << "the full directory is left where it is";
}

TEST_F(PrivateNamespace, ProgramThatExitsWithoutClosingLeavesNoObjectFilesOnceItIsTheLast) {
    Handle kept(CreateSemaphoreA(nullptr, 0, 4, "shared-with-parent"));
    ChildProcess leaver([&](ChildProcess& self) -> int {
        // Opened and never closed, as a tracer that lives until exit leaves them.
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20, "big");
        CreateMutexA(nullptr, FALSE, "mutex");
        CreateMutexA(nullptr, FALSE, "mutex");  // twice: two locks of one process
        CreateSemaphoreA(nullptr, 0, 4, "shared-with-parent");
        self.signal();
        self.awaitSignal();
        std::exit(0);
    });
    ASSERT_EQ(leaver.awaitSignal(), 'x');
    EXPECT_EQ(objectFiles(m_root).size(), 3u);
    leaver.signal();
    EXPECT_EQ(leaver.wait(), 0);
    EXPECT_EQ(objectFiles(m_root).size(), 1u) << "the semaphore this process holds stays";
    EXPECT_TRUE(ReleaseSemaphore(kept, 1, nullptr));
    EXPECT_EQ(drain(kept), 1);
}

TEST_F(PrivateNamespace, AnotherUserCannotOpenOrPostIntoTheObjects) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 10, "shared-name"));
    ASSERT_NE(semaphore.value, nullptr);
    struct stat info {};
    ASSERT_EQ(::stat((m_root + "/quorvane").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);  // let the other user reach the directory

    ChildProcess stranger([&](ChildProcess&) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
        HANDLE opened = CreateSemaphoreA(nullptr, 0, 10, "shared-name");
        if (opened != nullptr) return 1;
        if (GetLastError() != ERROR_ACCESS_DENIED) return 2;
        return 0;
    });
    EXPECT_EQ(stranger.wait(), 0);
    EXPECT_EQ(drain(semaphore), 0);
}

}  // namespace
