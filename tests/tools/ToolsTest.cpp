// quorvane-send, quorvane-tail and quorvane-demo run as real processes against a mailbox this test
// holds open: their records, options, usage errors and ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"
#include "transport/CMclMailbox.h"

namespace {

using quorvane::test::run;
using quorvane::test::Subprocess;
using tooltest::formatAll;
using tooltest::kExitFailure;
using tooltest::kExitUsage;
using tooltest::kMailSlots;
using tooltest::makeRecord;
using tooltest::throughShell;
using tooltest::ToolsTest;

TEST_F(ToolsTest, SendRawIntoTailPrintsEachRecordAsTheViewerShowsIt) {
    std::vector<TraceRecord> records = {
        makeRecord("main", "argc=2", "app", 1, 100, 1700000000),
        makeRecord("parse", "", "app", 1, 100, 1700000001),
        makeRecord("other", "sender zero", "lib", 0, 0, 0),
        makeRecord("token", "'x'", "app", 0, 100, 1700000002),
        makeRecord("parse", "", "app", -1, 100, 1700000003),
        makeRecord("main", "", "app", -1, 100, 1700000004),
        makeRecord("", "", "", -1, 7, 86399),
    };
    // Bytes the viewer never reads travel unchanged and change nothing.
    std::memset(&records[0].nanoseconds, 0xAB, 8);  // nanoseconds and sequence
    std::memset(&records[0].marker, 0xCD, sizeof records[0].marker);

    Subprocess tail({QUORVANE_TAIL, "-n", std::to_string(records.size())}, environment());
    const Subprocess::Result send =
        run({QUORVANE_SEND, "--raw"},
            std::string_view(reinterpret_cast<const char*>(records.data()),
                             records.size() * sizeof(TraceRecord)),
            environment());
    EXPECT_EQ(send.status, 0) << send.err;
    const Subprocess::Result printed = tail.finish();
    EXPECT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.out, formatAll(records));
    EXPECT_TRUE(drain().empty()) << "tail took exactly its count";
}

TEST_F(ToolsTest, SendPostsOneRecordWithTheGivenFields) {
    const Subprocess::Result sent =
        run({QUORVANE_SEND, "-o", "script", "-k", "9", "-d", "-3", "finish", "all", "done"}, {},
            environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const Subprocess::Result entered = run({QUORVANE_SEND, "--enter", "begin"}, {}, environment());
    ASSERT_EQ(entered.status, 0) << entered.err;

    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].entryName, "finish");
    EXPECT_STREQ(records[0].entryText, "all done");
    EXPECT_STREQ(records[0].originName, "script");
    EXPECT_EQ(records[0].senderKey, 9u);
    EXPECT_EQ(records[0].depthDelta, -3);

    EXPECT_STREQ(records[1].entryText, "");
    EXPECT_EQ(records[1].depthDelta, 1);
    EXPECT_STREQ(records[1].originName, "quorvane-send");
    EXPECT_EQ(records[1].senderKey, static_cast<std::uint32_t>(getpid()))
        << "the calling process is the default sender";
}

TEST_F(ToolsTest, SendLinesPostsOneRecordPerInputLine) {
    const Subprocess::Result sent = run({QUORVANE_SEND, "--lines", "--leave", "-k", "42", "log"},
                                        "first line\n\nlast without newline", environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 3u);
    const char* texts[] = {"first line", "", "last without newline"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_STREQ(records[i].entryName, "log");
        EXPECT_STREQ(records[i].entryText, texts[i]);
        EXPECT_EQ(records[i].depthDelta, -1);
        EXPECT_EQ(records[i].senderKey, 42u);
    }
}

TEST_F(ToolsTest, SendRawRejectsATruncatedRecordAfterPostingTheWholeOnes) {
    const TraceRecord whole = makeRecord("whole", "", "o", 0, 1, 1);
    std::string input(reinterpret_cast<const char*>(&whole), sizeof whole);
    input.append(100, 'x');
    const Subprocess::Result sent = run({QUORVANE_SEND, "--raw"}, input, environment());
    EXPECT_EQ(sent.status, kExitFailure);
    EXPECT_NE(sent.err.find("ends inside a record (100 of 732 bytes)"), std::string::npos)
        << sent.err;
    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].entryName, "whole");
}

