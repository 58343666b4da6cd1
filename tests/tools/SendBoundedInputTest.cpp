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
#include "tools/syslog/RepeatFilter.h"

namespace {

using quorvane::test::Subprocess;

// Growth in KiB that no buffer of a bounded reader or filter comes near.
constexpr long kBoundedGrowthKiB = 4096;

class SendBoundedInputTest : public tooltest::ToolsTest {
  protected:
    void start(const char* mode) {
        m_send.emplace(tooltest::throughShell({QUORVANE_SEND, mode}), environment());
        m_pid = std::stoi(m_send->readLine().value_or("0"));
    }
    // Writes `input` and takes the `count` records it makes.
    std::vector<TraceRecord> post(std::string_view input, std::size_t count) {
        EXPECT_TRUE(m_send->writeInput(input));
        std::vector<TraceRecord> records(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_mailbox.receive(&records[i],
                                   static_cast<DWORD>(quorvane::test::kHangLimit.count()))) {
                ADD_FAILURE() << "record " << i + 1 << " of " << count << " not posted";
                return {};
            }
        }
        return records;
    }
    // A field of /proc/PID/status in KiB: VmHWM, the peak resident size, or RssAnon, the resident
    // size without shared memory (the mailbox's slots) and files.
    long statusKiB(std::string_view field) const {
        std::ifstream file("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(file, line);) {
            if (line.starts_with(field) && line[field.size()] == ':')
                return std::stol(line.substr(field.size() + 1));
        }
        return -1;
    }

    std::optional<Subprocess> m_send;
    pid_t m_pid = 0;
};

TEST_F(SendBoundedInputTest, AnOverlongLineIsReadInBoundedMemoryAndTheLineAfterItIsPosted) {
    const std::string filler(std::size_t{32} << 20, 'x');
    for (const bool syslog : {false, true}) {
        start(syslog ? "--syslog" : "--lines");
        const std::string head = syslog ? "<15>1 - h app 1 - - " : "";
        ASSERT_EQ(post(head + "before\n", 1).size(), 1u);
        const long before = statusKiB("VmHWM");
        ASSERT_TRUE(m_send->writeInput(head) && m_send->writeInput(filler));
        const std::vector<TraceRecord> records = post("\n" + head + "after\n", 2);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].entryText, std::string(TraceRecord::kEntryTextSize - 1, 'x'));
        EXPECT_STREQ(records[1].entryText, "after");
        EXPECT_LT(statusKiB("VmHWM") - before, kBoundedGrowthKiB) << "syslog " << syslog;
        const Subprocess::Result ended = m_send->finish();
        EXPECT_EQ(ended.status, 0) << ended.out;
        EXPECT_NE(ended.out.find(syslog ? "1 over-long lines cut to 8192 bytes"
                                        : "1 lines longer than 511 bytes cut"),
                  std::string::npos)
            << ended.out;
    }
}

TEST_F(SendBoundedInputTest, AFloodOfForwarderRunsKeepsTheRepeatFilterBounded) {
    const auto runs = [](std::size_t from, std::size_t to) {
        std::string input;
        for (std::size_t run = from; run < to; ++run) {
            input += "<15>1 - h app 1 trace [quorvane@32473 run=\"" + std::to_string(run) +
                     "\" line=\"1\" depth=\"0\" name=\"n\" time=\"1\"] t\n";
        }
        return input;
    };
    constexpr std::size_t kFull = 2 * RepeatFilter::kMaxRuns;
    constexpr std::size_t kFlood = 16 * RepeatFilter::kMaxRuns;  // 112 MiB more were it unbounded
    start("--syslog");
    post(runs(0, kFull), kFull);
    const long full = statusKiB("RssAnon");
    post(runs(kFull, kFlood), kFlood - kFull);
    EXPECT_LT(statusKiB("RssAnon") - full, kBoundedGrowthKiB);

    // The first run, long forgotten, is taken as new; the run seen last is still known.
    post(runs(0, 1), 1);
    ASSERT_TRUE(m_send->writeInput(runs(kFlood - 1, kFlood)));
    const Subprocess::Result ended = m_send->finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    EXPECT_NE(ended.out.find("1 repeated traces skipped"), std::string::npos) << ended.out;
}

}  // namespace
