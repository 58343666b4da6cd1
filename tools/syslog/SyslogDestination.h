#pragma once
#include <csignal>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/FileDescriptor.h"
#include "tools/syslog/RepeatFilter.h"
#include "tools/syslog/SyslogConnector.h"

// Where quorvane-forward sends its messages: a local syslog socket (a datagram per message), or a
// host and port over TCP (octet-counted frames, RFC 6587) or UDP (a datagram per message); the
// socket is made by SyslogConnector.
//
// Messages go in batches: one buffer holding them one after another and the end of each. What
// could not be sent stays the caller's to send again: the connection is closed and the next
// send() connects afresh. A datagram is sent once. Over TCP a batch goes as one stream of frames
// and, after a failure, all of it again (the receiver tells repeats by their line numbers).
//
// Plain TCP says when the collector's kernel has the bytes, not when the collector has read
// them: one that resets the connection loses what it had not read. So over TCP the batches sent
// on a connection are kept until the collector closes it in order (its end of stream after
// every byte was acknowledged, which Linux sends only once everything was read), and when the
// connection ends otherwise they go again, as a whole, first thing on the next one. Before each
// batch the connection is looked at for such an end; finish() shuts it down and waits for it.
class SyslogDestination {
  public:
    using Transport = SyslogConnector::Transport;
    enum class Outcome {
        Sent,
        Failed,     // try again later
        Unsendable  // this message can never go (larger than a datagram may be)
    };

    static constexpr int kConnectTimeoutMs = SyslogConnector::kConnectTimeoutMs;
    // The most kept for sending again: within the window in which quorvane-send --syslog tells
    // repeats, and more than a collector's kernel holds unread (Linux's largest default TCP
    // receive buffer is 6 MiB). Older batches count as read.
    static constexpr std::size_t kKeptRecords = RepeatFilter::kWindow / 2;
    static constexpr std::size_t kKeptBytes = std::size_t{8} << 20;

    // `address` is the socket's path, or "host:port" ("[v6-address]:port"). A blocking call
    // interrupted by a signal gives up when `stopRequested` (may be null) is set.
    SyslogDestination(Transport transport, std::string address,
                      const volatile std::sig_atomic_t* stopRequested);

    // Splits "host:port" or "[host]:port"; false when `address` is not of that shape.
    static bool splitHostPort(std::string_view address, std::string& host, std::string& port) {
        return SyslogConnector::splitHostPort(address, host, port);
    }

    // Sends the messages of `messages` that end at ends[done] onwards, connecting first when not
    // connected, and advances `done` past those sent. Sent: all are. Unsendable: the message at
    // ends[done] never can be and is passed over. On failure `error` says why.
    Outcome send(std::string_view messages, const std::vector<std::size_t>& ends, std::size_t& done,
                 std::string& error);
    // Over TCP, shuts the connection down and waits at most `timeoutMs` for the collector to
    // close it in order, sending what was kept again while it does not. True when every message
    // sent is known to be read (always for datagrams); otherwise unconfirmed() of the last ones
    // sent may be lost, and `error` says why.
    bool finish(int timeoutMs, std::string& error);
    // The messages sent over TCP and kept because the collector has not been seen to read them.
    std::size_t unconfirmed() const { return m_keptRecords; }
    // The messages sent again since the last call, because a connection ended before the
    // collector was seen to read them.
    std::size_t takeResent();
    // What the messages go to, for the tool's reports ("127.0.0.1:514 (TCP)").
    std::string description() const { return m_connector.description(); }

  private:
    enum class Connection { Open, ClosedInOrder, Lost };
    struct SentBatch {
        std::string frames;
        std::size_t messages;
    };

    bool connect(std::string& error);
    // How the collector has left the connection, reading away whatever it sent.
    Connection look();
    // Ends the connection; what was kept goes again unless the collector closed it in order.
    void drop(Connection how);
    // Connects when not connected and writes what was kept, if it has to go again.
    bool resendKept(std::string& error);
    bool writeAll(std::string_view bytes, std::string& error);
    void keep(std::string frames, std::size_t messages);
    Outcome fail(const char* what, int error, std::string& text);
    bool stopping() const { return m_connector.stopping(); }

    SyslogConnector m_connector;
    std::optional<quorvane::platform::FileDescriptor> m_socket;
    std::string m_frame;
    std::deque<SentBatch> m_kept;  // oldest first
    std::size_t m_keptRecords = 0;
    std::size_t m_keptBytes = 0;
    bool m_keptUnwritten = false;  // the connection they went on was lost
    std::size_t m_resent = 0;
    bool m_finishing = false;
};
