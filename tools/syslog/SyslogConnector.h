#pragma once
#include <csignal>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/FileDescriptor.h"

// Where quorvane-forward's messages go, and how a socket reaches it: a datagram socket connected
// to a local syslog socket, a datagram socket connected to a host and port, or a TCP connection
// to one, accepted within kConnectTimeoutMs. Each address a host's name resolves to is tried in
// turn.
class SyslogConnector {
  public:
    enum class Transport { LocalSocket, Tcp, Udp };

    // The longest wait for a TCP connection to be accepted: time for the kernel to send a lost
    // SYN twice more (after 1 and 3 seconds), not its own two minutes.
    static constexpr int kConnectTimeoutMs = 5000;

    // `address` is the socket's path, or "host:port" ("[v6-address]:port"). A wait for a TCP
    // connection that a signal interrupts gives up when `stopRequested` (may be null) is set.
    SyslogConnector(Transport transport, std::string address,
                    const volatile std::sig_atomic_t* stopRequested);

    // Splits "host:port" or "[host]:port"; false when `address` is not of that shape.
    static bool splitHostPort(std::string_view address, std::string& host, std::string& port);

    // Puts a socket connected to the address into `connection`; false, with `error` saying why,
    // when there is none.
    bool connect(std::optional<quorvane::platform::FileDescriptor>& connection,
                 std::string& error) const;

    Transport transport() const { return m_transport; }
    // What the messages go to, for the tool's reports ("127.0.0.1:514 (TCP)").
    std::string description() const;
    bool stopping() const { return m_stopRequested != nullptr && *m_stopRequested != 0; }

  private:
    // Connects `socket` to `address` within kConnectTimeoutMs; false with errno set otherwise.
    bool connectWithin(int socket, const void* address, unsigned addressLength) const;

    Transport m_transport;
    std::string m_address;
    const volatile std::sig_atomic_t* m_stopRequested;
};
