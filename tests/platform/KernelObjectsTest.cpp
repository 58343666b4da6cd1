#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::uniqueName;

namespace {

// Closes a handle at the end of a scope.
struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    ~Handle() {
        if (value != nullptr) CloseHandle(value);
    }
    operator HANDLE() const { return value; }
};

// Takes every count a semaphore has without waiting.
int drain(HANDLE semaphore) {
    int taken = 0;
    while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) ++taken;
    return taken;
}

// The body of a child that takes the named mutex, says so, and holds it until it is killed.
std::function<int(ChildProcess&)> owningUntilKilled(const std::string& name) {
    return [name](ChildProcess& self) {
        HANDLE opened = CreateMutexA(nullptr, FALSE, name.c_str());
        WaitForSingleObject(opened, INFINITE);
        self.signal();
        ::pause();
        return 0;
    };
}

TEST(NamedObjects, CreateReportsNewThenOtherProcessOpensWithAlreadyExists) {
    std::string name = uniqueName("create");
    Handle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_NE(mutex.value, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    ChildProcess child([&](ChildProcess&) {
        HANDLE opened = CreateMutexA(nullptr, FALSE, name.c_str());
        return opened != nullptr && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
    });
    EXPECT_EQ(child.wait(), 0);
}

TEST(NamedObjects, AllKindsShareOneNameSpace) {
    std::string name = uniqueName("kinds");
    Handle semaphore(CreateSemaphoreA(nullptr, 1, 1, name.c_str()));
    ASSERT_NE(semaphore.value, nullptr);

    SetLastError(0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str()),
        nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // The failed attempts changed nothing.
    EXPECT_EQ(drain(semaphore), 1);
}

TEST(NamedObjects, NullOrEmptyNameGivesPrivateUnnamedObjects) {
    Handle first(CreateSemaphoreA(nullptr, 1, 5, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    Handle second(CreateSemaphoreA(nullptr, 1, 5, ""));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ASSERT_NE(first.value, nullptr);
    ASSERT_NE(second.value, nullptr);
    EXPECT_EQ(drain(first), 1);
    EXPECT_EQ(drain(second), 1);  // not the same object
}

TEST(NamedObjects, LongNamesOfAnyBytesNeverAlias) {
    std::string base(258, 'n');
    base[10] = '/';
    base[20] = '\x01';
    base[30] = '\xff';
    std::string a = base + "a";
    std::string b = base + "b";
    ASSERT_EQ(a.size(), kMaxObjectNameLength);
    Handle first(CreateSemaphoreA(nullptr, 3, 10, a.c_str()));
    ASSERT_NE(first.value, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    Handle second(CreateSemaphoreA(nullptr, 5, 10, b.c_str()));
    ASSERT_NE(second.value, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    Handle again(CreateSemaphoreA(nullptr, 0, 10, a.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(drain(again), 3);
    EXPECT_EQ(drain(second), 5);
}

TEST(NamedObjects, ObjectEndsWithItsLastHandleAndIsCreatedAfresh) {
    std::string name = uniqueName("lifetime");
    {
        Handle semaphore(CreateSemaphoreA(nullptr, 2, 10, name.c_str()));
        ReleaseSemaphore(semaphore, 5, nullptr);
        Handle second(CreateSemaphoreA(nullptr, 0, 10, name.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    }
    Handle fresh(CreateSemaphoreA(nullptr, 1, 10, name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(drain(fresh), 1);
}

TEST(NamedObjects, ObjectEndsWhenItsLastHolderIsKilled) {
    std::string name = uniqueName("killed");
    ChildProcess holder([&](ChildProcess& self) {
        HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                            name.c_str());
        auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        std::strcpy(view, "stale");
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(holder.awaitSignal(), 'x');
    holder.kill();
    holder.wait();

    Handle section(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], '\0');  // zero-filled, not the dead holder's contents
    UnmapViewOfFile(view);
}

TEST(NamedObjects, ForkedChildClosingInheritedHandleDoesNotEndParentsObject) {
    std::string name = uniqueName("fork");
    Handle semaphore(CreateSemaphoreA(nullptr, 4, 10, name.c_str()));
    ChildProcess child([&](ChildProcess&) { return CloseHandle(semaphore.value) ? 0 : 1; });
    EXPECT_EQ(child.wait(), 0);
    Handle again(CreateSemaphoreA(nullptr, 0, 10, name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(drain(again), 4);
}

TEST(NamedObjects, BadHandlesFailWithInvalidHandle) {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    ASSERT_TRUE(CloseHandle(semaphore));
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, semaphore}) {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_FALSE(ReleaseSemaphore(bad, 1, nullptr));
        EXPECT_FALSE(ReleaseMutex(bad));
    }
    Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(mutex, 1, nullptr));  // a handle of the wrong kind
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(NamedObjects, LastErrorIsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOtherThread = 1;
    std::thread([&] { seenByOtherThread = GetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Mutex, InitialOwnerOwnsOnlyAFreshMutex) {
    std::string name = uniqueName("owner");
    Handle mutex(CreateMutexA(nullptr, TRUE, name.c_str()));
    ChildProcess child([&](ChildProcess&) {
        HANDLE opened = CreateMutexA(nullptr, TRUE, name.c_str());
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        if (ReleaseMutex(opened) || GetLastError() != ERROR_NOT_OWNER) return 2;
        if (WaitForSingleObject(opened, 0) != WAIT_TIMEOUT) return 3;
        return 0;
    });
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(Mutex, IsRecursiveAndReleasedAsOftenAsTaken) {
    Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    DWORD otherThread = 0;
    std::thread([&] { otherThread = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(otherThread, WAIT_TIMEOUT);  // still owned once
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

TEST(Mutex, ReleaseByAnotherThreadFailsAndChangesNothing) {
    Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
    BOOL released = TRUE;
    DWORD error = 0, wait = 0;
    std::thread([&] {
        released = ReleaseMutex(mutex);
        error = GetLastError();
        wait = WaitForSingleObject(mutex, 20);
    }).join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    EXPECT_EQ(wait, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(Mutex, OwnerProcessKilledLeavesItAbandonedOnce) {
    std::string name = uniqueName("abandon");
    Handle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ChildProcess owner(owningUntilKilled(name));
    ASSERT_EQ(owner.awaitSignal(), 'x');
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    owner.kill();
    owner.wait();
    EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);  // with ownership
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // consistent again
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(Mutex, WaiterAlreadyAsleepNoticesItsOwnerDying) {
    std::string name = uniqueName("asleep");
    Handle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
    ChildProcess owner(owningUntilKilled(name));
    ASSERT_EQ(owner.awaitSignal(), 'x');
    DWORD result = 0;
    std::thread waiter([&] { result = WaitForSingleObject(mutex, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the waiter sleeps by now
    owner.kill();  // and left unreaped: a zombie owns nothing
    waiter.join();
    owner.wait();
    EXPECT_EQ(result, WAIT_ABANDONED);
}

TEST(Mutex, OwnerThreadEndingWithoutReleaseLeavesItAbandoned) {
    Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    std::thread([&] { WaitForSingleObject(mutex, INFINITE); }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(Mutex, WaiterInAnotherProcessGetsItWhenReleased) {
    std::string name = uniqueName("handover");
    Handle mutex(CreateMutexA(nullptr, TRUE, name.c_str()));
    ChildProcess waiter([&](ChildProcess& self) {
        HANDLE opened = CreateMutexA(nullptr, FALSE, name.c_str());
        self.signal();
        return WaitForSingleObject(opened, 5000) == WAIT_OBJECT_0 ? 0 : 1;
    });
    ASSERT_EQ(waiter.awaitSignal(), 'x');
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(waiter.wait(), 0);
}

TEST(Semaphore, CountsUpToItsMaximumAndRefusesMore) {
    Handle semaphore(CreateSemaphoreA(nullptr, 1, 3, nullptr));
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 1);
    previous = -1;
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, -1);         // not written on refusal
    EXPECT_EQ(drain(semaphore), 3);  // the refused releases changed nothing
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 4, nullptr));
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, nullptr));
    EXPECT_EQ(drain(semaphore), 3);
}

TEST(Semaphore, InvalidCountsAreRefused) {
    SetLastError(0);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 2, 1, nullptr), nullptr);
    EXPECT_EQ(CreateSemaphoreA(nullptr, -1, 1, nullptr), nullptr);
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(semaphore, -1, nullptr));
}

TEST(Semaphore, WaitTimesOutAfterItsTimeAndZeroIsAProbe) {
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(semaphore, 120), WAIT_TIMEOUT);
    EXPECT_GE(quorvane::test::secondsSince(start), 0.119);
}

TEST(Semaphore, SleeperInAnotherProcessWakesOnRelease) {
    std::string name = uniqueName("wake");
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 10, name.c_str()));
    ChildProcess sleeper([&](ChildProcess& self) {
        HANDLE opened = CreateSemaphoreA(nullptr, 0, 10, name.c_str());
        self.signal();
        DWORD first = WaitForSingleObject(opened, INFINITE);
        DWORD second = WaitForSingleObject(opened, 5000);
        return first == WAIT_OBJECT_0 && second == WAIT_OBJECT_0 ? 0 : 1;
    });
    ASSERT_EQ(sleeper.awaitSignal(), 'x');
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it fall asleep
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, nullptr));
    EXPECT_EQ(sleeper.wait(), 0);
    EXPECT_EQ(drain(semaphore), 0);
}

TEST(Semaphore, EverySleeperWakesWhenCountsArriveOneAtATime) {
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 10, nullptr));
    constexpr int kSleepers = 3;
    std::atomic<int> woken{0};
    std::vector<std::thread> sleepers;
    for (int i = 0; i < kSleepers; ++i)
        sleepers.emplace_back([&] {
            if (WaitForSingleObject(semaphore, 5000) == WAIT_OBJECT_0) ++woken;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all asleep
    // Only the first release finds the count at zero; the others must be handed on. A count
    // that is not would leave a sleeper waiting out its whole time-out.
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSleepers; ++i) ReleaseSemaphore(semaphore, 1, nullptr);
    for (auto& sleeper : sleepers) sleeper.join();
    EXPECT_EQ(woken.load(), kSleepers);
    EXPECT_LT(quorvane::test::secondsSince(start), 2.5);
    EXPECT_EQ(drain(semaphore), 0);
}

TEST(Semaphore, StaysUsableWhenWaitersAreKilled) {
    std::string name = uniqueName("killwait");
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 100, name.c_str()));
    for (int round = 0; round < 3; ++round) {
        ChildProcess waiter([&](ChildProcess& self) {
            HANDLE opened = CreateSemaphoreA(nullptr, 0, 100, name.c_str());
            self.signal();
            WaitForSingleObject(opened, INFINITE);
            return 0;
        });
        ASSERT_EQ(waiter.awaitSignal(), 'x');
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        waiter.kill();
        waiter.wait();
    }
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, nullptr));
    EXPECT_EQ(drain(semaphore), 2);
}

TEST(Semaphore, ManyThreadsLoseNoCount) {
    Handle semaphore(CreateSemaphoreA(nullptr, 0, 1000000, nullptr));
    constexpr int kThreads = 4, kEach = 20000;
    std::vector<std::thread> threads;
    std::atomic<int> taken{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) ReleaseSemaphore(semaphore, 1, nullptr);
        });
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                if (WaitForSingleObject(semaphore, 10000) == WAIT_OBJECT_0) ++taken;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(taken.load(), kThreads * kEach);
    EXPECT_EQ(drain(semaphore), 0);
}

TEST(Section, IsZeroFilledSharedAndKeepsItsCreatedSize) {
    std::string name = uniqueName("section");
    Handle section(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10000, name.c_str()));
    ASSERT_NE(section.value, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(view[i], 0);
    view[9999] = 42;

    ChildProcess child([&](ChildProcess&) {
        HANDLE opened =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 50, name.c_str());
        if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        auto* other =
            static_cast<unsigned char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(other, &info, sizeof info) == 0 || info.RegionSize != 10000) return 2;
        if (other[9999] != 42) return 3;
        other[0] = 7;
        return 0;
    });
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(view[0], 7);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
}

TEST(Section, ViewKeepsSectionAliveAfterItsHandleCloses) {
    std::string name = uniqueName("view");
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str());
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[0] = 'k';
    CloseHandle(section);
    Handle again(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    auto* second = static_cast<char*>(MapViewOfFile(again, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    EXPECT_EQ(second[0], 'k');
    UnmapViewOfFile(second);
    UnmapViewOfFile(view);
}

TEST(Section, SizeZeroAndFileBackingAreRefused) {
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

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
