#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "quorvane/Trace.h"
#include "quorvane/Tracer.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::ChildProcess;
using quorvane::test::Event;
using quorvane::test::uniqueName;

constexpr std::uint32_t kSmallRing = 4;
// Short, so that the tests that make a post wait stay quick; no result depends on it.
constexpr std::uint32_t kShortWaitMs = 20;
constexpr DWORD kNoWait = 0;
constexpr DWORD kSettleMs = 100;

// The receiving end of a test mailbox; it also keeps the ring alive between posts.
struct Ring {
    Ring(const std::string& name, std::uint32_t slots)
        : mailbox(slots, kTraceRecordSize, name.c_str()) {}

    std::vector<TraceRecord> drain() {
        std::vector<TraceRecord> records;
        TraceRecord record{};
        while (mailbox.receive(&record, kNoWait)) records.push_back(record);
        return records;
    }

    CMclMailbox mailbox;
};

quorvane::TracerOptions optionsFor(const std::string& name, std::uint32_t slots,
                                   const std::string& presence) {
    quorvane::TracerOptions options;
    options.mailboxName = name;
    options.slotCount = slots;
    options.presenceMutexName = presence;
    options.fullRingWaitMs = kShortWaitMs;
    options.viewerProbeIntervalMs = 0;
    return options;
}

// A process that holds the presence mutex, as a running viewer does, until destroyed.
class FakeViewer {
  public:
    explicit FakeViewer(const std::string& presence)
        : m_process([this, presence](ChildProcess&) {
              CMutexSimple mutex;
              if (!mutex.getMutex(presence.c_str())) return 1;
              m_held.notify();
              m_quit.await();
              return 0;
          }) {}
    ~FakeViewer() { m_quit.notify(); }

    bool started() { return m_held.await(); }
    int stop() {
        m_quit.notify();
        return m_process.wait();
    }

  private:
    Event m_held;
    Event m_quit;
    ChildProcess m_process;
};

// Leaves non-zero bytes on the stack where a trace call's record will be built next.
[[gnu::noinline]] void dirtyStack() {
    volatile unsigned char bytes[8192];
    for (auto& byte : bytes) byte = 0x5A;
}

// Whether every byte of `field` past its text is zero, as saved files and peers compare them.
template <std::size_t Width>
bool zeroPastText(const char (&field)[Width]) {
    for (std::size_t i = strnlen(field, Width); i < Width; ++i)
        if (field[i] != 0) return false;
    return true;
}

class TracerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        quorvane::clearThreadSenderKey();
        quorvane::setOriginName(nullptr);
    }

    const std::string m_name = uniqueName("tracer");
    const std::string m_presence = uniqueName("tracer-presence");
};

TEST_F(TracerTest, PostedTextRecordCarriesSenderOriginTimeAndDelta) {
    Ring ring(m_name, kSmallRing);
    quorvane::Tracer tracer(optionsFor(m_name, kSmallRing, m_presence));
    quorvane::setOriginName("unit-origin");
    quorvane::setThreadSenderKey(4711);

    timespec before{};
    timespec after{};
    ::clock_gettime(CLOCK_REALTIME, &before);
    dirtyStack();
    ASSERT_TRUE(tracer.postFormat(1, "load", "path=%s size=%d", "/tmp/x", 12));
    quorvane::clearThreadSenderKey();
    quorvane::setOriginName(nullptr);
    dirtyStack();
    ASSERT_TRUE(tracer.postText(-1, "load", nullptr));
    ::clock_gettime(CLOCK_REALTIME, &after);

    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].entryName, "load");
    EXPECT_STREQ(records[0].entryText, "path=/tmp/x size=12");
    EXPECT_STREQ(records[0].originName, "unit-origin");
    EXPECT_EQ(records[0].depthDelta, 1);
    EXPECT_EQ(records[0].senderKey, 4711u);
    // Copied out: the packed field is not aligned for a reference.
    const std::int64_t stamped = records[0].timestamp;
    EXPECT_GE(stamped, before.tv_sec);
    EXPECT_LE(stamped, after.tv_sec);
    // The precise time lies between the two clock reads, and the records say they carry it.
    // Nothing of the stack they were built on shows past their texts.
    for (const TraceRecord& record : records) {
        EXPECT_TRUE(zeroPastText(record.entryName));
        EXPECT_TRUE(zeroPastText(record.entryText));
        EXPECT_TRUE(zeroPastText(record.originName));
        ASSERT_TRUE(quorvane::carriesPreciseTime(record));
        const auto at = std::make_pair(static_cast<long>(record.timestamp),
                                       static_cast<long>(record.nanoseconds));
        EXPECT_GE(at, std::make_pair(static_cast<long>(before.tv_sec), before.tv_nsec));
        EXPECT_LE(at, std::make_pair(static_cast<long>(after.tv_sec), after.tv_nsec));
    }
    EXPECT_EQ(records[1].sequence, records[0].sequence + 1);

    EXPECT_STREQ(records[1].entryText, "");
    EXPECT_EQ(records[1].depthDelta, -1);
    EXPECT_EQ(records[1].senderKey, static_cast<std::uint32_t>(gettid()));
    EXPECT_STREQ(records[1].originName, program_invocation_short_name);
    EXPECT_EQ(tracer.postedCount(), 2u);
    EXPECT_EQ(tracer.droppedCount(), 0u);
}

