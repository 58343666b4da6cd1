#pragma once
#include <string>
#include <vector>

#include "platform/ProcessMark.h"
#include "quorvane/Names.h"
#include "transport/CMutexSimple.h"

// What a reader of a trace mailbox (the viewer, quorvane-tail) holds while it runs:
// - the presence mutex, whenever no other reader holds it: traced programs then wait for room
//   in a full mailbox, and `quorvane-send --syslog --confirm` confirms what it posts;
// - a mark naming its program and process, so that a reader starting later on the same mailbox
//   learns of it. Each record goes to one reader only, so two readers each see part of them.
// Both end with the process however it ends. All calls belong to the thread that made it (the
// mutex is owned by a thread).
class ReaderPresence {
  public:
    // A reader called `program` of the mailbox `mailboxName`.
    explicit ReaderPresence(std::string program, std::string mailboxName,
                            std::string mutexName = quorvane::kPresenceMutexName);
    ReaderPresence(const ReaderPresence&) = delete;
    ReaderPresence& operator=(const ReaderPresence&) = delete;
    // Leaves.
    ~ReaderPresence() = default;

    // Marks this reader and returns the other readers of the mailbox found running just before.
    std::vector<MarkedProcess> join();
    // One attempt at the presence mutex without waiting; true when it is held (now or before).
    bool holdPresence();
    // Lets the mutex go and removes the mark.
    void leave();

    bool holdsPresence() const { return m_mutex.isHeld(); }
    bool hasJoined() const { return m_mark.isPlaced(); }
    const std::string& mailboxName() const { return m_mailboxName; }

  private:
    std::string m_program;
    std::string m_mailboxName;
    std::string m_mutexName;
    ProcessMark m_mark;
    CMutexSimple m_mutex;
};

// The readers of the mailbox `mailboxName` that run, other than this process.
std::vector<MarkedProcess> runningReaders(const std::string& mailboxName);

// The readers as a person reads them: "quorvane-tail (pid 412), quorvane-viewer (pid 97)".
std::string describeReaders(const std::vector<MarkedProcess>& readers);
