// Named objects and their handles: one name space for every kind, lifetime, bad handles, the
// last error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/Win32.h"
#include "tests/platform/KernelObjectTestSupport.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::drain;
using quorvane::test::Handle;
using quorvane::test::uniqueName;

namespace {

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
        EXPECT_EQ(GetSyncObject(bad), nullptr);
    }
    Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(mutex, 1, nullptr));  // a handle of the wrong kind
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // An object found once is refused by the calls of the other kind, as its handle is.
    PSYNC_OBJECT mutexObject = GetSyncObject(mutex);
    ASSERT_NE(mutexObject, nullptr);
    SetLastError(0);
    EXPECT_FALSE(RaiseSemaphoreObject(mutexObject, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSemaphoreObjectAvailable(mutexObject, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSyncObject(mutexObject, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutexObject(mutexObject));
    EXPECT_FALSE(ReleaseMutexObject(mutexObject));  // not owned any more
    Handle section(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      nullptr));
    SetLastError(0);
    EXPECT_EQ(GetSyncObject(section), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(NamedObjects, LastErrorIsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOtherThread = 1;
    std::thread([&] { seenByOtherThread = GetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
