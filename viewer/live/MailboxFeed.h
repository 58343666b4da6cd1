#pragma once
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "platform/Win32.h"
#include "viewer/live/MailboxConnection.h"
#include "viewer/live/RecordDrain.h"

class CLogListModel;
class MailboxWaitNote;

// The live window's lines from the trace mailbox. Each poll tick starts a drain, after trying
// again a mailbox that is waited for; between ticks an open mailbox is looked at without waiting,
// kFirstIdleLookMs after a drain has ended, then after pauses doubling up to kLongestIdleLookMs
// while nothing comes, so a drain starts soon after records arrive and the window never blocks
// on an empty ring. A drain runs in slices of at most kDrainSliceMs, the event loop getting its
// turn between them, until a slice finds the ring empty.
//
// A mailbox whose guard a stopped process holds is waited for: the wait note says so, and each
// poll tick tries again for at most MailboxConnection::kRetryOpenTimeoutMs. Any other failure
// on a retry is failed().
class MailboxFeed : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPollPeriodMs = 500;
    // Longest run of receiving before the event loop gets its turn during a long drain.
    static constexpr int kDrainSliceMs = 40;

    // Lines go into `model`, newest on top while `newestOnTop` says so; `waitNote` is shown while
    // the mailbox is waited for.
    MailboxFeed(CLogListModel& model, std::function<bool()> newestOnTop, MailboxWaitNote& waitNote);

    // The first attempt to open the mailbox, waiting as long as any healthy guard holder needs.
    // Returns ERROR_SUCCESS, ERROR_TIMEOUT when it is to be waited for, or another failure's code.
    DWORD open();
    // Shows the wait note if the mailbox is waited for, starts the poll ticks, and looks at an
    // open mailbox soon.
    void start();
    // A poll tick: tries again a mailbox that is waited for, then starts a drain unless one is
    // under way.
    void pollTick();
    // Ends the ticks, the looks and any drain under way; nothing starts again.
    void stop();
    // Lets the mailbox go.
    void closeMailbox() { m_mailbox.close(); }

    // True while a drain continues across turns of the event loop.
    bool isDraining() const { return m_draining; }
    bool isWaiting() const { return !m_mailbox.isOpen(); }
    // The code of the failure that ended the wait for the mailbox; ERROR_SUCCESS otherwise.
    DWORD failure() const { return m_failure; }
    RecordDrain& drain() { return m_drain; }
    const RecordDrain& drain() const { return m_drain; }

  signals:
    // A slice took records into the model.
    void linesTaken();
    // Trying again the mailbox that was waited for failed for another reason than its guard.
    void failed();

  private:
    bool openWaitingMailbox();
    void drainSlice();

    CLogListModel& m_model;
    std::function<bool()> m_newestOnTop;
    MailboxWaitNote& m_waitNote;
    MailboxConnection m_mailbox;
    DWORD m_failure = ERROR_SUCCESS;
    RecordDrain m_drain;
    QTimer m_pollTimer;
    // The next slice of a drain, or the next look at an open mailbox between drains.
    QTimer m_nextLook;
    int m_idleLookMs = kFirstIdleLookMs;
    bool m_draining = false;
    bool m_stopped = false;
};
