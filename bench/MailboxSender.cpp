#include "bench/MailboxSender.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "quorvane/Names.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"

namespace {
constexpr DWORD kPostTimeoutMs = 60'000;
constexpr int kSenderFailed = 3;
constexpr int kSenderNotStarted = 4;
}  // namespace

MailboxSender::MailboxSender(const std::vector<TraceRecord>& mix, std::uint32_t recordCount) {
    int ends[2];
    if (pipe(ends) != 0) return;
    std::fflush(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        close(ends[1]);
        run(ends[0], mix, recordCount);
    }
    close(ends[0]);
    m_go = ends[1];
}

bool MailboxSender::go() {
    return write(m_go, "G", 1) == 1;
}

std::string MailboxSender::finish(bool abandon) {
    if (m_go >= 0) close(m_go);
    m_go = -1;
    if (m_pid <= 0) return "the sender did not start";
    if (abandon) kill(m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "the sender failed";
}

void MailboxSender::run(int goReadEnd, const std::vector<TraceRecord>& mix,
                        std::uint32_t recordCount) {
    char go = 0;
    while (read(goReadEnd, &go, 1) < 0 && errno == EINTR) {
    }
    if (go != 'G') _exit(kSenderNotStarted);
    try {
        CMclMailbox mailbox(quorvane::kMailSlots, kTraceRecordSize, traceMailboxName());
        for (std::uint32_t i = 0; i < recordCount; ++i) {
            if (!mailbox.post(&mix[i % mix.size()], kPostTimeoutMs)) _exit(kSenderFailed);
        }
    } catch (DWORD) {
        _exit(kSenderNotStarted);
    }
    _exit(0);
}
