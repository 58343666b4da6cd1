// Cost of one trace call: quorvane's printf-style one-line trace beside snprintf into a stack
// buffer (the floor), fprintf to /dev/null, and spdlog's asynchronous logger writing the same
// line to a null sink, interleaved round by round in one run. And the cost of a traced scope (its
// entry and its leave record) beside two of spdlog's asynchronous messages.
//
// "ns per call" is wall time over calls, all threads together. Ours runs with no reader (the ring
// fills, then every record is dropped), and with a reader process that drains the mailbox and,
// as a viewer does, holds the presence mutex, so a full ring makes the caller wait for room.
// "CPU ns per call" adds the processor time of everything that handled the calls: for ours the
// calling process and the reader process, for spdlog the calling process with its worker thread.
// On a machine shared with other work it moves far less than wall time.
#include <signal.h>
#include <spdlog/async.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReport.h"
#include "quorvane/Trace.h"
#include "quorvane/Tracer.h"
#include "records/TraceRecord.h"
#include "transport/CMclMailbox.h"
#include "transport/CMclMutex.h"

namespace {

constexpr std::uint64_t kDefaultCalls = 1'000'000;
constexpr int kDefaultRounds = 5;
constexpr int kThreads = 4;
constexpr std::size_t kSpdlogQueue = 8192;
constexpr double kTargetNoReader = 2.0;  // x snprintf
constexpr double kTargetReader = 0.5;    // x spdlog's asynchronous logger
constexpr double kTargetScope = 0.5;     // x two of spdlog's asynchronous messages
constexpr DWORD kReaderWaitMs = 125;

using Clock = std::chrono::steady_clock;

volatile int g_sink;

double processCpuNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

struct CallCost {
    double wallNs = 0;  // per call
    double cpuNs = 0;   // this process's processor time per call, all its threads
};

// Runs `call(i)` for `calls` calls split over `threads` threads.
CallCost costPerCall(std::uint64_t calls, int threads,
                     const std::function<void(std::uint64_t)>& call) {
    const double cpuStart = processCpuNanoseconds();
    const Clock::time_point start = Clock::now();
    if (threads == 1) {
        for (std::uint64_t i = 0; i < calls; ++i) call(i);
    } else {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (std::uint64_t i = static_cast<std::uint64_t>(t); i < calls;
                     i += static_cast<std::uint64_t>(threads))
                    call(i);
            });
        for (std::thread& worker : workers) worker.join();
    }
    const double wall = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    const double cpu = processCpuNanoseconds() - cpuStart;
    return {wall / static_cast<double>(calls), cpu / static_cast<double>(calls)};
}

double nsPerCall(std::uint64_t calls, int threads, const std::function<void(std::uint64_t)>& call) {
    return costPerCall(calls, threads, call).wallNs;
}

// A process that drains the mailbox until SIGTERM, holding the presence mutex like a viewer.
class Reader {
  public:
    Reader(const std::string& mailbox, const std::string& presence) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            CMclMutex alive(TRUE, presence.c_str());
            CMclMailbox ring(quorvane::kMailSlots, kTraceRecordSize, mailbox.c_str());
            (void)!::write(ready[1], "r", 1);
            TraceRecord record{};
            for (;;) ring.receive(&record, kReaderWaitMs);
        }
        ::close(ready[1]);
        char byte = 0;
        (void)!::read(ready[0], &byte, 1);
        ::close(ready[0]);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() { stop(); }

    // Ends the reader; returns the processor time it used, in nanoseconds.
    double stop() {
        if (m_pid <= 0) return 0;
        ::kill(m_pid, SIGKILL);
        rusage usage{};
        ::wait4(m_pid, nullptr, 0, &usage);
        m_pid = -1;
        return (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9) +
               (static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3);
    }

  private:
    pid_t m_pid = -1;
};

quorvane::TracerOptions optionsFor(const std::string& mailbox, const std::string& presence) {
    quorvane::TracerOptions options;
    options.mailboxName = mailbox;
    options.presenceMutexName = presence;
    return options;
}

