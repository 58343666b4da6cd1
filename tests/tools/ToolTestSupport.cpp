#include "tests/tools/ToolTestSupport.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "tests/support/ProcessSupport.h"

namespace tooltest {

namespace {

template <std::size_t Width>
void setField(char (&field)[Width], std::string_view text) {
    std::memcpy(field, text.data(), std::min(text.size(), Width - 1));
}

}  // namespace

TraceRecord makeRecord(std::string_view name, std::string_view text, std::string_view origin,
                       std::int32_t delta, std::uint32_t senderKey, std::int64_t timestamp) {
    TraceRecord record;
    std::memset(&record, 0, sizeof record);
    setField(record.entryName, name);
    setField(record.entryText, text);
    setField(record.originName, origin);
    record.depthDelta = delta;
    record.senderKey = senderKey;
    record.timestamp = timestamp;
    return record;
}

std::string formatAll(const std::vector<TraceRecord>& records) {
    DepthTable depthTable;
    LineFormatter formatter(depthTable);
    std::string text;
    std::uint32_t lineNumber = 0;
    for (const TraceRecord& record : records) {
        text += formatter.formatLine(record, ++lineNumber);
        text += '\n';
        formatter.storeDepth();
    }
    return text;
}

std::vector<std::string> throughShell(const std::vector<std::string>& tool) {
    std::vector<std::string> arguments = {"/bin/sh", "-c", "echo $$; exec \"$0\" \"$@\" 2>&1"};
    arguments.insert(arguments.end(), tool.begin(), tool.end());
    return arguments;
}

void Socket::reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool readable(int fd, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0))) == 1;
}

std::unique_ptr<Socket> listenTcp(std::uint16_t port, std::uint16_t& bound, int backlog) {
    auto listener = std::make_unique<Socket>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int yes = 1;
    ::setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(listener->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener->fd, backlog) != 0) {
        return nullptr;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener->fd, reinterpret_cast<sockaddr*>(&address), &length);
    bound = ntohs(address.sin_port);
    return listener;
}

bool readFrames(int fd, std::size_t count, std::vector<std::string>& messages) {
    const auto deadline = std::chrono::steady_clock::now() + quorvane::test::kHangLimit;
    std::string buffer;
    std::size_t framed = 0;
    while (framed < count) {
        const std::size_t space = buffer.find(' ');
        if (space != std::string::npos) {
            const std::size_t length = std::stoul(buffer.substr(0, space));
            if (buffer.size() >= space + 1 + length) {
                messages.push_back(buffer.substr(space + 1, length));
                buffer.erase(0, space + 1 + length);
                ++framed;
                continue;
            }
        }
        char chunk[4096];
        if (!readable(fd, deadline)) return false;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0 && count == kToTheEnd) return buffer.empty();
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
    return buffer.empty();
}

}  // namespace tooltest