TEST_F(TracerTest, RawRecordIsPostedUnchanged) {
    Ring ring(m_name, kSmallRing);
    quorvane::Tracer tracer(optionsFor(m_name, kSmallRing, m_presence));
    TraceRecord record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(i * 13);
    ASSERT_TRUE(tracer.post(record));
    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::memcmp(&records[0], &record, sizeof record), 0);
}

TEST_F(TracerTest, FullRingWithoutViewerDropsAtOnceUntilAPostSucceeds) {
    Ring ring(m_name, kSmallRing);
    quorvane::Tracer tracer(optionsFor(m_name, kSmallRing, m_presence));
    ASSERT_FALSE(tracer.viewerRunning());
    for (std::uint32_t i = 0; i < kSmallRing; ++i) ASSERT_TRUE(tracer.postText(0, "fill", nullptr));

    EXPECT_FALSE(tracer.postText(0, "lost", "1"));
    EXPECT_FALSE(tracer.postText(0, "lost", "2"));
    EXPECT_EQ(tracer.droppedCount(), 2u);
    EXPECT_EQ(tracer.fullRingWaitCount(), 0u) << "nobody reads: no reason to wait";

    TraceRecord taken{};
    ASSERT_TRUE(ring.mailbox.receive(&taken, kNoWait));
    EXPECT_TRUE(tracer.postText(0, "after", nullptr));
    EXPECT_EQ(tracer.postedCount(), kSmallRing + 1);

    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), kSmallRing);
    EXPECT_STREQ(records.back().entryName, "after");
    // The two dropped records took their sequence numbers: the gap says two were lost.
    EXPECT_EQ(records[records.size() - 2].sequence, taken.sequence + kSmallRing - 1);
    EXPECT_EQ(records.back().sequence, taken.sequence + kSmallRing + 2);
}

TEST_F(TracerTest, FullRingWithViewerWaitsOnceThenNotAgainUntilAPostSucceeds) {
    Ring ring(m_name, kSmallRing);
    FakeViewer viewer(m_presence);
    ASSERT_TRUE(viewer.started());
    quorvane::Tracer tracer(optionsFor(m_name, kSmallRing, m_presence));
    ASSERT_TRUE(tracer.viewerRunning());
    for (std::uint32_t i = 0; i < kSmallRing; ++i) ASSERT_TRUE(tracer.postText(0, "fill", nullptr));

    EXPECT_FALSE(tracer.postText(0, "lost", "waited"));
    EXPECT_EQ(tracer.fullRingWaitCount(), 1u);
    EXPECT_FALSE(tracer.postText(0, "lost", "not waited"));
    EXPECT_FALSE(tracer.postText(0, "lost", "not waited either"));
    EXPECT_EQ(tracer.fullRingWaitCount(), 1u);
    EXPECT_EQ(tracer.droppedCount(), 3u);

    TraceRecord taken{};
    ASSERT_TRUE(ring.mailbox.receive(&taken, kNoWait));
    EXPECT_TRUE(tracer.postText(0, "room again", nullptr));
    EXPECT_EQ(tracer.fullRingWaitCount(), 1u);

    EXPECT_FALSE(tracer.postText(0, "lost", "waits again"));
    EXPECT_EQ(tracer.fullRingWaitCount(), 2u);
    EXPECT_EQ(tracer.droppedCount(), 4u);
    EXPECT_EQ(viewer.stop(), 0);
}

