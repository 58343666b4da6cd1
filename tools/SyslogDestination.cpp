#include "tools/SyslogDestination.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SyslogDestination::SyslogDestination(Transport transport, std::string address,
                                     const volatile std::sig_atomic_t* stopRequested)
    : m_transport(transport), m_address(std::move(address)), m_stopRequested(stopRequested) {}

bool SyslogDestination::splitHostPort(std::string_view address, std::string& host,
                                      std::string& port) {
    std::size_t colon = 0;
    if (address.starts_with('[')) {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos || close + 1 >= address.size() ||
            address[close + 1] != ':') {
            return false;
        }
        host = address.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = address.rfind(':');
        if (colon == std::string_view::npos) return false;
        host = address.substr(0, colon);
        if (host.find(':') != std::string::npos) return false;
    }
    port = address.substr(colon + 1);
    return !host.empty() && !port.empty();
}

std::string SyslogDestination::description() const {
    switch (m_transport) {
        case Transport::LocalSocket:
            return m_address;
        case Transport::Tcp:
            return m_address + " (TCP)";
        case Transport::Udp:
            return m_address + " (UDP)";
    }
    return m_address;
}

SyslogDestination::Outcome SyslogDestination::fail(const char* what, int error, std::string& text) {
    text = std::string(what) + ": " + std::strerror(error);
    m_socket.reset();
    return Outcome::Failed;
}

bool SyslogDestination::connect(std::string& error) {
    if (m_transport == Transport::LocalSocket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_address.size() >= sizeof address.sun_path) {
            error = "socket path too long";
            return false;
        }
        std::memcpy(address.sun_path, m_address.c_str(), m_address.size() + 1);
        quorvane::platform::FileDescriptor socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (socket.get() < 0 || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                                          sizeof address) != 0) {
            error = std::string("cannot connect: ") + std::strerror(errno);
            return false;
        }
        m_socket.emplace(socket.release());
        return true;
    }

    std::string host;
    std::string port;
    if (!splitHostPort(m_address, host, port)) {
        error = "not HOST:PORT";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = m_transport == Transport::Tcp ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
        error = std::string("cannot resolve: ") + ::gai_strerror(status);
        return false;
    }
    int lastError = 0;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        quorvane::platform::FileDescriptor socket(
            ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol));
        if (socket.get() < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(socket.get(), entry->ai_addr, entry->ai_addrlen) == 0) {
            m_socket.emplace(socket.release());
            break;
        }
        lastError = errno;
    }
    ::freeaddrinfo(found);
    if (!m_socket) error = std::string("cannot connect: ") + std::strerror(lastError);
    return m_socket.has_value();
}

bool SyslogDestination::peerHasClosed() const {
    pollfd entry{m_socket->get(), POLLIN | POLLRDHUP, 0};
    if (::poll(&entry, 1, 0) <= 0) return false;
    if ((entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return true;
    // A syslog receiver sends nothing; whatever came is read away, and its end is an end.
    char scratch[512];
    const ssize_t got = ::recv(m_socket->get(), scratch, sizeof scratch, MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
}

SyslogDestination::Outcome SyslogDestination::send(std::string_view messages,
                                                   const std::vector<std::size_t>& ends,
                                                   std::size_t& done, std::string& error) {
    if (done >= ends.size()) return Outcome::Sent;
    if (m_socket && m_transport == Transport::Tcp && peerHasClosed()) m_socket.reset();
    if (!m_socket && !connect(error)) return Outcome::Failed;

    if (m_transport != Transport::Tcp) {
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
    std::string_view left = m_frame;
    while (!left.empty()) {
        const ssize_t sent = ::send(m_socket->get(), left.data(), left.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            left.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR && !stopping()) continue;
        // A frame cut short leaves the stream unusable: the whole batch goes again on a new one.
        return fail("cannot send", errno, error);
    }
    done = ends.size();
    return Outcome::Sent;
}