TEST_F(ToolsTest, SendWithTimeoutGivesUpOnAFullMailbox) {
    const TraceRecord filler = makeRecord("fill", "", "o", 0, 1, 1);
    for (std::uint32_t i = 0; i < kMailSlots; ++i) ASSERT_TRUE(m_mailbox.post(&filler, 0));

    const Subprocess::Result full =
        run({QUORVANE_SEND, "--timeout", "20", "late"}, {}, environment());
    EXPECT_EQ(full.status, kExitFailure);
    EXPECT_NE(full.err.find("record 1 not posted"), std::string::npos) << full.err;

    TraceRecord taken{};
    ASSERT_TRUE(m_mailbox.receive(&taken, 0));
    const Subprocess::Result room =
        run({QUORVANE_SEND, "--timeout", "20", "late"}, {}, environment());
    EXPECT_EQ(room.status, 0) << room.err;
}

TEST_F(ToolsTest, ToolsReportAMailboxThatCannotBeOpened) {
    const std::vector<std::pair<std::string, std::string>> tooLong = {
        {"QUORVANE_MAILBOX", std::string(CMclMailbox::kMaxNameLength + 1, 'n')}};
    const std::vector<std::vector<std::string>> invocations = {{QUORVANE_SEND, "x"},
                                                               {QUORVANE_TAIL, "-n", "1"}};
    for (const auto& arguments : invocations) {
        const Subprocess::Result result = run(arguments, {}, tooLong);
        EXPECT_EQ(result.status, kExitFailure) << arguments[0];
        EXPECT_NE(result.err.find("cannot open mailbox"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("error 206"), std::string::npos) << result.err;
    }
}

TEST_F(ToolsTest, TailEndsCleanlyOnSigintAndSigterm) {
    for (int signalNumber : {SIGINT, SIGTERM}) {
        Subprocess tail({QUORVANE_TAIL}, environment());
        const TraceRecord record = makeRecord("ping", "", "o", 0, 3, 0);
        ASSERT_TRUE(m_mailbox.post(&record, 0));
        // Once a line is out, the tail has its handlers and the mailbox.
        const std::optional<std::string> line = tail.readLine();
        ASSERT_TRUE(line.has_value());
        EXPECT_NE(line->find("ping()"), std::string::npos) << *line;
        tail.signal(signalNumber);
        const Subprocess::Result result = tail.finish();
        EXPECT_EQ(result.status, 0) << "signal " << signalNumber << ": " << result.err;
    }
}

TEST_F(ToolsTest, TailStopsAfterAnIdleSpellOrACountOfZero) {
    const Subprocess::Result idle = run({QUORVANE_TAIL, "--idle", "200"}, {}, environment());
    EXPECT_EQ(idle.status, 0) << idle.err;
    EXPECT_EQ(idle.out, "");

    const TraceRecord record = makeRecord("kept", "", "o", 0, 3, 0);
    ASSERT_TRUE(m_mailbox.post(&record, 0));
    const Subprocess::Result none = run({QUORVANE_TAIL, "-n", "0"}, {}, environment());
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(drain().size(), 1u) << "a count of zero takes nothing";
}

TEST_F(ToolsTest, UsageErrorsExitWithTwoAndHelpExitsWithZero) {
    const std::vector<std::vector<std::string>> misuses = {
        {QUORVANE_SEND},
        {QUORVANE_SEND, "--delta", "up", "x"},
        {QUORVANE_SEND, "--raw", "name"},
        {QUORVANE_SEND, "--bogus", "x"},
        {QUORVANE_TAIL, "extra"},
        {QUORVANE_TAIL, "-n", "-1"},
        {QUORVANE_SEND, "--delta", " -5", "x"},
        {QUORVANE_SEND, "--timeout", " 5", "x"},
        {QUORVANE_SEND, "--sender-key", "+5", "x"},
        {QUORVANE_TAIL, "--idle", "5 "},
        {QUORVANE_DEMO, "--seconds", "soon"},
        {QUORVANE_FORWARD, "--tcp", "no-port"},
        {QUORVANE_FORWARD, "--udp", "[::1]514"},
        {QUORVANE_FORWARD, "--idle", "-1"},
        {QUORVANE_SEND, "--confirm", "x"},
        {QUORVANE_SEND, "--syslog", "x"},
    };
    for (const auto& arguments : misuses) {
        const Subprocess::Result result = run(arguments, {}, environment());
        EXPECT_EQ(result.status, kExitUsage) << arguments[1] << " '" << arguments[2] << "'";
        EXPECT_NE(result.err.find("--help' for more information"), std::string::npos) << result.err;
    }
    for (const char* tool : {QUORVANE_SEND, QUORVANE_TAIL, QUORVANE_FORWARD, QUORVANE_DEMO}) {
        const Subprocess::Result help = run({tool, "--help"});
        EXPECT_EQ(help.status, 0) << tool;
        EXPECT_EQ(help.out.rfind("Usage: quorvane-", 0), 0u) << help.out;
        const Subprocess::Result version = run({tool, "--version"});
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_NE(version.out.find("(Quorvane)"), std::string::npos) << version.out;
    }
    EXPECT_TRUE(drain().empty());
}

TEST_F(ToolsTest, DemoTracesBalancedNestedScopesFromSeveralThreads) {
    const Subprocess::Result demo = run({QUORVANE_DEMO, "--seconds", "1"}, {}, environment());
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.err.find("posted"), std::string::npos) << demo.err;

    std::map<std::uint32_t, int> depth;
    int deepest = 0;
    const std::vector<TraceRecord> records = drain();
    for (const TraceRecord& record : records) {
        int& current = depth[record.senderKey];
        current += record.depthDelta;
        EXPECT_GE(current, 0) << record.entryName;
        deepest = std::max(deepest, current);
        EXPECT_STREQ(record.originName, "quorvane-demo");
    }
    EXPECT_GE(depth.size(), 3u) << "three threads trace";
    EXPECT_GE(deepest, 2) << "scopes nest";
    for (const auto& [sender, final] : depth) EXPECT_EQ(final, 0) << "sender " << sender;
}

