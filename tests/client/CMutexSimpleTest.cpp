#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/support/ProcessSupport.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::ChildProcess;
using quorvane::test::Event;
using quorvane::test::uniqueName;

constexpr int kObtained = 0;
constexpr int kNotObtained = 3;

// Tries the mutex from a fresh process and reports whether it was obtained.
int obtainInAnotherProcess(const std::string& name) {
    ChildProcess child([&name](ChildProcess&) {
        CMutexSimple mutex;
        return mutex.getMutex(name.c_str()) ? kObtained : kNotObtained;
    });
    return child.wait();
}

TEST(CMutexSimpleTest, ObtainsAFreeMutexAndGivesItUpOnRelease) {
    const std::string name = uniqueName("simple-free");
    CMutexSimple mutex;
    EXPECT_FALSE(mutex.isHeld());
    ASSERT_TRUE(mutex.getMutex(name.c_str()));
    EXPECT_TRUE(mutex.isHeld());
    EXPECT_EQ(obtainInAnotherProcess(name), kNotObtained);

    EXPECT_TRUE(mutex.releaseMutex());
    EXPECT_FALSE(mutex.isHeld());
    EXPECT_FALSE(mutex.releaseMutex());
    EXPECT_EQ(obtainInAnotherProcess(name), kObtained);
}

TEST(CMutexSimpleTest, DoesNotWaitForAMutexHeldByAnotherProcess) {
    const std::string name = uniqueName("simple-held");
    Event held;
    Event quit;
    ChildProcess holder([&](ChildProcess&) {
        CMutexSimple mutex;
        if (!mutex.getMutex(name.c_str())) return 1;
        held.notify();
        quit.await();
        return 0;
    });
    ASSERT_TRUE(held.await());

    CMutexSimple mutex;
    EXPECT_FALSE(mutex.getMutex(name.c_str()));
    EXPECT_FALSE(mutex.isHeld());

    quit.notify();
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_TRUE(mutex.getMutex(name.c_str()));
}

TEST(CMutexSimpleTest, AnotherThreadOfThisProcessDoesNotObtainAHeldMutex) {
    const std::string name = uniqueName("simple-thread");
    CMutexSimple mutex;
    ASSERT_TRUE(mutex.getMutex(name.c_str()));
    BOOL otherThreadObtained = TRUE;
    std::thread([&] {
        CMutexSimple other;
        otherThreadObtained = other.getMutex(name.c_str());
    }).join();
    EXPECT_FALSE(otherThreadObtained);
}

TEST(CMutexSimpleTest, MutexAbandonedByAnEndedProcessCountsAsObtained) {
    const std::string name = uniqueName("simple-abandoned");
    Event held;
    Event quit;
    ChildProcess holder([&](ChildProcess&) {
        CMutexSimple mutex;
        if (!mutex.getMutex(name.c_str())) return 1;
        held.notify();
        quit.await();
        _exit(0);  // ends without releasing
    });
    // Keep the mutex in existence after the holder ends, as a viewer restart would find it.
    HANDLE keeper = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_TRUE(held.await());
    ASSERT_NE(keeper, nullptr);
    quit.notify();
    ASSERT_EQ(holder.wait(), 0);

    ASSERT_EQ(WaitForSingleObject(keeper, 0), WAIT_ABANDONED) << "the mutex should be abandoned";
    ASSERT_TRUE(ReleaseMutex(keeper));
    EXPECT_EQ(obtainInAnotherProcess(name), kObtained);

    // And through CMutexSimple itself: abandon again, then obtain.
    ChildProcess again([&](ChildProcess&) {
        CMutexSimple mutex;
        if (!mutex.getMutex(name.c_str())) return 1;
        _exit(0);
    });
    ASSERT_EQ(again.wait(), 0);
    CMutexSimple mutex;
    EXPECT_TRUE(mutex.getMutex(name.c_str()));
    CloseHandle(keeper);
}

TEST(CMutexSimpleTest, DestructionReleasesTheMutex) {
    const std::string name = uniqueName("simple-destroyed");
    {
        CMutexSimple mutex;
        ASSERT_TRUE(mutex.getMutex(name.c_str()));
        ASSERT_EQ(obtainInAnotherProcess(name), kNotObtained);
    }
    EXPECT_EQ(obtainInAnotherProcess(name), kObtained);
}

TEST(CMutexSimpleTest, ObtainingAnotherNameGivesUpTheFirst) {
    const std::string first = uniqueName("simple-first");
    const std::string second = uniqueName("simple-second");
    CMutexSimple mutex;
    ASSERT_TRUE(mutex.getMutex(first.c_str()));
    ASSERT_TRUE(mutex.getMutex(second.c_str()));
    EXPECT_EQ(obtainInAnotherProcess(first), kObtained);
    EXPECT_EQ(obtainInAnotherProcess(second), kNotObtained);
    EXPECT_FALSE(mutex.getMutex(nullptr));
    EXPECT_EQ(obtainInAnotherProcess(second), kObtained);
}

}  // namespace
