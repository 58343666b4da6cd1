// A traced program for the client tests: it links only libquorvane and does one thing per run,
// reporting what it saw on standard output.
//
//   client_probe mailbox-name   prints the mailbox name, changes QUORVANE_MAILBOX, prints it again
//   client_probe scopes N       three threads each trace N rounds of nested scopes, then print
//                               "thread <index> <kernel thread id>" and "posted <n> dropped <n>"
//   client_probe disabled       prints "enabled <0|1>", "code <n>", "reason <text>", "posted <0|1>"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "client/CQuorvane.h"
#include "quorvane/Trace.h"

namespace {

constexpr int kThreads = 3;

void traceRounds(int index, int rounds) {
    QUORVANE_SCOPE("worker", "index=%d", index);
    for (int round = 0; round < rounds; ++round) {
        QUORVANE_SCOPE("round", "%d", round);
        quorvane::trace("step", "thread %d round %d", index, round);
        QUORVANE_SCOPE("inner");
    }
}

int scopes(int rounds) {
    std::vector<long> threadIds(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int index = 0; index < kThreads; ++index) {
            threads.emplace_back([index, rounds, &threadIds] {
                threadIds[index] = syscall(SYS_gettid);
                traceRounds(index, rounds);
            });
        }
    }
    for (int index = 0; index < kThreads; ++index) {
        std::printf("thread %d %ld\n", index, threadIds[index]);
    }
    std::printf("posted %llu dropped %llu\n",
                static_cast<unsigned long long>(quorvane::postedCount()),
                static_cast<unsigned long long>(quorvane::droppedCount()));
    return EXIT_SUCCESS;
}

int mailboxName() {
    std::printf("%s\n", quorvane::defaultTracer().mailboxName().c_str());
    setenv("QUORVANE_MAILBOX", "ChangedAfterFirstUse", 1);
    std::printf("%s\n", quorvane::defaultTracer().mailboxName().c_str());
    return EXIT_SUCCESS;
}

int disabled() {
    const bool enabled = quorvane::tracingEnabled();
    const bool posted = quorvane::trace("anything", "%d", 1);
    std::printf("enabled %d\ncode %u\nreason %s\nposted %d\n", enabled ? 1 : 0,
                quorvane::disabledCode(), quorvane::disabledReason(), posted ? 1 : 0);
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "scopes") == 0) return scopes(std::atoi(argv[2]));
    if (argc == 2 && std::strcmp(argv[1], "mailbox-name") == 0) return mailboxName();
    if (argc == 2 && std::strcmp(argv[1], "disabled") == 0) return disabled();
    std::fprintf(stderr, "usage: client_probe mailbox-name | scopes N | disabled\n");
    return 2;
}
