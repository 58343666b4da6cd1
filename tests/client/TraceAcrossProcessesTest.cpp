// A separate program linked against libquorvane traces from three threads; this process
// receives the records and checks the lines the viewer would show.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "transport/CMclMailbox.h"

namespace {

using quorvane::test::run;
using quorvane::test::uniqueName;

constexpr int kThreads = 3;
constexpr int kRounds = 20;
constexpr std::uint32_t kMailSlots = 32768;

struct Expected {
    const char* name;
    std::string text;
    std::int32_t delta;
};

// What thread `index` of the probe traces, in order.
std::vector<Expected> scriptOf(int index) {
    std::vector<Expected> script{{"worker", "index=" + std::to_string(index), 1}};
    for (int round = 0; round < kRounds; ++round) {
        script.push_back({"round", std::to_string(round), 1});
        script.push_back(
            {"step", "thread " + std::to_string(index) + " round " + std::to_string(round), 0});
        script.push_back({"inner", "", 1});
        script.push_back({"inner", "", -1});
        script.push_back({"round", "", -1});
    }
    script.push_back({"worker", "", -1});
    return script;
}

std::vector<std::string> formatAll(const std::vector<TraceRecord>& records) {
    DepthTable depthTable;
    LineFormatter formatter(depthTable);
    std::vector<std::string> lines;
    for (const TraceRecord& record : records) {
        lines.emplace_back(
            formatter.formatLine(record, static_cast<std::uint32_t>(lines.size() + 1)));
        formatter.storeDepth();
    }
    return lines;
}

TEST(TraceAcrossProcessesTest, NestedScopesFromThreeThreadsArriveAsTheExpectedLines) {
    const std::string name = uniqueName("across");
    // Held here so the ring outlives the probe, which posts and exits before anything is read.
    CMclMailbox mailbox(kMailSlots, kTraceRecordSize, name.c_str());
    const std::time_t before = std::time(nullptr);
    const quorvane::test::Subprocess::Result probe =
        run({QUORVANE_CLIENT_PROBE, "scopes", std::to_string(kRounds)}, {},
            {{"QUORVANE_MAILBOX", name}});
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(probe.status, 0) << probe.err;

    std::map<std::uint32_t, int> threadOfSender;
    std::istringstream report(probe.out);
    std::string word;
    unsigned long long posted = 0;
    unsigned long long dropped = 0;
    while (report >> word) {
        if (word == "thread") {
            int index = 0;
            std::uint32_t threadId = 0;
            report >> index >> threadId;
            threadOfSender[threadId] = index;
        } else if (word == "posted") {
            report >> posted >> word >> dropped;
        }
    }
    ASSERT_EQ(threadOfSender.size(), static_cast<std::size_t>(kThreads)) << probe.out;
    const std::size_t perThread = scriptOf(0).size();
    EXPECT_EQ(posted, kThreads * perThread);
    EXPECT_EQ(dropped, 0u);

    std::vector<TraceRecord> received;
    TraceRecord record{};
    while (mailbox.receive(&record, 0)) received.push_back(record);
    ASSERT_EQ(received.size(), kThreads * perThread);

    // The expected records, in the order received: each sender's next step of its own script,
    // with the time the probe stamped (checked to lie within the run).
    std::map<std::uint32_t, std::size_t> progress;
    std::vector<TraceRecord> expected;
    for (const TraceRecord& got : received) {
        ASSERT_EQ(threadOfSender.count(got.senderKey), 1u) << "unknown sender " << got.senderKey;
        const std::vector<Expected> script = scriptOf(threadOfSender[got.senderKey]);
        const Expected& step = script.at(progress[got.senderKey]++);
        TraceRecord want{};
        std::snprintf(want.entryName, sizeof want.entryName, "%s", step.name);
        std::snprintf(want.entryText, sizeof want.entryText, "%s", step.text.c_str());
        std::snprintf(want.originName, sizeof want.originName, "%s", "client_probe");
        want.depthDelta = step.delta;
        want.senderKey = got.senderKey;
        want.timestamp = got.timestamp;
        // Copied out: the packed field is not aligned for a reference.
        const std::int64_t stamped = got.timestamp;
        EXPECT_GE(stamped, before);
        EXPECT_LE(stamped, after);
        expected.push_back(want);
    }
    EXPECT_EQ(formatAll(received), formatAll(expected));
}

TEST(TraceAcrossProcessesTest, MailboxNameIsReadFromTheEnvironmentOnce) {
    const quorvane::test::Subprocess::Result named =
        run({QUORVANE_CLIENT_PROBE, "mailbox-name"}, {}, {{"QUORVANE_MAILBOX", "OtherMailbox"}});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, "OtherMailbox\nOtherMailbox\n");

    const quorvane::test::Subprocess::Result empty =
        run({QUORVANE_CLIENT_PROBE, "mailbox-name"}, {}, {{"QUORVANE_MAILBOX", ""}});
    ASSERT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(empty.out, "QuorvaneTraceMailbox\nQuorvaneTraceMailbox\n");
}

TEST(TraceAcrossProcessesTest, ProgramWhoseMailboxCannotBeOpenedRunsWithTracingOff) {
    const quorvane::test::Subprocess::Result tooLong =
        run({QUORVANE_CLIENT_PROBE, "disabled"}, {},
            {{"QUORVANE_MAILBOX", std::string(CMclMailbox::kMaxNameLength + 1, 'm')}});
    ASSERT_EQ(tooLong.status, 0) << tooLong.err;
    EXPECT_NE(tooLong.out.find("enabled 0\ncode 206\nreason cannot open mailbox"),
              std::string::npos)
        << tooLong.out;
    EXPECT_NE(tooLong.out.find("posted 0\n"), std::string::npos) << tooLong.out;

    const std::string name = uniqueName("across-squatted");
    HANDLE squatter = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
    ASSERT_NE(squatter, nullptr);
    const quorvane::test::Subprocess::Result squatted =
        run({QUORVANE_CLIENT_PROBE, "disabled"}, {}, {{"QUORVANE_MAILBOX", name}});
    CloseHandle(squatter);
    ASSERT_EQ(squatted.status, 0) << squatted.err;
    EXPECT_NE(squatted.out.find("enabled 0\ncode 6\n"), std::string::npos) << squatted.out;
    EXPECT_NE(squatted.out.find("another kind of object"), std::string::npos) << squatted.out;
}

}  // namespace

namespace {

TEST(TraceAcrossProcessesTest, ProgramWrittenInCTracesThroughTheCInterface) {
    const std::string name = uniqueName("c-consumer");
    CMclMailbox mailbox(kMailSlots, kTraceRecordSize, name.c_str());
    const quorvane::test::Subprocess::Result program =
        run({QUORVANE_C_CONSUMER}, {}, {{"QUORVANE_MAILBOX", name}});
    ASSERT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(program.out, "posted 7 dropped 0\n");

    std::vector<TraceRecord> records;
    TraceRecord record{};
    while (mailbox.receive(&record, 0)) records.push_back(record);
    const std::vector<std::string> lines = formatAll(records);
    // The origin's tab, the indentation, the entry name and its text.
    const std::vector<std::string> expected = {
        "\tbranch(level=2)", "\t\tbranch(level=1)", "\t\t\tleaf(level=0)", "\t\tbranch()",
        "\tbranch()",        "\tplain()",           "\ttext(50% literal)"};
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_STREQ(records[i].originName, "c-consumer");
        const std::string& line = lines[i];
        EXPECT_EQ(line.substr(line.size() - expected[i].size()), expected[i]) << line;
    }
}

}  // namespace
