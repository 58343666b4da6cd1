#include "bench/TransferRun.h"

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "records/TraceRecord.h"

namespace {

constexpr std::size_t kSequenceBytes = sizeof(std::uint64_t);
constexpr std::size_t kTailOffset = RecordChannel::kRecordBytes - kSequenceBytes;
constexpr char kReady = 'R';
constexpr char kNotReady = 'N';
constexpr char kGo = 'G';
constexpr int kSenderFailed = 3;
constexpr int kSenderNotStarted = 4;

// A file descriptor closed on destruction.
class Descriptor {
  public:
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0) close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

struct PipePair {
    Descriptor readEnd;
    Descriptor writeEnd;
};

bool makePipe(PipePair& pair) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    pair.readEnd.reset(ends[0]);
    pair.writeEnd.reset(ends[1]);
    return true;
}

bool writeByte(int fd, char value) {
    for (;;) {
        if (write(fd, &value, 1) == 1) return true;
        if (errno != EINTR) return false;
    }
}

bool readByte(int fd, char& value) {
    for (;;) {
        const ssize_t got = read(fd, &value, 1);
        if (got == 1) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

// A record that looks like a client's: texts, a time, a sender key.
void fillTemplate(unsigned char* bytes) {
    TraceRecord record{};
    std::snprintf(record.entryName, sizeof record.entryName, "%s", "Transfer::run");
    std::snprintf(record.entryText, sizeof record.entryText, "%s",
                  "benchmark record with a sequence number in its first and last bytes");
    std::snprintf(record.originName, sizeof record.originName, "%s", "quorvane_bench");
    record.timestamp = 1'700'000'000;
    record.senderKey = static_cast<std::uint32_t>(getpid());
    std::memcpy(bytes, &record, sizeof record);
}

// The processors this process may run on, lowest first.
std::vector<int> usableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    return cpus;
}

bool pinTo(int cpu) {
    if (cpu < 0) return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

struct Pinning {
    int senderCpu = -1;
    int receiverCpu = -1;
};

Pinning pinningFor(Placement placement) {
    const std::vector<int> cpus = usableCpus();
    if (placement == Placement::OneCore && !cpus.empty()) return {cpus[0], cpus[0]};
    if (placement == Placement::TwoCores && cpus.size() >= 2) return {cpus[0], cpus[1]};
    return {};
}

// Pins this process for the lifetime of the object, then gives back the processors it had.
class ReceiverPinning {
  public:
    explicit ReceiverPinning(int cpu) {
        m_saved = sched_getaffinity(0, sizeof m_mask, &m_mask) == 0;
        pinTo(cpu);
    }
    ReceiverPinning(const ReceiverPinning&) = delete;
    ReceiverPinning& operator=(const ReceiverPinning&) = delete;
    ~ReceiverPinning() {
        if (m_saved) sched_setaffinity(0, sizeof m_mask, &m_mask);
    }

  private:
    cpu_set_t m_mask{};
    bool m_saved = false;
};

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// With `intervalUs` 0 the sender sends as fast as the channel takes records; otherwise one
// record per interval, stamped with the time it is sent.
[[noreturn]] void runSender(RecordChannel& channel, PipePair& ready, PipePair& go,
                            std::uint64_t recordCount, int cpu, unsigned intervalUs) {
    ready.readEnd.reset();
    go.writeEnd.reset();
    if (!pinTo(cpu) || !channel.openSender()) {
        writeByte(ready.writeEnd.get(), kNotReady);
        _exit(kSenderNotStarted);
    }
    std::array<unsigned char, RecordChannel::kRecordBytes> record;
    fillTemplate(record.data());
    char signal = 0;
    if (!writeByte(ready.writeEnd.get(), kReady) || !readByte(go.readEnd.get(), signal) ||
        signal != kGo) {
        _exit(kSenderNotStarted);
    }
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (std::uint64_t sequence = 0; sequence < recordCount; ++sequence) {
        stampRecord(record.data(), sequence);
        if (intervalUs > 0) {
            next.tv_nsec += static_cast<long>(intervalUs) * 1000;
            while (next.tv_nsec >= 1'000'000'000L) {
                next.tv_nsec -= 1'000'000'000L;
                ++next.tv_sec;
            }
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
            }
            const std::uint64_t sentAt = monotonicNanoseconds();
            std::memcpy(record.data() + kSequenceBytes, &sentAt, sizeof sentAt);
        }
        if (!channel.send(record.data())) _exit(kSenderFailed);
    }
    _exit(0);
}

std::string describeExit(int status) {
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
            case 0:
                return "";
            case kSenderFailed:
                return "the sender's send failed";
            case kSenderNotStarted:
                return "the sender could not open the channel";
            default:
                return "the sender exited with " + std::to_string(WEXITSTATUS(status));
        }
    }
    if (WIFSIGNALED(status)) return "the sender died of signal " + std::to_string(WTERMSIG(status));
    return "the sender ended abnormally";
}

}  // namespace

