#include "viewer/live/RecordDrain.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

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
            m_times.follow(m_run[i], m_lineCount + 1);
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
    m_times.clear();
    m_threadsSeen.clear();
}

std::size_t RecordDrain::abandonEndedSenders() {
    // A key is taken for a thread only once a thread of that id was seen alive: a program may key
    // its records by something else (quorvane_set_sender_key), and that is never "gone".
    std::vector<std::uint32_t> ended;
    m_times.forEachLocalSenderWithOpenScopes([&](std::uint32_t senderKey) {
        const bool alive = senderKey == 0 ||
                           ::syscall(SYS_tkill, static_cast<pid_t>(senderKey), 0) == 0 ||
                           errno != ESRCH;
        if (alive) {
            m_threadsSeen.insert(senderKey);
        } else if (m_threadsSeen.erase(senderKey) > 0) {
            ended.push_back(senderKey);
        }
    });
    for (const std::uint32_t senderKey : ended) m_times.abandonSender(senderKey);
    return ended.size();
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