std::shared_ptr<spdlog::logger> asyncNullLogger(const std::string& name) {
    return spdlog::create_async<spdlog::sinks::null_sink_mt>(name);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t calls = environmentNumber("QUORVANE_BENCH_CALLS", kDefaultCalls);
    const int rounds = benchRounds(kDefaultRounds);
    const std::string stem = "bench-trace-" + std::to_string(::getpid());
    spdlog::init_thread_pool(kSpdlogQueue, 1);

    Samples snprintfFloor, fprintfNull, spdlogOne, spdlogFour, oursAlone, oursRead, oursReadFour;
    Samples spdlogPairOne, spdlogPairFour, scopeOne, scopeFour;
    Samples spdlogOneCpu, spdlogFourCpu, oursReadCpu, oursReadFourCpu;
    Samples spdlogPairOneCpu, spdlogPairFourCpu, scopeOneCpu, scopeFourCpu;
    std::uint64_t dropped = 0, readPosted = 0, readDropped = 0, scopePosted = 0, scopeDropped = 0;
    std::FILE* devNull = std::fopen("/dev/null", "w");
    for (int round = 0; round < rounds; ++round) {
        const std::string tag = stem + "-" + std::to_string(round);
        snprintfFloor.add(nsPerCall(calls, 1, [](std::uint64_t i) {
            char buffer[512];
            g_sink = std::snprintf(buffer, sizeof buffer, "i=%ld value=%d", static_cast<long>(i),
                                   static_cast<int>(i * 7));
        }));
        fprintfNull.add(nsPerCall(calls, 1, [&](std::uint64_t i) {
            std::fprintf(devNull, "bench\ti=%ld value=%d\n", static_cast<long>(i),
                         static_cast<int>(i * 7));
        }));
        for (int threads : {1, kThreads}) {
            auto logger = asyncNullLogger(tag + "-spdlog-" + std::to_string(threads));
            const CallCost cost = costPerCall(calls, threads, [&](std::uint64_t i) {
                logger->info("i={} value={}", static_cast<long>(i), static_cast<int>(i * 7));
            });
            spdlog::drop(logger->name());
            (threads == 1 ? spdlogOne : spdlogFour).add(cost.wallNs);
            (threads == 1 ? spdlogOneCpu : spdlogFourCpu).add(cost.cpuNs);
        }
        for (int threads : {1, kThreads}) {
            auto logger = asyncNullLogger(tag + "-spdlog-pair-" + std::to_string(threads));
            const CallCost cost = costPerCall(calls, threads, [&](std::uint64_t i) {
                logger->info("bench i={} value={}", static_cast<long>(i), static_cast<int>(i * 7));
                logger->info("bench leave");
            });
            spdlog::drop(logger->name());
            (threads == 1 ? spdlogPairOne : spdlogPairFour).add(cost.wallNs);
            (threads == 1 ? spdlogPairOneCpu : spdlogPairFourCpu).add(cost.cpuNs);
        }
        {
            quorvane::Tracer alone(optionsFor(tag + "-alone", tag + "-nobody"));
            oursAlone.add(nsPerCall(calls, 1, [&](std::uint64_t i) {
                alone.postFormat(0, "bench", "i=%ld value=%d", static_cast<long>(i),
                                 static_cast<int>(i * 7));
            }));
            dropped += alone.droppedCount();
        }
        for (int threads : {1, kThreads}) {
            const std::string mailbox = tag + "-read-" + std::to_string(threads);
            const std::string presence = mailbox + "-alive";
            Reader reader(mailbox, presence);
            quorvane::Tracer tracer(optionsFor(mailbox, presence));
            const CallCost cost = costPerCall(calls, threads, [&](std::uint64_t i) {
                tracer.postFormat(0, "bench", "i=%ld value=%d", static_cast<long>(i),
                                  static_cast<int>(i * 7));
            });
            const double readerCpu = reader.stop() / static_cast<double>(calls);
            (threads == 1 ? oursRead : oursReadFour).add(cost.wallNs);
            (threads == 1 ? oursReadCpu : oursReadFourCpu).add(cost.cpuNs + readerCpu);
            readPosted += tracer.postedCount();
            readDropped += tracer.droppedCount();
        }
        for (int threads : {1, kThreads}) {
            const std::string mailbox = tag + "-scope-" + std::to_string(threads);
            const std::string presence = mailbox + "-alive";
            Reader reader(mailbox, presence);
            quorvane::Tracer tracer(optionsFor(mailbox, presence));
            const CallCost cost = costPerCall(calls, threads, [&](std::uint64_t i) {
                const quorvane::Scope scope(tracer, "bench", "i=%ld value=%d", static_cast<long>(i),
                                            static_cast<int>(i * 7));
            });
            const double readerCpu = reader.stop() / static_cast<double>(calls);
            (threads == 1 ? scopeOne : scopeFour).add(cost.wallNs);
            (threads == 1 ? scopeOneCpu : scopeFourCpu).add(cost.cpuNs + readerCpu);
            scopePosted += tracer.postedCount();
            scopeDropped += tracer.droppedCount();
        }
    }
    std::fclose(devNull);

    BenchReport report(argc, argv);
    report.section(R"(one trace call, "bench" "i=%ld value=%d": )" + std::to_string(calls) +
                   " calls per figure, " + std::to_string(rounds) +
                   " interleaved rounds, wall ns per call (all threads together)");
    report.single("snprintf into a stack buffer (floor)", snprintfFloor, Unit::Nanoseconds);
    report.single("fprintf to /dev/null", fprintfNull, Unit::Nanoseconds);
    report.comparison("quorvane, no reader", oursAlone, "snprintf", snprintfFloor,
                      Unit::Nanoseconds);
    report.comparison("quorvane, reader process draining", oursRead, "spdlog async, null sink",
                      spdlogOne, Unit::Nanoseconds);
    report.comparison("quorvane, 4 threads, reader draining", oursReadFour,
                      "spdlog async, 4 threads", spdlogFour, Unit::Nanoseconds);
    report.comparison("quorvane scope (entry and leave), reader draining", scopeOne,
                      "spdlog async, two messages", spdlogPairOne, Unit::Nanoseconds);
    report.comparison("quorvane scope, 4 threads, reader draining", scopeFour,
                      "spdlog async, two messages, 4 threads", spdlogPairFour, Unit::Nanoseconds);
    report.comparison("CPU ns per call, quorvane and reader", oursReadCpu,
                      "spdlog async and its worker", spdlogOneCpu, Unit::Nanoseconds);
    report.comparison("CPU ns per call, 4 threads, quorvane and reader", oursReadFourCpu,
                      "spdlog async and its worker, 4 threads", spdlogFourCpu, Unit::Nanoseconds);
    report.comparison("CPU ns per scope, quorvane and reader", scopeOneCpu,
                      "spdlog async two messages and its worker", spdlogPairOneCpu,
                      Unit::Nanoseconds);
    report.comparison("CPU ns per scope, 4 threads, quorvane and reader", scopeFourCpu,
                      "spdlog async two messages and its worker, 4 threads", spdlogPairFourCpu,
                      Unit::Nanoseconds);
    report.note("no reader: " + std::to_string(dropped) + " records dropped of " +
                std::to_string(calls * static_cast<std::uint64_t>(rounds)) +
                "; with a reader: " + std::to_string(readPosted) + " posted, " +
                std::to_string(readDropped) + " dropped; scopes: " + std::to_string(scopePosted) +
                " records posted, " + std::to_string(scopeDropped) + " dropped");
    report.result(resultLine("trace_no_reader_vs_snprintf", oursAlone.median(),
                             snprintfFloor.median(), kTargetNoReader, Better::Lower));
    report.result(resultLine("trace_reader_vs_spdlog_async", oursRead.median(), spdlogOne.median(),
                             kTargetReader, Better::Lower));
    report.result(resultLine("trace_reader_4threads_vs_spdlog_async", oursReadFour.median(),
                             spdlogFour.median(), kTargetReader, Better::Lower));
    report.result(resultLine("scope_reader_vs_spdlog_async_pair", scopeOne.median(),
                             spdlogPairOne.median(), kTargetScope, Better::Lower));
    report.result(resultLine("scope_reader_4threads_vs_spdlog_async_pair", scopeFour.median(),
                             spdlogPairFour.median(), kTargetScope, Better::Lower));
    report.finish();
    spdlog::shutdown();
    return 0;
}
