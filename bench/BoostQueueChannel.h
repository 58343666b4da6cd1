#pragma once
#include <memory>

#include "bench/RecordChannel.h"

// Records sent and received through boost::interprocess::message_queue, `depth` messages of one
// record each, in a fresh named queue for every run.
class BoostQueueChannel : public RecordChannel {
  public:
    explicit BoostQueueChannel(unsigned depth);
    ~BoostQueueChannel() override;

    std::string label() const override;
    bool create(std::string& reason) override;
    bool openSender() override;
    bool send(const void* record) override;
    bool openReceiver() override;
    bool receive(void* record) override;
    void destroy() override;

  private:
    struct Queue;

    unsigned m_depth;
    std::string m_name;
    unsigned m_run = 0;
    std::unique_ptr<Queue> m_receiver;  // the creator's queue, in the receiving process
    std::unique_ptr<Queue> m_sender;    // opened by name in the forked child
};
