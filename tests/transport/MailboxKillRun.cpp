// mailbox_kill_run: senders and receivers in processes of their own share one small ring while
// this program SIGKILLs them at random moments and starts new ones. Every other receiver takes
// records in runs (receiveMany), the others one at a time. Once the survivors are quiet
// it checks that the ring has its full capacity and no lag, and that no record was seen twice or
// half-written, and prints the counts. Exit status 0 when every check holds.
//
//   mailbox_kill_run [--seconds S] [--senders N] [--receivers N] [--seed N]

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "transport/CMclMailbox.h"

namespace {

constexpr DWORD kSlots = 64;
constexpr DWORD kSlotSize = 64;
// Record ids are handed out from a shared counter; the table of sightings has room for this many.
constexpr std::uint64_t kMaxRecords = std::uint64_t{1} << 27;
constexpr DWORD kPostTimeoutMs = 20;
constexpr DWORD kReceiveTimeoutMs = 20;
// Records a bulk receiver asks for at once; a kill can lose that many between taking and noting.
constexpr DWORD kBulkRecords = 8;
constexpr DWORD kFinalTimeoutMs = 0;

// Shared by every process of the run, mapped before the first fork.
struct Shared {
    std::atomic<std::uint64_t> nextId;
    std::atomic<int> stop;
    std::atomic<std::uint8_t> posted[kMaxRecords];  // set once post() returned true
    std::atomic<std::uint8_t> seen[kMaxRecords];    // times a receiver took the record
    std::atomic<std::uint64_t> corrupt;
};

struct Slot {
    std::uint64_t id;
    std::uint64_t check;
    unsigned char fill[kSlotSize - 16];
};
static_assert(sizeof(Slot) == kSlotSize);

Slot makeSlot(std::uint64_t id) {
    Slot slot{};
    slot.id = id;
    slot.check = id * 0x9E3779B97F4A7C15ull;
    std::memset(slot.fill, static_cast<int>(id & 0xFF), sizeof slot.fill);
    return slot;
}

bool intact(const Slot& slot) {
    if (slot.id >= kMaxRecords || slot.check != slot.id * 0x9E3779B97F4A7C15ull) return false;
    for (unsigned char byte : slot.fill)
        if (byte != (slot.id & 0xFF)) return false;
    return true;
}

int senderBody(Shared& shared, const char* name) {
    CMclMailbox mailbox(kSlots, kSlotSize, name);
    while (shared.stop.load() == 0) {
        const std::uint64_t id = shared.nextId.fetch_add(1);
        if (id >= kMaxRecords) return 0;
        const Slot slot = makeSlot(id);
        // A refused post is retried with a new id; the old id simply never appears.
        if (mailbox.post(&slot, kPostTimeoutMs)) shared.posted[id].store(1);
    }
    return 0;
}

void take(Shared& shared, const Slot& slot) {
    if (!intact(slot)) {
        shared.corrupt.fetch_add(1);
        return;
    }
    shared.seen[slot.id].fetch_add(1);
}

int receiverBody(Shared& shared, const char* name) {
    CMclMailbox mailbox(kSlots, kSlotSize, name);
    Slot slot{};
    while (shared.stop.load() == 0)
        if (mailbox.receive(&slot, kReceiveTimeoutMs)) take(shared, slot);
    return 0;
}

int bulkReceiverBody(Shared& shared, const char* name) {
    CMclMailbox mailbox(kSlots, kSlotSize, name);
    Slot slots[kBulkRecords]{};
    while (shared.stop.load() == 0) {
        const DWORD taken = mailbox.receiveMany(slots, kBulkRecords, kReceiveTimeoutMs);
        for (DWORD i = 0; i < taken; ++i) take(shared, slots[i]);
    }
    return 0;
}

enum class Role { Sender, Receiver, BulkReceiver };

struct Worker {
    Role role;
    pid_t pid;
};

pid_t spawn(Role role, Shared& shared, const char* name) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = role == Role::Sender     ? senderBody(shared, name)
                     : role == Role::Receiver ? receiverBody(shared, name)
                                              : bulkReceiverBody(shared, name);
        } catch (DWORD code) {
            std::fprintf(stderr, "worker: mailbox error %u\n", code);
        }
        ::_exit(status);
    }
    return pid;
}

struct Settings {
    double seconds = 3;
    int senders = 3;
    int receivers = 2;
    unsigned seed = std::random_device{}();
};

