#pragma once
#include <memory>

#include "bench/RecordChannel.h"
#include "platform/Win32.h"

class CMclMailbox;

// Records posted and received through a CMclMailbox of `slotCount` slots of one record, under a
// fresh name for every run. Both ends wait up to kTimeoutMs per record, so a stalled run fails
// instead of hanging.
class MailboxChannel : public RecordChannel {
  public:
    static constexpr DWORD kTimeoutMs = 10'000;

    explicit MailboxChannel(DWORD slotCount);
    ~MailboxChannel() override;

    std::string label() const override;
    bool create(std::string& reason) override;
    bool openSender() override;
    bool send(const void* record) override;
    bool openReceiver() override;
    bool receive(void* record) override;
    void destroy() override;

  private:
    DWORD m_slotCount;
    std::string m_name;
    unsigned m_run = 0;
    std::unique_ptr<CMclMailbox> m_receiver;  // the creator's mailbox, in the receiving process
    std::unique_ptr<CMclMailbox> m_sender;    // opened by name in the forked child
};
