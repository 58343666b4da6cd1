// quorvane-tail's precise times, durations and exports, on the nested scopes of a real
// quorvane-demo run, each output read by a real consumer: jq for the JSON.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolsFixture.h"

namespace {

using quorvane::test::run;
using quorvane::test::Subprocess;
using tooltest::ToolsTest;

// Runs jq with `options` over `input` and returns its output without the last newline.
std::string jq(const std::vector<std::string>& options, const std::string& input) {
    std::vector<std::string> command{QUORVANE_JQ};
    command.insert(command.end(), options.begin(), options.end());
    const Subprocess::Result result = run(command, input);
    EXPECT_EQ(result.status, 0) << result.err;
    std::string out = result.out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

class TailFormatsTest : public ToolsTest {
  protected:
    void SetUp() override {
        const Subprocess::Result demo = run({QUORVANE_DEMO, "--seconds", "1"}, {}, environment());
        ASSERT_EQ(demo.status, 0) << demo.err;
        m_records = drain();
        ASSERT_GT(m_records.size(), 20u);
    }

    // Posts the demo's records again, unchanged, and returns what quorvane-tail prints of them.
    std::string tail(const std::vector<std::string>& options) {
        const std::string raw(reinterpret_cast<const char*>(m_records.data()),
                              m_records.size() * sizeof(TraceRecord));
        EXPECT_EQ(run({QUORVANE_SEND, "--raw"}, raw, environment()).status, 0);
        std::vector<std::string> command{QUORVANE_TAIL, "--idle=300"};
        command.insert(command.end(), options.begin(), options.end());
        const Subprocess::Result tailed = run(command, {}, environment());
        EXPECT_EQ(tailed.status, 0) << tailed.err;
        return tailed.out;
    }

    std::vector<TraceRecord> m_records;
};

TEST_F(TailFormatsTest, JsonLinesCarryEveryFieldAndEachLeavesDurationFromItsEntry) {
    const std::string lines = tail({"--format=jsonl"});
    EXPECT_EQ(jq({"-s", "length"}, lines), std::to_string(m_records.size()));
    EXPECT_EQ(jq({"-s",
                  "all(.[]; .nanoseconds != null and .sequence != null and .origin == "
                  "\"quorvane-demo\" and .name != null and .depth >= 0)"},
                 lines),
              "true");
    // Every leave names its entry line: same sender and name, and the duration is the difference
    // of their precise times. The demo closes every scope it opens.
    const char* pairs =
        "INDEX(.line) as $by | [.[] | select(.delta < 0)] | map(. as $leave | $by[.entry_line "
        "| tostring] as $entry | $entry != null and $entry.delta > 0 and $entry.name == .name "
        "and $entry.sender == .sender and .duration_ns == (.timestamp - $entry.timestamp) * "
        "1000000000 + .nanoseconds - $entry.nanoseconds) | [length, all]";
    EXPECT_EQ(jq({"-s", "-c", pairs}, lines),
              "[" + jq({"-s", "[.[] | select(.delta < 0)] | length"}, lines) + ",true]");
}

// Every B has its E on the same thread, in order, and no scope is left open or closed twice.
TEST_F(TailFormatsTest, TraceEventsNestPerThreadInTimeOrder) {
    const std::string document = tail({"--format=trace-event"});
    const char* nesting =
        "reduce (.traceEvents[] | select(.ph == \"B\" or .ph == \"E\")) as $e ({ok: true, open: "
        "{}, last: {}}; (($e.pid | tostring) + \"/\" + ($e.tid | tostring)) as $t | .ok = (.ok "
        "and ($e.ts >= (.last[$t] // 0))) | .last[$t] = $e.ts | if $e.ph == \"B\" then "
        ".open[$t] += [$e.name] else .ok = (.ok and ((.open[$t] // []) | length > 0 and "
        ".[-1] == $e.name)) | .open[$t] |= .[:-1] end) | .ok and all(.open[]; length == 0)";
    EXPECT_EQ(jq({nesting}, document), "true");
    EXPECT_EQ(jq({"[.traceEvents[] | select(.ph == \"B\")] | length"}, document),
              jq({"[.traceEvents[] | select(.ph == \"E\")] | length"}, document));
    // The demo closes every scope it opens: none is left to the end of the export.
    EXPECT_EQ(jq({"[.traceEvents[] | select(.args.unfinished)] | length"}, document), "0");
    EXPECT_EQ(jq({"-c", "[.traceEvents[] | select(.ph == \"M\") | .args.name]"}, document),
              "[\"quorvane-demo\"]");
}

TEST_F(TailFormatsTest, PreciseLinesShowMicrosecondsAndLeavesTheirDuration) {
    std::istringstream lines(tail({"--time=precise", "--durations"}));
    const std::regex time(R"(^\d{5}\t\d+\t\d\d:\d\d:\d\d\.\d{6}\t)");
    const std::regex duration(R"(\t\d+(\.\d+)? (ns|µs|ms|s)$)");
    std::size_t index = 0;
    std::size_t leaves = 0;
    for (std::string line; std::getline(lines, line); ++index) {
        ASSERT_LT(index, m_records.size());
        EXPECT_TRUE(std::regex_search(line, time)) << line;
        const bool leave = m_records[index].depthDelta < 0;
        EXPECT_EQ(std::regex_search(line, duration), leave) << line;
        leaves += leave ? 1 : 0;
    }
    EXPECT_EQ(index, m_records.size());
    EXPECT_GT(leaves, 0u);
}

// Texts of every ASCII byte but NUL at every place, runs long and short, and Latin-1 bytes among
// them, through quorvane-send --raw and quorvane-tail --format=jsonl: jq must read back each text
// as it was, a Latin-1 byte as its own character.
TEST_F(ToolsTest, JsonLinesCarryEveryByteOfTheirTextsAsJqReadsThem) {
    std::mt19937 random(20261208);
    std::vector<TraceRecord> records(96);
    std::string expected;
    for (std::size_t i = 0; i < records.size(); ++i) {
        TraceRecord& record = records[i];
        record.senderKey = 1;
        std::strcpy(record.entryName, "text");
        std::strcpy(record.originName, "bytes");
        const std::size_t length = 1 + random() % (i % 3 == 0 ? 24 : sizeof record.entryText - 1);
        std::string codes;
        for (std::size_t at = 0; at < length; ++at) {
            // Mostly printable, often a byte that needs escaping, now and then Latin-1 "é"
            // (never followed by a byte that would make it UTF-8).
            const unsigned pick = random() % 16;
            const auto byte = static_cast<unsigned char>(
                pick == 0 ? 0xE9 : pick < 4 ? 1 + random() % 0x7F : 0x20 + random() % 0x5F);
            record.entryText[at] = static_cast<char>(byte);
            codes += (codes.empty() ? "" : ",") + std::to_string(byte);
        }
        expected += "[" + codes + "]\n";
    }
    const std::string raw(reinterpret_cast<const char*>(records.data()),
                          records.size() * sizeof(TraceRecord));
    ASSERT_EQ(run({QUORVANE_SEND, "--raw"}, raw, environment()).status, 0);
    const Subprocess::Result tailed =
        run({QUORVANE_TAIL, "--idle=300", "--format=jsonl"}, {}, environment());
    ASSERT_EQ(tailed.status, 0) << tailed.err;
    expected.pop_back();
    EXPECT_EQ(jq({"-c", ".text | explode"}, tailed.out), expected);
}

}  // namespace