void stampRecord(unsigned char* record, std::uint64_t sequence) {
    std::memcpy(record, &sequence, kSequenceBytes);
    std::memcpy(record + kTailOffset, &sequence, kSequenceBytes);
}

bool recordCarries(const unsigned char* record, std::uint64_t sequence) {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::memcpy(&head, record, kSequenceBytes);
    std::memcpy(&tail, record + kTailOffset, kSequenceBytes);
    return head == sequence && tail == sequence;
}

namespace {

// Forks a sender for `recordCount` records, lets `receiveAll` take them once the sender is ready,
// and returns what went wrong (empty when nothing did).
template <typename ReceiveAll>
std::string withSender(RecordChannel& channel, std::uint64_t recordCount, Pinning pinning,
                       unsigned intervalUs, ReceiveAll receiveAll) {
    std::string failure;
    if (!channel.create(failure)) return failure;
    PipePair ready;
    PipePair go;
    if (!makePipe(ready) || !makePipe(go)) {
        channel.destroy();
        return "cannot make the start pipes";
    }
    std::fflush(nullptr);
    const pid_t sender = fork();
    if (sender < 0) {
        channel.destroy();
        return "fork failed";
    }
    if (sender == 0) runSender(channel, ready, go, recordCount, pinning.senderCpu, intervalUs);

    ready.writeEnd.reset();
    go.readEnd.reset();
    {
        ReceiverPinning pinned(pinning.receiverCpu);
        char answer = 0;
        if (!channel.openReceiver()) {
            failure = "cannot open the receiving end";
        } else if (!readByte(ready.readEnd.get(), answer) || answer != kReady) {
            failure = "the sender did not get ready";
        } else {
            writeByte(go.writeEnd.get(), kGo);
            failure = receiveAll();
        }
    }
    if (!failure.empty()) kill(sender, SIGKILL);
    int status = 0;
    while (waitpid(sender, &status, 0) < 0 && errno == EINTR) {
    }
    if (failure.empty()) failure = describeExit(status);
    channel.destroy();
    return failure;
}

// Receives the next record and checks it is number `sequence`; an empty text when it is.
std::string receiveInOrder(RecordChannel& channel, unsigned char* record, std::uint64_t sequence) {
    if (!channel.receive(record))
        return "receive failed after " + std::to_string(sequence) + " records";
    if (recordCarries(record, sequence)) return {};
    std::uint64_t head = 0;
    std::memcpy(&head, record, kSequenceBytes);
    return "record " + std::to_string(sequence) + " arrived as " + std::to_string(head) +
           " (lost, reordered or torn)";
}

}  // namespace

const char* placementName(Placement placement) {
    switch (placement) {
        case Placement::OneCore:
            return "one core";
        case Placement::TwoCores:
            return "two cores";
        case Placement::Unpinned:
            break;
    }
    return "unpinned";
}

bool placementPossible(Placement placement) {
    return placement != Placement::TwoCores || usableCpus().size() >= 2;
}

TransferOutcome runTransfer(RecordChannel& channel, std::uint64_t recordCount,
                            Placement placement) {
    TransferOutcome outcome;
    std::array<unsigned char, RecordChannel::kRecordBytes> record;
    outcome.failure =
        withSender(channel, recordCount, pinningFor(placement), 0, [&]() -> std::string {
            const auto start = std::chrono::steady_clock::now();
            std::string failure;
            while (outcome.received < recordCount && failure.empty()) {
                failure = receiveInOrder(channel, record.data(), outcome.received);
                if (failure.empty()) ++outcome.received;
            }
            outcome.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return failure;
        });
    outcome.valid = outcome.failure.empty() && outcome.received == recordCount;
    return outcome;
}

std::vector<double> runLatency(RecordChannel& channel, std::uint64_t recordCount,
                               unsigned intervalUs, std::string& failure) {
    std::vector<double> latencies;
    latencies.reserve(recordCount);
    std::array<unsigned char, RecordChannel::kRecordBytes> record;
    failure = withSender(channel, recordCount, {}, intervalUs, [&]() -> std::string {
        for (std::uint64_t sequence = 0; sequence < recordCount; ++sequence) {
            std::string wrong = receiveInOrder(channel, record.data(), sequence);
            if (!wrong.empty()) return wrong;
            const std::uint64_t now = monotonicNanoseconds();
            std::uint64_t sentAt = 0;
            std::memcpy(&sentAt, record.data() + kSequenceBytes, sizeof sentAt);
            latencies.push_back(static_cast<double>(now - sentAt));
        }
        return {};
    });
    if (!failure.empty()) latencies.clear();
    return latencies;
}
