// The semaphore: its counts and maximum, timed waits, sleepers in other processes and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "tests/platform/KernelObjectTestSupport.h"
#include "tests/support/ProcessSupport.h"

using quorvane::test::ChildProcess;
using quorvane::test::drain;
using quorvane::test::Handle;
using quorvane::test::uniqueName;

namespace {

// The state letter of a process in /proc ('S' while it sleeps in a futex wait), 0 once gone.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    return nameEnd == std::string::npos || nameEnd + 2 >= text.size() ? 0 : text[nameEnd + 2];
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

TEST(Semaphore, EachReleaseWakesASleeperInAnotherProcessAtOnce) {
    // Every round the child is seen asleep before the count comes, so each round needs the
    // release to find the "someone sleeps" bit and wake it. A sleeper also looks again by itself
    // after a slice of its wait (100 ms), so a lost wake costs a slice rather than the wait:
    // a hundred of them take ten seconds, where waking costs a few milliseconds in all.
    constexpr int kRounds = 100;
    constexpr auto kLimit = std::chrono::seconds(5);
    const std::string ping = uniqueName("ping");
    const std::string pong = uniqueName("pong");
    Handle toChild(CreateSemaphoreA(nullptr, 0, 1, ping.c_str()));
    Handle toParent(CreateSemaphoreA(nullptr, 0, 1, pong.c_str()));
    ChildProcess sleeper([&](ChildProcess&) {
        HANDLE woken = CreateSemaphoreA(nullptr, 0, 1, ping.c_str());
        HANDLE answer = CreateSemaphoreA(nullptr, 0, 1, pong.c_str());
        for (int round = 0; round < kRounds; ++round) {
            if (WaitForSingleObject(woken, 20000) != WAIT_OBJECT_0) return 1;
            if (!ReleaseSemaphore(answer, 1, nullptr)) return 2;
        }
        return 0;
    });
    const auto start = std::chrono::steady_clock::now();
    int rounds = 0;
    while (rounds < kRounds && std::chrono::steady_clock::now() - start < kLimit) {
        while (processState(sleeper.pid()) != 'S' &&
               std::chrono::steady_clock::now() - start < kLimit)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        ASSERT_TRUE(ReleaseSemaphore(toChild, 1, nullptr));
        ASSERT_EQ(WaitForSingleObject(toParent, 20000), WAIT_OBJECT_0) << "round " << rounds;
        ++rounds;
    }
    EXPECT_EQ(rounds, kRounds) << "sleepers are not woken by releases; rounds done in "
                               << quorvane::test::secondsSince(start) << " s";
    sleeper.kill();
    sleeper.wait();
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

}  // namespace
