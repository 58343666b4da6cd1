#pragma once
// What the viewer's tests share: a private environment per test process (mailbox name, registry
// folder, time zone, Qt platform), records posted from a forked child, waiting for a drain, and
// waiting for what the event loop brings about.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "records/TraceRecord.h"

class CQuorvaneDlg;
class CLogListModel;
class CSavedLogDlg;

namespace viewertest {

// Gives this process its own mailbox name and registry folder, UTC as local time, and the
// offscreen Qt platform unless one is chosen. Call before anything reads the environment.
void prepareEnvironment(const char* programPath);
// Removes the registry folder prepareEnvironment() made.
void cleanUpEnvironment();

TraceRecord makeRecord(const char* entryName, const char* entryText, const char* origin,
                       std::uint32_t senderKey, std::int32_t depthDelta = 0,
                       std::int64_t timestamp = 36000);

// Posts `records` into the viewer's mailbox from a forked child; true when the child posted all.
bool postFromChild(const std::vector<TraceRecord>& records);

// Runs one poll tick and lets the event loop turn until its drain has finished.
void drainNow(CQuorvaneDlg& dialog);

// How long a test waits for what the event loop should bring about before it fails.
inline constexpr int kWaitMs = 5000;

// Turns the event loop until `condition` holds or `timeoutMs` have passed. The result is a
// GoogleTest failure naming `what` when the time ran out first, so that the test fails: wrap it
// in ASSERT_TRUE (or EXPECT_TRUE to go on after it).
::testing::AssertionResult waitUntil(const char* what, const std::function<bool()>& condition,
                                     int timeoutMs = kWaitMs);

// As waitUntil(), until `value()` equals `expected`; a failure says the last value seen.
template <typename Value, typename Expected>
::testing::AssertionResult waitForValue(const char* what, const Value& value,
                                        const Expected& expected, int timeoutMs = kWaitMs) {
    auto last = value();
    if (waitUntil(
            what,
            [&] {
                last = value();
                return last == expected;
            },
            timeoutMs)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << what << ": " << ::testing::PrintToString(last) << " after " << timeoutMs
           << " ms, expected " << ::testing::PrintToString(expected);
}

// The rows of `model`, top to bottom, as byte strings.
std::vector<std::string> rows(const CLogListModel& model);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Every read-only window now open, wherever it belongs; and all of them closed and deleted.
std::vector<CSavedLogDlg*> savedLogWindows();
void closeSavedLogWindows();

// A field of /proc/self/status in bytes ("RssAnon:   1234 kB"); 0 when absent.
std::size_t statusBytes(const std::string& field);

// The registry flag, or -1 when it is absent.
long long readRegistryFlag();
void writeRegistryFlag(std::uint32_t value);

}  // namespace viewertest
