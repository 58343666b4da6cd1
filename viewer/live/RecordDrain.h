#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_set>

#include "platform/Win32.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/TraceRecord.h"
#include "viewer/lines/LineTimes.h"

class CLogListModel;
class CMclMailbox;

// What one drain slice did.
struct DrainSlice {
    // Records turned into lines.
    std::size_t taken = 0;
    // The slice stopped because the ring stayed empty, not because its time was up.
    bool ranDry = false;
};

// The pause before the next look at a mailbox no drain is taking from: kFirstIdleLookMs after a
// slice that took records, then doubling after every look that finds none, up to
// kLongestIdleLookMs. A viewer left idle wakes 25 times a second; one just fed looks again soon.
inline constexpr int kFirstIdleLookMs = 10;
inline constexpr int kLongestIdleLookMs = 40;
int idleLookAfter(const DrainSlice& slice, int previousMs);

// Turns the mailbox's records into the list's lines, numbered consecutively from 1, with each
// sender's indentation carried from one record to the next. Records are taken in runs of up to
// kRunLength, up to kRecordsPerHold under one hold of the ring's guard, then formatted and
// staged; a slice's lines reach the model's views together when it ends.
//
// The first look of a slice does not wait, so an idle mailbox costs the window nothing. Once
// records flow, a ring found empty is waited for up to kRefillWaitMs: a sender pauses for
// moments (preempted, or waking from a full ring), and the wake its next post sends resumes the
// drain at once, where ending the slice and looking again later left both sides idle and made a
// flood two to four times slower.
class RecordDrain {
  public:
    static constexpr std::size_t kRunLength = 256;
    static constexpr DWORD kRefillWaitMs = 1;
    // Records copied under one hold of the guard: enough to spare most of the guard's cost per
    // record, few enough that a sender waits only a few microseconds for it.
    static constexpr DWORD kRecordsPerHold = 32;

    RecordDrain();
    RecordDrain(const RecordDrain&) = delete;
    RecordDrain& operator=(const RecordDrain&) = delete;
    ~RecordDrain();

    // Takes records from `mailbox` into `model`, on top or at the bottom, until the ring is found
    // empty or about `sliceMs` have passed.
    DrainSlice drainSlice(CMclMailbox& mailbox, CLogListModel& model, bool onTop, int sliceMs);

    // While holding, a slice leaves its lines staged in the model, so that views do not see them
    // until the model commits them; the mailbox is still taken from at the same pace.
    void setHolding(bool holding) { m_holding = holding; }
    bool isHolding() const { return m_holding; }

    // Lines made since construction or the last restartNumbering().
    std::uint32_t lineCount() const { return m_lineCount; }
    // The next line is number 1 again and the current depth 0; each sender's depth is kept. What
    // the lines said of time is forgotten with them.
    void restartNumbering();

    // What the records said of time beyond their lines, by line number.
    const LineTimes& lineTimes() const { return m_times; }
    // Marks unfinished the open scopes of senders that are gone: threads of this machine (their
    // origin names no other host) once seen alive and now ended. Called now and then (each poll
    // tick); returns how many senders ended.
    std::size_t abandonEndedSenders();

    // One hold's worth of a slice: up to `room` records, and never more than kRecordsPerHold,
    // taken oldest first into `records` under one hold of the guard. Waits up to kRefillWaitMs
    // for the first only when `flowing`. Returns how many were taken.
    static std::size_t takeRecords(CMclMailbox& mailbox, bool flowing, TraceRecord* records,
                                   std::size_t room);

  private:
    std::unique_ptr<TraceRecord[]> m_run;
    DepthTable m_depthTable;
    LineFormatter m_formatter;
    std::uint32_t m_lineCount = 0;
    bool m_holding = false;
    LineTimes m_times;
    std::unordered_set<std::uint32_t> m_threadsSeen;
};