Settings parse(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            settings.seconds = std::atof(argv[i + 1]);
        else if (option == "--senders")
            settings.senders = std::atoi(argv[i + 1]);
        else if (option == "--receivers")
            settings.receivers = std::atoi(argv[i + 1]);
        else if (option == "--seed")
            settings.seed = static_cast<unsigned>(std::atol(argv[i + 1]));
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parse(argc, argv);
    const std::string name = "kill-run-" + std::to_string(::getpid());
    void* memory =
        ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 2;
    auto& shared = *new (memory) Shared;  // the mapping starts zero-filled

    // This process holds the ring from start to end, as a viewer would.
    CMclMailbox survivor(kSlots, kSlotSize, name.c_str());
    std::vector<Worker> workers;
    for (int i = 0; i < settings.senders; ++i)
        workers.push_back({Role::Sender, spawn(Role::Sender, shared, name.c_str())});
    for (int i = 0; i < settings.receivers; ++i) {
        const Role role = i % 2 == 0 ? Role::Receiver : Role::BulkReceiver;
        workers.push_back({role, spawn(role, shared, name.c_str())});
    }

    std::mt19937 random(settings.seed);
    std::uniform_int_distribution<int> pause(0, 3000);  // microseconds between kills
    std::uint64_t senderKills = 0, receiverKills = 0, bulkReceiverKills = 0;
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long>(settings.seconds * 1000));
    while (std::chrono::steady_clock::now() < end && shared.nextId.load() < kMaxRecords) {
        ::usleep(static_cast<useconds_t>(pause(random)));
        Worker& victim =
            workers[std::uniform_int_distribution<std::size_t>(0, workers.size() - 1)(random)];
        ::kill(victim.pid, SIGKILL);
        ::waitpid(victim.pid, nullptr, 0);
        (victim.role == Role::Sender     ? senderKills
         : victim.role == Role::Receiver ? receiverKills
                                         : bulkReceiverKills) += 1;
        victim.pid = spawn(victim.role, shared, name.c_str());
    }
    shared.stop.store(1);
    int failedWorkers = 0;
    for (Worker& worker : workers) {
        int status = 0;
        ::waitpid(worker.pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failedWorkers;
    }

    // Quiet now: what is left in the ring is taken by the survivor, at once.
    Slot slot{};
    std::uint64_t leftInRing = 0;
    while (survivor.receive(&slot, kFinalTimeoutMs)) {
        take(shared, slot);
        ++leftInRing;
    }
    // Full capacity and no lag: every slot takes a record, one more is refused, and each comes
    // straight back out in order.
    DWORD capacity = 0;
    for (DWORD i = 0; i <= kSlots; ++i) {
        const Slot probe = makeSlot(kMaxRecords - 1 - i);
        if (survivor.post(&probe, kFinalTimeoutMs)) ++capacity;
    }
    DWORD readBack = 0;
    for (DWORD i = 0; i < capacity; ++i)
        if (survivor.receive(&slot, kFinalTimeoutMs) && slot.id == kMaxRecords - 1 - i) ++readBack;
    const bool emptyAfter = !survivor.receive(&slot, kFinalTimeoutMs);

    std::uint64_t ids = std::min<std::uint64_t>(shared.nextId.load(), kMaxRecords - kSlots - 1);
    std::uint64_t sent = 0, received = 0, lost = 0, duplicated = 0, unannounced = 0;
    for (std::uint64_t id = 0; id < ids; ++id) {
        const bool posted = shared.posted[id].load() != 0;
        const unsigned seen = shared.seen[id].load();
        sent += posted;
        received += seen != 0;
        if (posted && seen == 0) ++lost;
        if (seen > 1) ++duplicated;
        if (!posted && seen != 0) ++unannounced;  // its sender was killed before marking it
    }
    const std::uint64_t corrupt = shared.corrupt.load();

    std::printf("seed %u, %.1f s, %d senders, %d receivers\n", settings.seed, settings.seconds,
                settings.senders, settings.receivers);
    std::printf("kills: %llu senders, %llu receivers, %llu bulk receivers\n",
                static_cast<unsigned long long>(senderKills),
                static_cast<unsigned long long>(receiverKills),
                static_cast<unsigned long long>(bulkReceiverKills));
    std::printf(
        "records: sent %llu, received %llu (%llu more from killed senders), lost %llu, "
        "duplicated %llu, corrupt %llu, left in ring %llu\n",
        static_cast<unsigned long long>(sent), static_cast<unsigned long long>(received),
        static_cast<unsigned long long>(unannounced), static_cast<unsigned long long>(lost),
        static_cast<unsigned long long>(duplicated), static_cast<unsigned long long>(corrupt),
        static_cast<unsigned long long>(leftInRing));
    std::printf("quiet ring: capacity %u of %u, read back at once %u, empty after %s\n", capacity,
                kSlots, readBack, emptyAfter ? "yes" : "no");

    // A receiver killed between taking records and noting them loses those records (one, or a
    // bulk receiver's run); nothing else may go missing.
    const std::uint64_t mayLose = receiverKills + bulkReceiverKills * kBulkRecords;
    const bool sound = capacity == kSlots && readBack == kSlots && emptyAfter && duplicated == 0 &&
                       corrupt == 0 && lost <= mayLose && failedWorkers == 0 && sent > 0;
    std::printf("%s\n", sound ? "sound" : "FAULTY");
    return sound ? 0 : 1;
}
