#pragma once
// The fixture the tests of quorvane-send, quorvane-tail and quorvane-demo share: a mailbox of its
// own that this test holds open, so that records outlive the tool that posted them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "transport/CMclMailbox.h"

namespace tooltest {

inline constexpr std::uint32_t kMailSlots = 32768;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

class ToolsTest : public ::testing::Test {
  protected:
    std::vector<std::pair<std::string, std::string>> environment() const {
        return {{"QUORVANE_MAILBOX", m_name}};
    }

    std::vector<TraceRecord> drain() {
        std::vector<TraceRecord> records;
        TraceRecord record{};
        while (m_mailbox.receive(&record, 0)) records.push_back(record);
        return records;
    }

    const std::string m_name = quorvane::test::uniqueName("tools");
    CMclMailbox m_mailbox{kMailSlots, kTraceRecordSize, m_name.c_str()};
};

}  // namespace tooltest
