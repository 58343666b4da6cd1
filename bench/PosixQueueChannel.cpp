#include "bench/PosixQueueChannel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

constexpr mqd_t kNoQueue = static_cast<mqd_t>(-1);
constexpr mode_t kQueueMode = 0600;

mqd_t openQueue(const std::string& name, long depth) {
    mq_attr attributes{};
    attributes.mq_maxmsg = depth;
    attributes.mq_msgsize = static_cast<long>(RecordChannel::kRecordBytes);
    return mq_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, kQueueMode, &attributes);
}

std::string probeName() {
    return "/QuorvaneBenchProbe." + std::to_string(getpid());
}

}  // namespace

PosixQueueChannel::PosixQueueChannel(long wantedDepth) : m_depth(deepestAllowed(wantedDepth)) {}

PosixQueueChannel::~PosixQueueChannel() {
    destroy();
}

long PosixQueueChannel::deepestAllowed(long wantedDepth) {
    // A privileged process may go past fs/mqueue/msg_max; try the wanted depth first, then
    // halve down to the unprivileged limit.
    long systemLimit = 0;
    std::ifstream("/proc/sys/fs/mqueue/msg_max") >> systemLimit;
    const std::string name = probeName();
    for (long depth = wantedDepth; depth > 0;) {
        mq_unlink(name.c_str());
        const mqd_t queue = openQueue(name, depth);
        if (queue != kNoQueue) {
            mq_close(queue);
            mq_unlink(name.c_str());
            return depth;
        }
        long next = depth / 2;
        if (depth > systemLimit && next < systemLimit) next = systemLimit;
        depth = next;
    }
    return 0;
}

std::string PosixQueueChannel::label() const {
    return "POSIX mq (depth " + std::to_string(m_depth) + ")";
}

bool PosixQueueChannel::create(std::string& reason) {
    destroy();
    if (m_depth == 0) {
        reason = "no POSIX message queue of 732-byte messages can be created here";
        return false;
    }
    m_name = "/QuorvaneBenchQueue." + std::to_string(getpid()) + "." + std::to_string(++m_run);
    mq_unlink(m_name.c_str());
    m_queue = openQueue(m_name, m_depth);
    if (m_queue == kNoQueue) {
        reason = std::string("mq_open: ") + std::strerror(errno);
        m_name.clear();
        return false;
    }
    return true;
}

bool PosixQueueChannel::openSender() {
    if (m_queue != kNoQueue) mq_close(m_queue);
    m_queue = mq_open(m_name.c_str(), O_WRONLY);
    return m_queue != kNoQueue;
}

bool PosixQueueChannel::send(const void* record) {
    while (mq_send(m_queue, static_cast<const char*>(record), kRecordBytes, 0) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool PosixQueueChannel::openReceiver() {
    return m_queue != kNoQueue;
}

bool PosixQueueChannel::receive(void* record) {
    for (;;) {
        const ssize_t got = mq_receive(m_queue, static_cast<char*>(record), kRecordBytes, nullptr);
        if (got == static_cast<ssize_t>(kRecordBytes)) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

void PosixQueueChannel::destroy() {
    if (m_queue != kNoQueue) mq_close(m_queue);
    m_queue = kNoQueue;
    if (!m_name.empty()) mq_unlink(m_name.c_str());
    m_name.clear();
}
