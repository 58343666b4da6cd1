#pragma once
// What the tests of the command-line tools share: records made to order, the lines the viewer
// (and quorvane-tail) would show for them, a tool run through the shell so that its process id
// is known, and TCP listeners standing in for a syslog collector.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "records/TraceRecord.h"

namespace tooltest {

// A record with these fields, each text cut to its field, everything else zero.
TraceRecord makeRecord(std::string_view name, std::string_view text, std::string_view origin,
                       std::int32_t delta, std::uint32_t senderKey, std::int64_t timestamp);

// The lines of `records`, numbered from 1, each ending in a newline.
std::string formatAll(const std::vector<TraceRecord>& records);

// The arguments that run `tool` through the shell with its standard error on standard output,
// after a first line holding the tool's process id.
std::vector<std::string> throughShell(const std::vector<std::string>& tool);

// Owns a socket descriptor.
struct Socket {
    explicit Socket(int descriptor) : fd(descriptor) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { reset(); }
    void reset();
    int fd;
};

// Whether `fd` has something to read before `deadline`.
bool readable(int fd, std::chrono::steady_clock::time_point deadline);

// A TCP listener on 127.0.0.1:`port` (0: any free one), its port in `bound`; null on failure.
std::unique_ptr<Socket> listenTcp(std::uint16_t port, std::uint16_t& bound, int backlog = 4);

inline constexpr std::size_t kToTheEnd = std::numeric_limits<std::size_t>::max();
// Reads `count` octet-counted frames from a stream (kToTheEnd: all up to its end), appending
// the messages to `messages`; false when the stream ends or stalls first, or goes on after.
bool readFrames(int fd, std::size_t count, std::vector<std::string>& messages);

}  // namespace tooltest
