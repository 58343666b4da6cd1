#include "tools/syslog/SyslogDestination.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The pause between attempts while finish() finds the collector resetting or away.
constexpr long kFinishRetryMs = 100;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Sleeps `ms`, or less when a signal arrives.
void pause(long ms) {
    timespec interval{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&interval, nullptr);
}

// Whether the peer has acknowledged every byte written to `socket`, and no error is pending.
bool allAcknowledged(int socket) {
    int unacknowledged = 0;
    int error = 0;
    socklen_t length = sizeof error;
    return ::ioctl(socket, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0 &&
           ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

SyslogDestination::SyslogDestination(Transport transport, std::string address,
                                     const volatile std::sig_atomic_t* stopRequested)
    : m_connector(transport, std::move(address), stopRequested) {}

SyslogDestination::Outcome SyslogDestination::fail(const char* what, int error, std::string& text) {
    text = std::string(what) + ": " + std::strerror(error);
    drop(Connection::Lost);
    return Outcome::Failed;
}

void SyslogDestination::drop(Connection how) {
    m_socket.reset();
    if (how == Connection::ClosedInOrder) {
        m_kept.clear();
        m_keptRecords = 0;
        m_keptBytes = 0;
    }
    m_keptUnwritten = !m_kept.empty();
}

std::size_t SyslogDestination::takeResent() {
    return std::exchange(m_resent, 0);
}

bool SyslogDestination::connect(std::string& error) {
    return m_connector.connect(m_socket, error);
}

SyslogDestination::Connection SyslogDestination::look() {
    pollfd entry{m_socket->get(), POLLIN | POLLRDHUP, 0};
    if (::poll(&entry, 1, 0) <= 0) return Connection::Open;
    // A syslog receiver sends nothing; whatever came is read away, up to its end or an error.
    constexpr int kMostReads = 16;
    char scratch[4096];
    for (int reads = 0; reads < kMostReads; ++reads) {
        const ssize_t got = ::recv(m_socket->get(), scratch, sizeof scratch, MSG_DONTWAIT);
        if (got == 0) {
            return allAcknowledged(m_socket->get()) ? Connection::ClosedInOrder : Connection::Lost;
        }
        if (got < 0 && errno == EAGAIN) return Connection::Open;
        if (got < 0 && errno != EINTR) return Connection::Lost;
    }
    return Connection::Open;
}

bool SyslogDestination::writeAll(std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(m_socket->get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            // A signal cuts a blocked send short: on a stop request the rest is not waited for.
            if (bytes.empty() || !stopping() || m_finishing) continue;
            errno = EINTR;
        }
        if (errno == EINTR && !stopping()) continue;
        // A frame cut short leaves the stream unusable: everything goes again on a new one.
        if (errno == EAGAIN) {
            error = "the collector took nothing more in time";  // finish()'s send limit
            drop(Connection::Lost);
        } else {
            fail("cannot send", errno, error);
        }
        return false;
    }
    return true;
}

bool SyslogDestination::resendKept(std::string& error) {
    if (!m_socket && !connect(error)) return false;
    if (!m_keptUnwritten) return true;
    for (const SentBatch& batch : m_kept) {
        if (!writeAll(batch.frames, error)) return false;
    }
    m_keptUnwritten = false;
    m_resent += m_keptRecords;
    return true;
}

void SyslogDestination::keep(std::string frames, std::size_t messages) {
    m_keptBytes += frames.size();
    m_keptRecords += messages;
    m_kept.push_back(SentBatch{std::move(frames), messages});
    while (m_kept.size() > 1 && (m_keptRecords > kKeptRecords || m_keptBytes > kKeptBytes)) {
        m_keptBytes -= m_kept.front().frames.size();
        m_keptRecords -= m_kept.front().messages;
        m_kept.pop_front();
    }
}

bool SyslogDestination::finish(int timeoutMs, std::string& error) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    m_finishing = true;  // the stop has been seen; the deadline bounds what follows
    for (;;) {
        if (m_connector.transport() != Transport::Tcp || m_kept.empty()) {
            m_socket.reset();
            return true;
        }
        if (remainingMs(deadline) == 0) {
            m_socket.reset();
            return false;
        }
        if (m_socket) {
            const Connection state = look();
            if (state != Connection::Open) {
                drop(state);
                continue;
            }
        }
        if (!m_socket && !connect(error)) {
            pause(kFinishRetryMs);
            continue;
        }
        // A collector that takes nothing more must not hold the end past its limit.
        const int left = std::max(remainingMs(deadline), 1);
        const timeval sendLimit{left / 1000, static_cast<suseconds_t>(left % 1000) * 1000};
        ::setsockopt(m_socket->get(), SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        if (!resendKept(error)) {
            pause(kFinishRetryMs);
            continue;
        }
        if (::shutdown(m_socket->get(), SHUT_WR) != 0) {
            // Not connected any more: reset since the last frame went.
            if (errno == ENOTCONN) {
                error = "the collector reset the connection";
                drop(Connection::Lost);
            } else {
                fail("cannot shut down", errno, error);
            }
            pause(kFinishRetryMs);
            continue;
        }
        // Our end of stream goes after the last frame: a collector that read everything ends
        // its side in turn, one that had not resets the connection.
        Connection state = Connection::Open;
        while (state == Connection::Open && remainingMs(deadline) > 0) {
            pollfd entry{m_socket->get(), POLLIN | POLLRDHUP, 0};
            ::poll(&entry, 1, remainingMs(deadline));
            state = look();
        }
        if (state == Connection::Open) {
            error = "the collector did not end the connection within " + std::to_string(timeoutMs) +
                    " ms";
        } else if (state == Connection::Lost) {
            error = "the collector reset the connection";
            drop(state);
            pause(kFinishRetryMs);
        } else {
            drop(state);
        }
    }
}

SyslogDestination::Outcome SyslogDestination::send(std::string_view messages,
                                                   const std::vector<std::size_t>& ends,
                                                   std::size_t& done, std::string& error) {
    if (done >= ends.size()) return Outcome::Sent;
    if (m_connector.transport() == Transport::Tcp) {
        if (m_socket) {
            const Connection state = look();
            if (state != Connection::Open) drop(state);
        }
        if (!resendKept(error)) return Outcome::Failed;
    } else if (!m_socket && !connect(error)) {
        return Outcome::Failed;
    }

    if (m_connector.transport() != Transport::Tcp) {
        while (done < ends.size()) {
            const std::size_t start = done == 0 ? 0 : ends[done - 1];
            const std::string_view message = messages.substr(start, ends[done] - start);
            if (::send(m_socket->get(), message.data(), message.size(), MSG_NOSIGNAL) >= 0) {
                ++done;
                continue;
            }
            const int code = errno;
            if (code == EINTR && !stopping()) continue;
            if (code == EMSGSIZE) {
                error = std::string("message of ") + std::to_string(message.size()) +
                        " bytes not sent: " + std::strerror(code);
                ++done;
                return Outcome::Unsendable;
            }
            return fail("cannot send", code, error);
        }
        return Outcome::Sent;
    }

    m_frame.clear();
    for (std::size_t i = done; i < ends.size(); ++i) {
        const std::size_t start = i == 0 ? 0 : ends[i - 1];
        m_frame += std::to_string(ends[i] - start);
        m_frame += ' ';
        m_frame += messages.substr(start, ends[i] - start);
    }
    if (!writeAll(m_frame, error)) return Outcome::Failed;
    keep(std::move(m_frame), ends.size() - done);
    m_frame = std::string();
    done = ends.size();
    return Outcome::Sent;
}
