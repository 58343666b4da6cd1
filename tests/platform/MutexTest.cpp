// The mutex: initial owner, recursion, release by its owner only, abandonment, waiters in other
// processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/Win32.h"
#include "tests/platform/KernelObjectTestSupport.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::Handle;
using quorvane::test::uniqueName;

namespace {

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

}  // namespace
