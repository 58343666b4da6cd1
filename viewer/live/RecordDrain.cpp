#include "viewer/live/RecordDrain.h"

#include <algorithm>
#include <chrono>

#include "transport/CMclMailbox.h"
#include "viewer/lines/CLogListModel.h"

int idleLookAfter(const DrainSlice& slice, int previousMs) {
    if (slice.taken > 0) {
        return kFirstIdleLookMs;
    }
    return std::clamp(previousMs * 2, kFirstIdleLookMs, kLongestIdleLookMs);
}

RecordDrain::RecordDrain()
    : m_run(std::make_unique_for_overwrite<TraceRecord[]>(kRunLength)), m_formatter(m_depthTable) {}

RecordDrain::~RecordDrain() = default;

DrainSlice RecordDrain::drainSlice(CMclMailbox& mailbox, CLogListModel& model, bool onTop,
                                   int sliceMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(sliceMs);
    DrainSlice slice;
    do {
        std::size_t count = 0;
        while (count < kRunLength) {
            const std::size_t taken =
                takeRecords(mailbox, slice.taken + count > 0, &m_run[count], kRunLength - count);
            if (taken == 0) {
                break;
            }
            count += taken;
        }
        for (std::size_t i = 0; i < count; ++i) {
            model.stageLine(m_formatter.formatLine(m_run[i], m_lineCount + 1), onTop);
            ++m_lineCount;
            m_formatter.storeDepth();
        }
        slice.taken += count;
        slice.ranDry = count < kRunLength;
    } while (!slice.ranDry && Clock::now() < end);
    if (!m_holding) {
        model.commitStaged();
    }
    return slice;
}

void RecordDrain::restartNumbering() {
    // The senders' depths stay as they are: the pending depth was stored with its line.
    m_lineCount = 0;
}

std::size_t RecordDrain::takeRecords(CMclMailbox& mailbox, bool flowing, TraceRecord* records,
                                     std::size_t room) {
    const auto most = static_cast<DWORD>(std::min<std::size_t>(room, kRecordsPerHold));
    DWORD taken = mailbox.receiveMany(records, most, 0);
    if (taken == 0 && flowing) {
        taken = mailbox.receiveMany(records, most, kRefillWaitMs);
    }
    return taken;
}
