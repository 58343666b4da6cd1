#include "tools/syslog/SyslogConnector.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

SyslogConnector::SyslogConnector(Transport transport, std::string address,
                                 const volatile std::sig_atomic_t* stopRequested)
    : m_transport(transport), m_address(std::move(address)), m_stopRequested(stopRequested) {}

bool SyslogConnector::splitHostPort(std::string_view address, std::string& host,
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

std::string SyslogConnector::description() const {
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

bool SyslogConnector::connectWithin(int socket, const void* address, unsigned addressLength) const {
    using Clock = std::chrono::steady_clock;
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    if (::connect(socket, static_cast<const sockaddr*>(address), addressLength) != 0) {
        if (errno != EINPROGRESS) return false;
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd entry{socket, POLLOUT, 0};
            const int ready =
                ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready > 0) break;
            if (ready == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            if (errno != EINTR || stopping()) return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
        if (error != 0) {
            errno = error;
            return false;
        }
    }
    return ::fcntl(socket, F_SETFL, flags) == 0;
}

bool SyslogConnector::connect(std::optional<quorvane::platform::FileDescriptor>& connection,
                              std::string& error) const {
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
        connection.emplace(socket.release());
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
        const bool connected =
            m_transport == Transport::Tcp
                ? connectWithin(socket.get(), entry->ai_addr, entry->ai_addrlen)
                : ::connect(socket.get(), entry->ai_addr, entry->ai_addrlen) == 0;
        if (connected) {
            connection.emplace(socket.release());
            break;
        }
        lastError = errno;
    }
    ::freeaddrinfo(found);
    if (!connection) {
        error = lastError == ETIMEDOUT ? "cannot connect: not accepted within " +
                                             std::to_string(kConnectTimeoutMs / 1000) + " s"
                                       : std::string("cannot connect: ") + std::strerror(lastError);
    }
    return connection.has_value();
}
