#include "viewer/live/MailboxFeed.h"

#include <utility>

#include "viewer/live/MailboxWaitNote.h"

MailboxFeed::MailboxFeed(CLogListModel& model, std::function<bool()> newestOnTop,
                         MailboxWaitNote& waitNote)
    : m_model(model), m_newestOnTop(std::move(newestOnTop)), m_waitNote(waitNote) {
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { pollTick(); });
    connect(&m_nextLook, &QTimer::timeout, this, [this] { drainSlice(); });
}

DWORD MailboxFeed::open() {
    return m_mailbox.open(MailboxConnection::kFirstOpenTimeoutMs);
}

void MailboxFeed::start() {
    if (!m_mailbox.isOpen()) {
        m_waitNote.showWaiting(m_mailbox.failureText());
    }
    m_pollTimer.setInterval(kPollPeriodMs);
    m_pollTimer.start();
    m_nextLook.setSingleShot(true);
    if (m_mailbox.isOpen()) {
        m_nextLook.start(m_idleLookMs);
    }
}

void MailboxFeed::pollTick() {
    // A drain already under way takes whatever this tick would have taken. A mailbox still
    // waited for is tried again first.
    if (m_draining || m_stopped || !openWaitingMailbox()) {
        return;
    }
    m_draining = true;
    drainSlice();
}

void MailboxFeed::stop() {
    m_stopped = true;
    m_pollTimer.stop();
    m_nextLook.stop();
    m_draining = false;
}

bool MailboxFeed::openWaitingMailbox() {
    if (m_mailbox.isOpen()) {
        return true;
    }
    const DWORD opened = m_mailbox.open(MailboxConnection::kRetryOpenTimeoutMs);
    if (opened == ERROR_SUCCESS) {
        m_waitNote.hide();
        return true;
    }
    if (opened == ERROR_TIMEOUT) {
        m_waitNote.showWaiting(m_mailbox.failureText());
    } else {
        m_failure = opened;
        emit failed();
    }
    return false;
}

void MailboxFeed::drainSlice() {
    if (m_stopped) {
        m_draining = false;
        return;
    }
    const DrainSlice slice =
        m_drain.drainSlice(m_mailbox.mailbox(), m_model, m_newestOnTop(), kDrainSliceMs);
    if (slice.taken > 0) {
        emit linesTaken();
    }
    // Between slices the window repaints and takes input. A slice that met an empty ring ends
    // the drain, and the mailbox is looked at again after a pause.
    m_draining = !slice.ranDry;
    if (m_draining) {
        m_idleLookMs = kFirstIdleLookMs;
        m_nextLook.start(0);
    } else {
        m_idleLookMs = idleLookAfter(slice, m_idleLookMs);
        m_nextLook.start(m_idleLookMs);
    }
}
