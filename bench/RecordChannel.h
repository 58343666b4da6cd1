#pragma once
#include <cstddef>
#include <string>

#include "records/TraceRecord.h"

// One way of moving 732-byte records from a sender process to a receiver process. The receiving
// process creates the channel before it forks; the forked child opens and uses the sending end.
// Every call reports failure in its return value; nothing throws.
class RecordChannel {
  public:
    static constexpr std::size_t kRecordBytes = kTraceRecordSize;

    virtual ~RecordChannel() = default;

    // Name and geometry, as the table shows them.
    virtual std::string label() const = 0;
    // Receiving process, before the fork: makes fresh kernel objects for one run. On failure
    // `reason` says why.
    virtual bool create(std::string& reason) = 0;
    // Forked child: opens the sending end.
    virtual bool openSender() = 0;
    // Forked child: sends kRecordBytes bytes, waiting as long as the channel is full.
    virtual bool send(const void* record) = 0;
    // Receiving process, after the fork: lets go of what only the sender uses.
    virtual bool openReceiver() = 0;
    // Receiving process: takes the next record into kRecordBytes bytes at `record`.
    virtual bool receive(void* record) = 0;
    // Receiving process, after the run: removes the kernel objects of the run.
    virtual void destroy() = 0;
};
