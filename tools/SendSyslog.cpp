#include "tools/SendSyslog.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "quorvane/Tracer.h"
#include "records/TraceRecord.h"
#include "tools/RepeatFilter.h"
#include "tools/StopRequest.h"
#include "tools/SyslogMessage.h"
#include "transport/CMclMailbox.h"

namespace {

constexpr int kExitFailure = 1;
// With --confirm, the longest wait for room in the mailbox: well inside omprog's default
// confirmTimeout of ten seconds, past which rsyslog restarts the program.
constexpr DWORD kConfirmPostWaitMs = 2000;
// How long a finding that a viewer runs (or not) is reused.
constexpr std::uint32_t kViewerProbeIntervalMs = 200;
// The confirmation omprog waits for; any other line keeps the message in rsyslog's queue.
constexpr std::string_view kConfirmed = "OK";

// Writes one answer line for omprog at once: rsyslog waits for it before the next message.
bool answer(std::string_view text) {
    std::string line(text);
    line += '\n';
    std::string_view left = line;
    while (!left.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, left.data(), left.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            std::fprintf(stderr, "quorvane-send: cannot answer on standard output: %s\n",
                         std::strerror(errno));
            return false;
        }
        left.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

int sendSyslog(CMclMailbox& mailbox, DWORD timeoutMs, bool confirm) {
    // omprog may end the program with SIGTERM: the read returns early and the counts are said.
    installStopRequest();

    quorvane::TracerOptions presenceOptions;
    presenceOptions.viewerProbeIntervalMs = kViewerProbeIntervalMs;
    quorvane::Tracer presence(presenceOptions);
    const DWORD postWaitMs = confirm ? std::min<DWORD>(timeoutMs, kConfirmPostWaitMs) : timeoutMs;
    if (confirm && !answer(kConfirmed)) return kExitFailure;

    char* line = nullptr;
    std::size_t capacity = 0;
    const std::unique_ptr<char*, void (*)(char**)> owner(&line, [](char** p) { std::free(*p); });
    std::uint64_t lineNumber = 0;
    std::uint64_t malformed = 0;
    std::uint64_t notPosted = 0;
    std::uint64_t repeats = 0;
    RepeatFilter repeatFilter;
    SyslogMessage message;
    TraceRecord record{};
    for (;;) {
        const ssize_t length = !stopRequested() ? getline(&line, &capacity, stdin) : -1;
        if (length < 0) break;
        ++lineNumber;
        std::string_view text(line, static_cast<std::size_t>(length));
        if (text.ends_with('\n')) text.remove_suffix(1);
        const char* error = parseSyslogMessage(text, message);
        if (error == nullptr) error = recordFromMessage(message, std::time(nullptr), record);
        if (error != nullptr) {
            ++malformed;
            std::fprintf(stderr, "quorvane-send: line %llu skipped: %s (%llu malformed so far)\n",
                         static_cast<unsigned long long>(lineNumber), error,
                         static_cast<unsigned long long>(malformed));
            // Sending it again would not mend it: it counts as dealt with.
            if (confirm && !answer(kConfirmed)) return kExitFailure;
            continue;
        }
        if (repeatFilter.isRepeat(message)) {
            ++repeats;
            if (confirm && !answer(kConfirmed)) return kExitFailure;
            continue;
        }
        if (confirm && !presence.viewerRunning()) {
            if (!answer("no Quorvane viewer is running")) return kExitFailure;
            continue;
        }
        if (!mailbox.post(&record, postWaitMs)) {
            if (confirm) {
                if (!answer("the Quorvane mailbox is full")) return kExitFailure;
                continue;
            }
            ++notPosted;
            std::fprintf(stderr,
                         "quorvane-send: line %llu not posted: no room in the mailbox within %lu "
                         "ms\n",
                         static_cast<unsigned long long>(lineNumber),
                         static_cast<unsigned long>(postWaitMs));
            continue;
        }
        repeatFilter.notePosted(message);
        if (confirm && !answer(kConfirmed)) return kExitFailure;
    }
    if (repeats > 0) {
        std::fprintf(stderr, "quorvane-send: %llu repeated traces skipped\n",
                     static_cast<unsigned long long>(repeats));
    }
    if (std::ferror(stdin) && !stopRequested()) {
        std::fprintf(stderr, "quorvane-send: error reading standard input: %s\n",
                     std::strerror(errno));
        return kExitFailure;
    }
    if (malformed > 0) {
        std::fprintf(stderr, "quorvane-send: %llu malformed lines skipped\n",
                     static_cast<unsigned long long>(malformed));
    }
    return notPosted == 0 ? EXIT_SUCCESS : kExitFailure;
}
