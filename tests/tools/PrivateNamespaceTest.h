#pragma once
// A fixture for tests of tools that must not meet another test's (or a desktop's) readers: a
// name space of its own (XDG_RUNTIME_DIR) and a mailbox in it that this test holds open, named
// in QUORVANE_MAILBOX for the tools it starts.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/Names.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "transport/CMclMailbox.h"

namespace tooltest {

class PrivateNamespaceTest : public ::testing::Test {
  protected:
    explicit PrivateNamespaceTest(const char* stem) : m_name(quorvane::test::uniqueName(stem)) {}

    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "quorvane-tools-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_directory = pattern;
        if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) m_previousRuntime = previous;
        ::setenv("XDG_RUNTIME_DIR", m_directory.c_str(), 1);
        ::setenv("QUORVANE_MAILBOX", m_name.c_str(), 1);
        m_mailbox =
            std::make_unique<CMclMailbox>(quorvane::kMailSlots, kTraceRecordSize, m_name.c_str());
    }

    void TearDown() override {
        m_mailbox.reset();
        ::unsetenv("QUORVANE_MAILBOX");
        if (m_previousRuntime.empty()) {
            ::unsetenv("XDG_RUNTIME_DIR");
        } else {
            ::setenv("XDG_RUNTIME_DIR", m_previousRuntime.c_str(), 1);
        }
        std::filesystem::remove_all(m_directory);
    }

    std::vector<TraceRecord> drain() {
        std::vector<TraceRecord> records;
        TraceRecord record{};
        while (m_mailbox->receive(&record, 0)) records.push_back(record);
        return records;
    }

    const std::string m_name;
    std::string m_directory;
    std::string m_previousRuntime;
    std::unique_ptr<CMclMailbox> m_mailbox;
};

}  // namespace tooltest
