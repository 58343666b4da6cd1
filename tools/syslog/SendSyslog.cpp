#include "tools/syslog/SendSyslog.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "quorvane/Tracer.h"
#include "records/TraceRecord.h"
#include "tools/common/LineReader.h"
#include "tools/common/StopRequest.h"
#include "tools/syslog/RepeatFilter.h"
#include "tools/syslog/SyslogMessage.h"
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

    LineReader reader(STDIN_FILENO, kMaxSyslogLineLength, stopRequest());
    std::string_view text;
    std::uint64_t lineNumber = 0;
    std::uint64_t cut = 0;
    std::uint64_t malformed = 0;
    std::uint64_t notPosted = 0;
    std::uint64_t repeats = 0;
    RepeatFilter repeatFilter;
    SyslogMessage message;
    TraceRecord record{};
    while (!stopRequested() && reader.next(text)) {
        ++lineNumber;
        if (reader.skipped() > 0) {
            // What is kept is taken as the message: a cut text still makes a record.
            ++cut;
            std::fprintf(stderr,
                         "quorvane-send: line %llu cut: %llu bytes past the first %zu skipped "
                         "(%llu cut so far)\n",
                         static_cast<unsigned long long>(lineNumber),
                         static_cast<unsigned long long>(reader.skipped()), kMaxSyslogLineLength,
                         static_cast<unsigned long long>(cut));
        }
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
    if (cut > 0) {
        std::fprintf(stderr, "quorvane-send: %llu over-long lines cut to %zu bytes\n",
                     static_cast<unsigned long long>(cut), kMaxSyslogLineLength);
    }
    if (reader.error() != 0) {
        std::fprintf(stderr, "quorvane-send: error reading standard input: %s\n",
                     std::strerror(reader.error()));
        return kExitFailure;
    }
    if (malformed > 0) {
        std::fprintf(stderr, "quorvane-send: %llu malformed lines skipped\n",
                     static_cast<unsigned long long>(malformed));
    }
    return notPosted == 0 ? EXIT_SUCCESS : kExitFailure;
}
