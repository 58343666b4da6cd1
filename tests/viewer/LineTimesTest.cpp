// What the live window's records say of time beyond their lines: precise times, durations on
// both ends of a scope, losses, open and unfinished scopes, through a real mailbox and drain; and
// the lines themselves untouched by any of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMclMailbox.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/live/RecordDrain.h"

namespace {

constexpr int kAmpleSliceMs = 60000;
constexpr std::int64_t kBase = 1'700'000'000;  // whole seconds of every record here

// A record as the client library stamps it.
TraceRecord timed(std::uint32_t sender, std::uint32_t sequence, std::int32_t delta,
                  const char* name, std::uint32_t nanoseconds, std::int64_t second = kBase) {
    TraceRecord record = viewertest::makeRecord(name, "", "app", sender, delta);
    record.timestamp = second;
    record.nanoseconds = nanoseconds;
    record.sequence = sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    return record;
}

class LineTimesTest : public ::testing::Test {
  protected:
    void post(const std::vector<TraceRecord>& records) {
        for (const TraceRecord& record : records) ASSERT_TRUE(mailbox.post(&record, 0));
        drain.drainSlice(mailbox, model, false, kAmpleSliceMs);
    }

    // Row `row` as the list shows it with `columns`.
    std::string shown(std::size_t row, TimeColumns columns) const {
        std::string out;
        decorateLine(model.line(row), drain.lineTimes(), columns, out);
        return out;
    }

    // The column after the time, with durations on.
    std::string noteOf(std::size_t row) const {
        const std::string line = shown(row, {0, true});
        std::size_t start = 0;
        for (int tab = 0; tab < 3; ++tab) start = line.find('\t', start) + 1;
        return line.substr(start, line.find('\t', start) - start);
    }

    CMclMailbox mailbox{64, kTraceRecordSize, quorvane::test::uniqueName("times").c_str()};
    CLogListModel model;
    RecordDrain drain;
};

TEST_F(LineTimesTest, InterleavedScopesShowTheirDurationsOnBothEndsAndTheTimeToTheMicrosecond) {
    post({timed(7, 1, 1, "load", 123'456'789), timed(8, 1, 1, "load", 200'000'000),
          timed(7, 2, 0, "step", 130'000'000), timed(8, 2, -1, "load", 212'400'000),
          timed(7, 3, -1, "load", 923'456'789)});
    EXPECT_EQ(noteOf(0), "800 ms");
    EXPECT_EQ(noteOf(1), "12.4 ms");
    EXPECT_EQ(noteOf(2), "");
    EXPECT_EQ(noteOf(3), "12.4 ms");
    EXPECT_EQ(noteOf(4), "800 ms");
    const std::string line = std::string(model.line(0));
    const std::size_t time = line.find('\t', line.find('\t') + 1) + 1;
    const std::string precise = shown(0, {6, false});
    EXPECT_EQ(precise.substr(0, time + 8) + precise.substr(time + 15), line)
        << "the fraction is all that is added";
    EXPECT_EQ(precise.substr(time + 8, 7), ".123456");
    EXPECT_EQ(shown(0, {3, false}).substr(time + 8, 4), ".123");
    EXPECT_EQ(shown(0, {}), line);
}

// Anything but our marker in the client library's bytes shows exactly the line, nothing more.
TEST_F(LineTimesTest, ForeignRecordsShowTheirLineAloneWhateverTheirFreeBytesHold) {
    std::mt19937 random(11);
    std::vector<TraceRecord> records;
    for (int i = 0; i < 40; ++i) {
        TraceRecord record = timed(9, static_cast<std::uint32_t>(random()), i % 2 ? -1 : 1, "scope",
                                   static_cast<std::uint32_t>(random()));
        do {
            record.marker = static_cast<std::uint32_t>(random());
        } while (record.marker == quorvane::kPreciseTimeMarker);
        records.push_back(record);
    }
    post(records);
    ASSERT_EQ(model.size(), records.size());
    for (std::size_t row = 0; row < model.size(); ++row) {
        EXPECT_EQ(noteOf(row), "") << row;
        const std::string line(model.line(row));
        std::string withColumn = shown(row, {6, true});
        EXPECT_EQ(withColumn.erase(line.find("\tapp"), 1), line)
            << "only the empty column is added";
    }
}

TEST_F(LineTimesTest, LostRecordsAreNotedWhereTheyWereLostAndALostLeaveLeavesItsScopeUnfinished) {
    post({timed(3, 1, 1, "outer", 0), timed(3, 2, 1, "inner", 1'000),
          // 3 (the inner leave) and 4 were lost
          timed(3, 5, -1, "outer", 5'000)});
    EXPECT_EQ(noteOf(1), "unfinished");
    EXPECT_EQ(noteOf(2), "5.00 \u00b5s, 2 lost");
    EXPECT_EQ(noteOf(0), "5.00 \u00b5s");
}

// A sender killed inside a scope: open while its thread lives, unfinished once it is gone.
TEST_F(LineTimesTest, AScopeWhoseSenderWasKilledInsideItIsMarkedUnfinished) {
    quorvane::test::ChildProcess child([this](quorvane::test::ChildProcess& self) {
        const TraceRecord entry = timed(static_cast<std::uint32_t>(::gettid()), 1, 1, "work", 0);
        if (!mailbox.post(&entry, 0)) return 1;
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(child.awaitSignal(), 'x');
    post({});
    ASSERT_EQ(model.size(), 1u);
    EXPECT_EQ(noteOf(0), "open");
    EXPECT_EQ(drain.abandonEndedSenders(), 0u);
    child.kill();
    child.wait();
    EXPECT_EQ(drain.abandonEndedSenders(), 1u);
    EXPECT_EQ(noteOf(0), "unfinished");
}

// Records taken in many slices from a ring much smaller than the trace still pair across them.
TEST_F(LineTimesTest, ScopesPairAcrossTheRingsWrapAndManySlices) {
    std::uint32_t sequence = 0;
    for (int round = 0; round < 50; ++round) {
        const auto at = static_cast<std::uint32_t>(round * 1'000'000);
        post({timed(4, ++sequence, 1, "round", at), timed(4, ++sequence, 1, "inner", at + 10),
              timed(4, ++sequence, -1, "inner", at + 2'010)});
        post({timed(4, ++sequence, -1, "round", at + 20'000)});
    }
    ASSERT_EQ(model.size(), 200u);
    for (std::size_t row = 0; row < model.size(); row += 4) {
        ASSERT_EQ(noteOf(row), "20.0 \u00b5s") << row;
        ASSERT_EQ(noteOf(row + 1), "2.00 \u00b5s") << row;
        ASSERT_EQ(noteOf(row + 3), "20.0 \u00b5s") << row;
    }
}

}  // namespace
