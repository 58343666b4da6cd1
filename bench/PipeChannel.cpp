#include "bench/PipeChannel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

PipeChannel::PipeChannel(std::size_t capacityRecords) : m_capacityRecords(capacityRecords) {}

PipeChannel::~PipeChannel() {
    destroy();
}

std::string PipeChannel::label() const {
    return "pipe (" + std::to_string(m_bufferBytes / 1024) + " KiB buffer)";
}

bool PipeChannel::create(std::string& reason) {
    destroy();
    int ends[2];
    if (pipe(ends) != 0) {
        reason = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    // The kernel rounds the size up to a power of two pages; a refusal keeps the default.
    fcntl(m_writeEnd, F_SETPIPE_SZ, static_cast<int>(m_capacityRecords * kRecordBytes));
    const int size = fcntl(m_writeEnd, F_GETPIPE_SZ);
    m_bufferBytes = size > 0 ? static_cast<std::size_t>(size) : 0;
    return true;
}

bool PipeChannel::openSender() {
    closeEnd(m_readEnd);
    return m_writeEnd >= 0;
}

bool PipeChannel::send(const void* record) {
    // A write of at most PIPE_BUF bytes is atomic, but a signal may still cut it short.
    const char* bytes = static_cast<const char*>(record);
    std::size_t done = 0;
    while (done < kRecordBytes) {
        const ssize_t written = write(m_writeEnd, bytes + done, kRecordBytes - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool PipeChannel::openReceiver() {
    closeEnd(m_writeEnd);
    return m_readEnd >= 0;
}

bool PipeChannel::receive(void* record) {
    char* bytes = static_cast<char*>(record);
    std::size_t done = 0;
    while (done < kRecordBytes) {
        const ssize_t got = read(m_readEnd, bytes + done, kRecordBytes - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;  // the sender closed before the record was whole
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void PipeChannel::destroy() {
    closeEnd(m_readEnd);
    closeEnd(m_writeEnd);
}

void PipeChannel::closeEnd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
