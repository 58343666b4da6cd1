#pragma once
#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/FileDescriptor.h"

// Where quorvane-forward sends its messages: a local syslog socket (a datagram per message), or a
// host and port over TCP (octet-counted frames, RFC 6587) or UDP (a datagram per message).
//
// Messages go in batches: one buffer holding them one after another and the end of each. What
// could not be sent stays the caller's to send again: the connection is closed and the next
// send() connects afresh. Over TCP a batch goes as one stream of frames and, after a failure, all
// of it again (the receiver tells repeats by their line numbers); a datagram is sent once. Before
// each TCP batch the connection is checked for a close by the peer, so a collector that went away
// while the forwarder was idle costs no message. What the kernel took for a peer that then dies
// unread is beyond the forwarder's sight: plain TCP has no acknowledgement from the receiving
// program.
class SyslogDestination {
  public:
    enum class Transport { LocalSocket, Tcp, Udp };
    enum class Outcome {
        Sent,
        Failed,     // try again later
        Unsendable  // this message can never go (larger than a datagram may be)
    };

    // `address` is the socket's path, or "host:port" ("[v6-address]:port"). A blocking call
    // interrupted by a signal gives up when `stopRequested` (may be null) is set.
    SyslogDestination(Transport transport, std::string address,
                      const volatile std::sig_atomic_t* stopRequested);

    // Splits "host:port" or "[host]:port"; false when `address` is not of that shape.
    static bool splitHostPort(std::string_view address, std::string& host, std::string& port);

    // Sends the messages of `messages` that end at ends[done] onwards, connecting first when not
    // connected, and advances `done` past those sent. Sent: all are. Unsendable: the message at
    // ends[done] never can be and is passed over. On failure `error` says why.
    Outcome send(std::string_view messages, const std::vector<std::size_t>& ends, std::size_t& done,
                 std::string& error);
    // What the messages go to, for the tool's reports ("127.0.0.1:514 (TCP)").
    std::string description() const;

  private:
    bool connect(std::string& error);
    bool peerHasClosed() const;
    Outcome fail(const char* what, int error, std::string& text);
    bool stopping() const { return m_stopRequested != nullptr && *m_stopRequested != 0; }

    Transport m_transport;
    std::string m_address;
    const volatile std::sig_atomic_t* m_stopRequested;
    std::optional<quorvane::platform::FileDescriptor> m_socket;
    std::string m_frame;
};
