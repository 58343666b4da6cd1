#include "bench/MailboxChannel.h"

#include <unistd.h>

#include "transport/CMclMailbox.h"

MailboxChannel::MailboxChannel(DWORD slotCount) : m_slotCount(slotCount) {}

MailboxChannel::~MailboxChannel() {
    destroy();
}

std::string MailboxChannel::label() const {
    return "CMclMailbox (" + std::to_string(m_slotCount) + " slots)";
}

bool MailboxChannel::create(std::string& reason) {
    destroy();
    m_name = "QuorvaneBenchMailbox." + std::to_string(getpid()) + "." + std::to_string(++m_run);
    try {
        m_receiver = std::make_unique<CMclMailbox>(m_slotCount, static_cast<DWORD>(kRecordBytes),
                                                   m_name.c_str());
    } catch (DWORD error) {
        reason = "CMclMailbox raised " + std::to_string(error);
        return false;
    }
    if (!m_receiver->isCreator()) {
        reason = "mailbox " + m_name + " already existed";
        return false;
    }
    return true;
}

bool MailboxChannel::openSender() {
    // The child's copy of the creator's mailbox is left alone; the sender opens by name, as a
    // client process does.
    try {
        m_sender = std::make_unique<CMclMailbox>(m_slotCount, static_cast<DWORD>(kRecordBytes),
                                                 m_name.c_str());
    } catch (DWORD) {
        return false;
    }
    return true;
}

bool MailboxChannel::send(const void* record) {
    return m_sender->post(record, kTimeoutMs);
}

bool MailboxChannel::openReceiver() {
    return m_receiver != nullptr;
}

bool MailboxChannel::receive(void* record) {
    return m_receiver->receive(record, kTimeoutMs);
}

void MailboxChannel::destroy() {
    m_sender.reset();
    m_receiver.reset();
    m_name.clear();
}
