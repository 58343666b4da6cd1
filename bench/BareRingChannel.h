#pragma once
#include <cstddef>

#include "bench/RecordChannel.h"

struct BareRing;

// The mailbox's protocol with nothing else: a guard word and two count words (free slots and
// waiting records, each with a "someone sleeps" bit) over a ring of slots in an anonymous
// shared mapping, the counts moved with plain stores under the guard and slept on with futexes.
// No names, no handles, no nap, no prefetch and no repair: a process killed while holding the
// guard stops the ring for good. It shows how far CMclMailbox is from its protocol's own floor,
// not a transport anyone should use.
class BareRingChannel : public RecordChannel {
  public:
    explicit BareRingChannel(std::size_t slotCount);
    ~BareRingChannel() override;

    std::string label() const override;
    bool create(std::string& reason) override;
    bool openSender() override { return m_ring != nullptr; }
    bool send(const void* record) override;
    bool openReceiver() override { return m_ring != nullptr; }
    bool receive(void* record) override;
    void destroy() override;

  private:
    std::size_t m_slotCount;
    std::size_t m_mappedBytes = 0;
    BareRing* m_ring = nullptr;  // the mapping's header; the slots follow it
};
