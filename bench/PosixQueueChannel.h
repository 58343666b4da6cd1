#pragma once
#include <mqueue.h>

#include <cstddef>

#include "bench/RecordChannel.h"

// Records sent with mq_send and taken with mq_receive through a POSIX message queue as deep as
// the system allows, up to `wantedDepth` messages of one record each.
class PosixQueueChannel : public RecordChannel {
  public:
    explicit PosixQueueChannel(long wantedDepth);
    ~PosixQueueChannel() override;

    // The deepest queue of records, at most `wantedDepth`, that this process may create; 0 when
    // none can be created.
    static long deepestAllowed(long wantedDepth);

    long depth() const { return m_depth; }
    std::string label() const override;
    bool create(std::string& reason) override;
    bool openSender() override;
    bool send(const void* record) override;
    bool openReceiver() override;
    bool receive(void* record) override;
    void destroy() override;

  private:
    long m_depth;
    std::string m_name;
    mqd_t m_queue = static_cast<mqd_t>(-1);
    unsigned m_run = 0;
};
