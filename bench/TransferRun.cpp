#include "bench/TransferRun.h"

#include <signal.h>
#include <sys/wait.h>
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

[[noreturn]] void runSender(RecordChannel& channel, PipePair& ready, PipePair& go,
                            std::uint64_t recordCount) {
    ready.readEnd.reset();
    go.writeEnd.reset();
    if (!channel.openSender()) {
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
    for (std::uint64_t sequence = 0; sequence < recordCount; ++sequence) {
        stampRecord(record.data(), sequence);
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

TransferOutcome runTransfer(RecordChannel& channel, std::uint64_t recordCount) {
    TransferOutcome outcome;
    if (!channel.create(outcome.failure)) return outcome;
    PipePair ready;
    PipePair go;
    if (!makePipe(ready) || !makePipe(go)) {
        outcome.failure = "cannot make the start pipes";
        channel.destroy();
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t sender = fork();
    if (sender < 0) {
        outcome.failure = "fork failed";
        channel.destroy();
        return outcome;
    }
    if (sender == 0) runSender(channel, ready, go, recordCount);

    ready.writeEnd.reset();
    go.readEnd.reset();
    char answer = 0;
    if (!channel.openReceiver()) {
        outcome.failure = "cannot open the receiving end";
    } else if (!readByte(ready.readEnd.get(), answer) || answer != kReady) {
        outcome.failure = "the sender did not get ready";
    } else {
        std::array<unsigned char, RecordChannel::kRecordBytes> record;
        const auto start = std::chrono::steady_clock::now();
        writeByte(go.writeEnd.get(), kGo);
        while (outcome.received < recordCount) {
            if (!channel.receive(record.data())) {
                outcome.failure =
                    "receive failed after " + std::to_string(outcome.received) + " records";
                break;
            }
            if (!recordCarries(record.data(), outcome.received)) {
                std::uint64_t head = 0;
                std::memcpy(&head, record.data(), kSequenceBytes);
                outcome.failure = "record " + std::to_string(outcome.received) + " arrived as " +
                                  std::to_string(head) + " (lost, reordered or torn)";
                break;
            }
            ++outcome.received;
        }
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (!outcome.failure.empty()) kill(sender, SIGKILL);
    int status = 0;
    while (waitpid(sender, &status, 0) < 0 && errno == EINTR) {
    }
    if (outcome.failure.empty()) outcome.failure = describeExit(status);
    channel.destroy();
    outcome.valid = outcome.failure.empty() && outcome.received == recordCount;
    return outcome;
}
