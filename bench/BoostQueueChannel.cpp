#include "bench/BoostQueueChannel.h"

#include <unistd.h>

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/ipc/message_queue.hpp>

namespace bip = boost::interprocess;

struct BoostQueueChannel::Queue {
    template <typename Mode>
    Queue(Mode mode, const char* name, unsigned depth)
        : queue(mode, name, depth, RecordChannel::kRecordBytes) {}
    Queue(bip::open_only_t mode, const char* name) : queue(mode, name) {}
    bip::message_queue queue;
};

BoostQueueChannel::BoostQueueChannel(unsigned depth) : m_depth(depth) {}

BoostQueueChannel::~BoostQueueChannel() {
    destroy();
}

std::string BoostQueueChannel::label() const {
    return "boost message_queue (" + std::to_string(m_depth) + ")";
}

bool BoostQueueChannel::create(std::string& reason) {
    destroy();
    m_name = "QuorvaneBenchBoost." + std::to_string(getpid()) + "." + std::to_string(++m_run);
    bip::message_queue::remove(m_name.c_str());
    try {
        m_receiver = std::make_unique<Queue>(bip::create_only, m_name.c_str(), m_depth);
    } catch (const bip::interprocess_exception& error) {
        reason = std::string("message_queue: ") + error.what();
        m_name.clear();
        return false;
    }
    return true;
}

bool BoostQueueChannel::openSender() {
    // The child's copy of the creator's object is left alone; the sender opens by name.
    try {
        m_sender = std::make_unique<Queue>(bip::open_only, m_name.c_str());
    } catch (const bip::interprocess_exception&) {
        return false;
    }
    return true;
}

bool BoostQueueChannel::send(const void* record) {
    try {
        m_sender->queue.send(record, kRecordBytes, 0);
    } catch (const bip::interprocess_exception&) {
        return false;
    }
    return true;
}

bool BoostQueueChannel::openReceiver() {
    return m_receiver != nullptr;
}

bool BoostQueueChannel::receive(void* record) {
    bip::message_queue::size_type received = 0;
    unsigned priority = 0;
    try {
        m_receiver->queue.receive(record, kRecordBytes, received, priority);
    } catch (const bip::interprocess_exception&) {
        return false;
    }
    return received == kRecordBytes;
}

void BoostQueueChannel::destroy() {
    m_sender.reset();
    m_receiver.reset();
    if (!m_name.empty()) bip::message_queue::remove(m_name.c_str());
    m_name.clear();
}
