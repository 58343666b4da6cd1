#include "tools/common/LineReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Bytes asked of each read: a pipe's whole buffer, few calls for a flood.
constexpr std::size_t kReadSize = std::size_t{64} * 1024;

}  // namespace

LineReader::LineReader(int fd, std::size_t maxLength,
                       const volatile std::sig_atomic_t* stopRequested)
    : m_fd(fd),
      m_maxLength(maxLength),
      m_stopRequested(stopRequested),
      m_buffer(std::make_unique<char[]>(kReadSize)) {
    m_line.reserve(maxLength);
}

bool LineReader::fill() {
    for (;;) {
        const ssize_t got = ::read(m_fd, m_buffer.get(), kReadSize);
        if (got > 0) {
            m_begin = 0;
            m_end = static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0) return false;
        if (errno == EINTR && (m_stopRequested == nullptr || *m_stopRequested == 0)) continue;
        if (errno != EINTR) m_error = errno;
        return false;
    }
}

bool LineReader::next(std::string_view& line) {
    m_line.clear();
    m_skipped = 0;
    bool started = false;
    for (;;) {
        if (m_begin == m_end && !fill()) {
            // What was read of a last line without a line end is a line, unless reading failed.
            if (!started || m_error != 0) return false;
            break;
        }
        started = true;
        const char* begin = m_buffer.get() + m_begin;
        const std::size_t available = m_end - m_begin;
        const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', available));
        const std::size_t length =
            newline != nullptr ? static_cast<std::size_t>(newline - begin) : available;
        const std::size_t kept = std::min(length, m_maxLength - m_line.size());
        m_line.append(begin, kept);
        m_skipped += length - kept;
        m_begin += newline != nullptr ? length + 1 : length;
        if (newline != nullptr) break;
    }
    line = m_line;
    return true;
}