TEST_F(TracerTest, PostWaitingForAViewerSucceedsWhenTheViewerMakesRoom) {
    Ring ring(m_name, 1);
    FakeViewer viewer(m_presence);
    ASSERT_TRUE(viewer.started());
    quorvane::TracerOptions options = optionsFor(m_name, 1, m_presence);
    options.fullRingWaitMs = quorvane::test::kHangLimit.count();
    quorvane::Tracer tracer(options);
    ASSERT_TRUE(tracer.postText(0, "first", nullptr));

    Event drained;
    ChildProcess reader([&](ChildProcess&) {
        CMclMailbox mailbox(1, kTraceRecordSize, m_name.c_str());
        TraceRecord record{};
        drained.notify();
        // Give the post time to find the ring full and start waiting; the outcome does not
        // depend on it.
        Sleep(kSettleMs);
        return mailbox.receive(&record, quorvane::test::kHangLimit.count()) ? 0 : 1;
    });
    ASSERT_TRUE(drained.await());
    EXPECT_TRUE(tracer.postText(0, "second", nullptr));
    EXPECT_EQ(reader.wait(), 0);
    EXPECT_EQ(tracer.droppedCount(), 0u);
    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].entryName, "second");
}

TEST_F(TracerTest, ViewerProbeLeavesNoMutexBehindAndIsReusedWithinItsInterval) {
    quorvane::TracerOptions options = optionsFor(m_name, kSmallRing, m_presence);
    options.viewerProbeIntervalMs = 3600 * 1000;
    quorvane::Tracer cached(options);
    EXPECT_FALSE(cached.viewerRunning());

    // The probe created the mutex only to find it unused, and closed it again.
    HANDLE probe = CreateMutexA(nullptr, FALSE, m_presence.c_str());
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(probe);

    FakeViewer viewer(m_presence);
    ASSERT_TRUE(viewer.started());
    EXPECT_FALSE(cached.viewerRunning()) << "the first finding holds for the interval";
    quorvane::Tracer fresh(optionsFor(m_name, kSmallRing, m_presence));
    EXPECT_TRUE(fresh.viewerRunning());
    EXPECT_EQ(viewer.stop(), 0);
    EXPECT_FALSE(fresh.viewerRunning());
}

