// quorvane-send keeps to bounded memory whatever its standard input holds: lines without end, and
// traces of ever new forwarder runs. Memory is read from /proc/PID/status of the real process.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"
#include "tools/RepeatFilter.h"

namespace {

using quorvane::test::kHangLimit;
using quorvane::test::Subprocess;
using tooltest::throughShell;
using tooltest::ToolsTest;

// A field of /proc/PID/status in KiB ("VmHWM", the peak resident size; "RssAnon", the resident
// size but shared memory and files, such as the mailbox's slots); -1 when unreadable.
long statusKiB(pid_t pid, std::string_view field) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Growth in KiB that no buffer of a bounded reader or filter comes near.
constexpr long kBoundedGrowthKiB = 4096;

class SendBoundedInputTest : public ToolsTest {
  protected:
    // Starts quorvane-send with `mode`, returning its process id.
    pid_t start(const char* mode) {
        m_send.emplace(throughShell({QUORVANE_SEND, mode}), environment());
        const std::optional<std::string> pid = m_send->readLine();
        return pid ? static_cast<pid_t>(std::stol(*pid)) : -1;
    }
    // Writes `input` and takes the `count` records it makes.
    std::vector<TraceRecord> post(std::string_view input, std::size_t count) {
        EXPECT_TRUE(m_send->writeInput(input));
        std::vector<TraceRecord> records(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_mailbox.receive(&records[i], static_cast<DWORD>(kHangLimit.count()))) {
                ADD_FAILURE() << "record " << i + 1 << " of " << count << " not posted";
                records.resize(i);
                break;
            }
        }
        return records;
    }

    std::optional<Subprocess> m_send;
};

TEST_F(SendBoundedInputTest, AnOverlongLineIsReadInBoundedMemoryAndTheLineAfterItIsPosted) {
    const std::string filler(std::size_t{32} << 20, 'x');
    const std::string kept(TraceRecord::kEntryTextSize - 1, 'x');
    for (const bool syslog : {false, true}) {
        const char* mode = syslog ? "--syslog" : "--lines";
        const std::string head = syslog ? "<15>1 - h app 1 - - " : "";
        const char* said =
            syslog ? "1 over-long lines cut to 8192 bytes" : "1 lines longer than 511 bytes cut";
        const pid_t pid = start(mode);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(post(head + "before\n", 1).size(), 1u);
        const long before = statusKiB(pid, "VmHWM");
        ASSERT_GT(before, 0);

        ASSERT_TRUE(m_send->writeInput(head));
        ASSERT_TRUE(m_send->writeInput(filler));
        const std::vector<TraceRecord> records = post("\n" + head + "after\n", 2);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].entryText, kept) << mode;
        EXPECT_STREQ(records[1].entryText, "after") << mode;
        EXPECT_LT(statusKiB(pid, "VmHWM") - before, kBoundedGrowthKiB) << mode;
        const Subprocess::Result ended = m_send->finish();
        EXPECT_EQ(ended.status, 0) << ended.out;
        EXPECT_NE(ended.out.find(said), std::string::npos) << ended.out;
    }
}

TEST_F(SendBoundedInputTest, AFloodOfForwarderRunsKeepsTheRepeatFilterBounded) {
    const auto trace = [](std::size_t run) {
        return "<15>1 - h app 1 trace [quorvane@32473 run=\"" + std::to_string(run) +
               "\" line=\"1\" depth=\"0\" name=\"n\" time=\"1\"] t\n";
    };
    const auto runs = [&](std::size_t from, std::size_t to) {
        std::string input;
        for (std::size_t run = from; run < to; ++run) input += trace(run);
        return input;
    };
    constexpr std::size_t kFull = 2 * RepeatFilter::kMaxRuns;
    constexpr std::size_t kFlood = 16 * RepeatFilter::kMaxRuns;  // 112 MiB more were it unbounded
    const pid_t pid = start("--syslog");
    ASSERT_GT(pid, 0);
    post(runs(0, kFull), kFull);
    const long full = statusKiB(pid, "RssAnon");
    ASSERT_GT(full, 0);
    post(runs(kFull, kFlood), kFlood - kFull);
    EXPECT_LT(statusKiB(pid, "RssAnon") - full, kBoundedGrowthKiB);

    // The run seen last is still known; the first, long forgotten, is taken as new.
    post(trace(0), 1);
    ASSERT_TRUE(m_send->writeInput(trace(kFlood - 1)));
    const Subprocess::Result ended = m_send->finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    EXPECT_NE(ended.out.find("1 repeated traces skipped"), std::string::npos) << ended.out;
}

}  // namespace