TEST_F(ToolsTest, HelpAndVersionThatCannotBeWrittenExitWithOneAndSayWhy) {
    for (const char* tool : {QUORVANE_SEND, QUORVANE_TAIL, QUORVANE_FORWARD, QUORVANE_DEMO}) {
        for (const char* option : {"--help", "--version"}) {
            const Subprocess::Result full =
                run({"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", tool, option});
            EXPECT_EQ(full.status, kExitFailure) << tool << " " << option;
            EXPECT_NE(full.err.find("error writing standard output"), std::string::npos)
                << tool << " " << option << ": " << full.err;
        }
    }
}

TEST_F(ToolsTest, ARecordWithLineBreaksSentAndTailedStaysOneLine) {
    const Subprocess::Result sent =
        run({QUORVANE_SEND, "-o", "or\rigin", "-k", "5", "two\nlines", "text\r\nAfter: forged"}, {},
            environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const Subprocess::Result tailed = run({QUORVANE_TAIL, "--count=1"}, {}, environment());
    ASSERT_EQ(tailed.status, 0) << tailed.err;
    EXPECT_EQ(std::count(tailed.out.begin(), tailed.out.end(), '\n'), 1) << tailed.out;
    EXPECT_EQ(tailed.out.find('\r'), std::string::npos) << tailed.out;
    EXPECT_NE(tailed.out.find("\tor\\rigin\ttwo\\nlines(text\\r\\nAfter: forged)\n"),
              std::string::npos)
        << tailed.out;
}

}  // namespace