TEST_F(TracerTest, UnopenableMailboxDisablesTracingAndKeepsTheReason) {
    const std::string tooLong(CMclMailbox::kMaxNameLength + 1, 'q');
    quorvane::Tracer longName(optionsFor(tooLong, kSmallRing, m_presence));
    EXPECT_EQ(longName.disabledCode(), 0u) << "nothing is tried before the first use";
    EXPECT_FALSE(longName.enabled());
    EXPECT_FALSE(longName.postText(0, "x", nullptr));
    EXPECT_EQ(longName.disabledCode(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_NE(std::string(longName.disabledReason()).find("longer than 229"), std::string::npos)
        << longName.disabledReason();
    EXPECT_EQ(longName.postedCount(), 0u);
    EXPECT_EQ(longName.droppedCount(), 0u);

    HANDLE squatter = CreateMutexA(nullptr, FALSE, m_name.c_str());
    ASSERT_NE(squatter, nullptr);
    quorvane::Tracer taken(optionsFor(m_name, kSmallRing, m_presence));
    EXPECT_FALSE(taken.enabled());
    EXPECT_EQ(taken.disabledCode(), ERROR_INVALID_HANDLE);
    const std::string reason = taken.disabledReason();
    EXPECT_NE(reason.find("\"" + m_name + "\""), std::string::npos) << reason;
    EXPECT_NE(reason.find("another kind of object"), std::string::npos) << reason;
    CloseHandle(squatter);
    EXPECT_FALSE(taken.enabled()) << "a failed open is not retried at once";

    Ring other(m_name, kSmallRing);
    quorvane::Tracer mismatch(optionsFor(m_name, kSmallRing * 2, m_presence));
    EXPECT_FALSE(mismatch.enabled());
    EXPECT_EQ(mismatch.disabledCode(), ERROR_INVALID_PARAMETER);
}

TEST_F(TracerTest, StoppedGuardHolderKeepsTracingOffUntilItIsGoneThenTracingResumes) {
    Ring ring(m_name, kSmallRing);
    Event holding;
    ChildProcess holder([&](ChildProcess&) {
        HANDLE guard = CreateMutexA(nullptr, FALSE, ("MailboxGuardMutex::" + m_name).c_str());
        if (guard == nullptr || WaitForSingleObject(guard, INFINITE) != WAIT_OBJECT_0) return 1;
        holding.notify();
        ::raise(SIGSTOP);
        return 0;
    });
    ASSERT_TRUE(holding.await());

    quorvane::TracerOptions options = optionsFor(m_name, kSmallRing, m_presence);
    options.openTimeoutMs = 30;
    options.reopenIntervalMs = 50;
    quorvane::Tracer tracer(options);
    EXPECT_FALSE(tracer.postText(0, "while stopped", nullptr));
    EXPECT_EQ(tracer.disabledCode(), ERROR_TIMEOUT);
    const std::string reason = tracer.disabledReason();
    EXPECT_NE(reason.find("process " + std::to_string(holder.pid())), std::string::npos) << reason;

    ::kill(holder.pid(), SIGKILL);
    holder.wait();
    const auto limit = std::chrono::steady_clock::now() + quorvane::test::kHangLimit;
    while (!tracer.enabled() && std::chrono::steady_clock::now() < limit) ::usleep(10000);
    ASSERT_TRUE(tracer.enabled());
    EXPECT_EQ(tracer.disabledCode(), 0u);
    EXPECT_STREQ(tracer.disabledReason(), "");
    ASSERT_TRUE(tracer.postText(0, "after", nullptr));
    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].entryName, "after");
}

TEST_F(TracerTest, ScopePostsEntryAndLeaveWithTheSameName) {
    Ring ring(m_name, 8);
    quorvane::Tracer tracer(optionsFor(m_name, 8, m_presence));
    {
        quorvane::Scope outer(tracer, std::string("outer").c_str(), "n=%d", 3);
        EXPECT_TRUE(outer.entered());
        quorvane::Scope inner(tracer, "inner");
    }
    const std::vector<TraceRecord> records = ring.drain();
    ASSERT_EQ(records.size(), 4u);
    const struct {
        const char* name;
        const char* text;
        int delta;
    } expected[] = {{"outer", "n=3", 1}, {"inner", "", 1}, {"inner", "", -1}, {"outer", "", -1}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_STREQ(records[i].entryName, expected[i].name) << i;
        EXPECT_STREQ(records[i].entryText, expected[i].text) << i;
        EXPECT_EQ(records[i].depthDelta, expected[i].delta) << i;
    }
}

TEST_F(TracerTest, ScopeWhoseEntryWasDroppedPostsNoLeave) {
    Ring ring(m_name, 1);
    quorvane::Tracer tracer(optionsFor(m_name, 1, m_presence));
    ASSERT_TRUE(tracer.postText(0, "fill", nullptr));
    {
        quorvane::Scope dropped(tracer, "dropped");
        EXPECT_FALSE(dropped.entered());
        EXPECT_EQ(ring.drain().size(), 1u);
    }
    EXPECT_TRUE(ring.drain().empty());
    EXPECT_EQ(tracer.droppedCount(), 1u);
}

}  // namespace
