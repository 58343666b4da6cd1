// Programs of the shapes people write every day, each tracing through libquorvane as a user's
// program does: `client_shapes SHAPE [ARGUMENT]`. Each prints what it saw as "key=value" lines
// and exits 0 when its own side went as it should; the test reads the mailbox with quorvane-tail.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quorvane/Tracer.h"
#include "quorvane/quorvane.h"

namespace {

// Of static storage duration, as a program's own tracer often is; used by the "static" shape.
quorvane::Tracer g_staticTracer;

quorvane::TracerOptions mailbox(const std::string& name) {
    quorvane::TracerOptions options;
    options.mailboxName = name;
    return options;
}

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int staticTracer() {
    return g_staticTracer.postFormat(0, "main", "hello %d", 42) ? 0 : 1;
}

// A daemon: traces, forks, and the parent returns from main at once. The child closes its
// standard streams and traces on once the parent is gone.
int daemonParentFirst() {
    quorvane_trace("daemon", "before fork");
    const pid_t parent = ::getpid();
    if (::fork() != 0) return 0;
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    while (::getppid() == parent) pause(5);
    for (int i = 1; i <= 40; ++i) {
        quorvane_trace("child", "%d", i);
        pause(50);
    }
    return 0;
}

// The child traces and exits first; the parent traces on after it.
int daemonChildFirst() {
    quorvane_trace("daemon", "before fork");
    const pid_t child = ::fork();
    if (child == 0) {
        quorvane_trace("child", "traced and gone");
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("child-exited\n");
    std::fflush(stdout);
    for (int i = 1; i <= 40; ++i) {
        quorvane_trace("parent", "%d", i);
        pause(50);
    }
    return 0;
}

// Closes every descriptor it did not open itself (or puts /dev/null over each), as daemons and
// sandboxes do, then opens one file and returns.
int closeAll(bool overwrite) {
    quorvane_trace("closer", "before");
    const int null = ::open("/dev/null", O_RDONLY);
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd == null) continue;
        if (overwrite) {
            if (::fcntl(fd, F_GETFD) >= 0) ::dup2(null, fd);
        } else {
            ::close(fd);
        }
    }
    if (!overwrite) ::open("/dev/null", O_RDONLY);
    quorvane_trace("closer", "after");
    return 0;
}

// Forks while another thread makes the first trace call of a tracer; both sides must trace, and
// neither may be left holding a lock it does not know of.
int forkDuringFirstTrace(int trials) {
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    int failures = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const std::string stem =
            "shape-fork-" + std::to_string(::getpid()) + "-" + std::to_string(trial);
        quorvane::Tracer tracer(mailbox(stem));
        std::atomic<bool> parentPosted{false};
        std::thread first([&] { parentPosted = tracer.postText(0, "first", "call"); });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        const pid_t child = ::fork();
        if (child == 0) {
            quorvane::Tracer other(mailbox(stem + "-child"));
            const bool posted =
                tracer.postText(0, "child", "call") && other.postText(0, "child", "other");
            pause(100);  // lives on while the parent opens another mailbox
            ::_exit(posted ? 0 : 1);
        }
        first.join();
        quorvane::Tracer other(mailbox(stem + "-parent"));
        const bool parentOk = parentPosted && other.postText(0, "parent", "other");
        int status = 0;
        ::waitpid(child, &status, 0);
        const bool childOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!parentOk || !childOk) {
            ++failures;
            std::printf("trial=%d parent=%d child=%d reason=%s\n", trial, parentOk, childOk,
                        other.disabledReason());
        }
    }
    std::printf("failures=%d\n", failures);
    return failures == 0 ? 0 : 1;
}

std::atomic<long> g_handlerPosted{0};

void traceTick(int) {
    if (quorvane_trace("handler", "tick") == 1) g_handlerPosted.fetch_add(1);
}

// A profiling timer's handler traces into the same thread's own trace calls.
int signalHandler(long loops) {
    struct sigaction action {};
    action.sa_handler = traceTick;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGPROF, &action, nullptr);
    const itimerval every{{0, 200}, {0, 200}};
    ::setitimer(ITIMER_PROF, &every, nullptr);
    long mainPosted = 0;
    for (long n = 1; n <= loops; ++n) {
        mainPosted += quorvane_trace("main", "loop %ld", n);
        // Work of its own between the calls, so that some ticks land outside them.
        for (int work = 0; work < 500; ++work) std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    const itimerval off{};
    ::setitimer(ITIMER_PROF, &off, nullptr);
    while (quorvane_trace("signal", "end") != 1) pause(10);  // waits for room if the ring is full
    std::printf("main=%ld handler=%ld dropped=%llu\n", mainPosted, g_handlerPosted.load(),
                static_cast<unsigned long long>(quorvane_dropped_count()));
    return 0;
}

// Threads cancelled at any point of their trace calls, round after round on new mailboxes, so
// that cancellations land in opening, probing and posting alike.
int cancelledThreads(int rounds) {
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    for (int round = 0; round < rounds; ++round) {
        quorvane::TracerOptions options =
            mailbox("shape-cancel-" + std::to_string(::getpid()) + "-" + std::to_string(round));
        options.viewerProbeIntervalMs = 0;
        quorvane::Tracer tracer(options);
        std::vector<pthread_t> threads(20);
        for (pthread_t& thread : threads) {
            ::pthread_create(
                &thread, nullptr,
                [](void* argument) -> void* {
                    auto* shared = static_cast<quorvane::Tracer*>(argument);
                    for (long i = 0;; ++i) {
                        shared->postFormat(0, "worker", "%ld", i);
                        ::pthread_testcancel();  // as a real loop's reads and writes would be
                    }
                },
                &tracer);
        }
        // Cancelled one by one between 2 and 8 ms after they started.
        pause(2);
        for (pthread_t thread : threads) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 600));
            ::pthread_cancel(thread);
        }
        for (pthread_t thread : threads) ::pthread_join(thread, nullptr);
        // Nothing is left held: another tracer opens the same mailbox and posts into it.
        quorvane::Tracer after(mailbox(tracer.mailboxName()));
        if (!after.enabled()) {
            std::printf("round=%d reason=%s\n", round, after.disabledReason());
            return 1;
        }
    }
    std::printf("rounds=%d\n", rounds);
    return 0;
}

// Why tracing is off, as the program would tell its user.
int reason(int fileLimit) {
    if (fileLimit > 0) {
        const rlimit limit{static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const int enabled = quorvane_enabled();
    std::printf("enabled=%d reason=%s\n", enabled, quorvane_disabled_reason());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string shape = argc > 1 ? argv[1] : "";
    const long argument = argc > 2 ? std::atol(argv[2]) : 0;
    if (shape == "static") return staticTracer();
    if (shape == "daemon-parent-first") return daemonParentFirst();
    if (shape == "daemon-child-first") return daemonChildFirst();
    if (shape == "close-all") return closeAll(false);
    if (shape == "dup2-all") return closeAll(true);
    if (shape == "fork-first-trace") return forkDuringFirstTrace(static_cast<int>(argument));
    if (shape == "signal-handler") return signalHandler(argument);
    if (shape == "cancelled-threads") return cancelledThreads(static_cast<int>(argument));
    if (shape == "reason") return reason(static_cast<int>(argument));
    std::fprintf(stderr, "unknown shape \"%s\"\n", shape.c_str());
    return 2;
}
