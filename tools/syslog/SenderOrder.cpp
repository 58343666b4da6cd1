#include "tools/syslog/SenderOrder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

struct SenderOrder::Slot {
    std::uint64_t next;      // the next line to post; 0 while the slot is free
    std::uint64_t lastSeen;  // m_clock when a trace of the run last came
    std::uint32_t keyLength;
    char key[kMaxKeyLength];
};

namespace {

constexpr const char* kSlotsFile = "/order";
constexpr const char* kJournalFile = "/held";
constexpr mode_t kPrivateDirectory = 0700;
constexpr mode_t kPrivateFile = 0600;

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// "host run R" for the messages about a run.
std::string describe(const std::string& key) {
    const std::size_t nul = key.find('\0');
    return "host " + key.substr(0, nul) + " run " + key.substr(nul + 1);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

SenderOrder::~SenderOrder() {
    if (m_slots != nullptr) ::munmap(m_slots, m_mappedBytes);
    if (m_journal >= 0) ::close(m_journal);
    if (m_lock >= 0) ::close(m_lock);
}

bool SenderOrder::open(const std::string& directory, std::string& error) {
    // The directory and those above it that are missing ($XDG_STATE_HOME/quorvane/relp).
    for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
        const std::string part = directory.substr(0, end);
        if (::mkdir(part.c_str(), kPrivateDirectory) != 0 && errno != EEXIST) {
            error = systemError("cannot create " + part);
            return false;
        }
        if (end == std::string::npos) break;
    }
    const std::string slotsPath = directory + kSlotsFile;
    const int fd = ::open(slotsPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFile);
    if (fd < 0) {
        error = systemError("cannot open " + slotsPath);
        return false;
    }
    // One receiver a state: a second would post the same runs' traces again.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "another quorvane-relp uses " + directory
                                     : systemError("cannot lock " + slotsPath);
        ::close(fd);
        return false;
    }
    m_lock = fd;
    m_mappedBytes = kMaxRuns * sizeof(Slot);
    struct stat status {};
    const bool sized = ::fstat(fd, &status) == 0 &&
                       (static_cast<std::size_t>(status.st_size) == m_mappedBytes ||
                        ::ftruncate(fd, static_cast<off_t>(m_mappedBytes)) == 0);
    void* mapped =
        sized ? ::mmap(nullptr, m_mappedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : nullptr;
    if (mapped == nullptr || mapped == MAP_FAILED) {
        error = systemError("cannot map " + slotsPath);
        return false;
    }
    m_slots = static_cast<Slot*>(mapped);
    for (std::size_t i = 0; i < kMaxRuns; ++i) {
        Slot& slot = m_slots[i];
        if (slot.next == 0 || slot.keyLength == 0 || slot.keyLength > kMaxKeyLength) {
            slot.next = 0;
            continue;
        }
        m_runs[std::string(slot.key, slot.keyLength)].slot = &slot;
        if (slot.lastSeen > m_clock) m_clock = slot.lastSeen;
    }
    const std::string journalPath = directory + kJournalFile;
    m_journal = ::open(journalPath.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, kPrivateFile);
    if (m_journal < 0) {
        error = systemError("cannot open " + journalPath);
        return false;
    }
    return loadJournal(error);
}

bool SenderOrder::loadJournal(std::string& error) {
    std::vector<char> content;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::pread(m_journal, chunk, sizeof chunk, static_cast<off_t>(content.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = systemError("cannot read the held traces");
            return false;
        }
        if (got == 0) break;
        content.insert(content.end(), chunk, chunk + got);
    }
    // Entries: key length (u32), key, line (u64), the record. A torn last entry is dropped: its
    // sender was not told it arrived.
    std::size_t at = 0;
    const auto take = [&content, &at](void* out, std::size_t size) {
        if (content.size() - at < size) return false;
        std::memcpy(out, content.data() + at, size);
        at += size;
        return true;
    };
    std::uint32_t keyLength = 0;
    while (take(&keyLength, sizeof keyLength) && keyLength <= kMaxKeyLength) {
        std::string key(keyLength, '\0');
        std::uint64_t line = 0;
        TraceRecord record{};
        if (!take(key.data(), keyLength) || !take(&line, sizeof line) ||
            !take(&record, sizeof record)) {
            break;
        }
        Run* run = find(key);
        if (run != nullptr && line >= run->slot->next && run->held.count(line) == 0) {
            hold(key, *run, line, record, false);
        }
    }
    forgetJournalWhenEmpty();
    return true;
}

SenderOrder::Run* SenderOrder::find(const std::string& key) {
    const auto found = m_runs.find(key);
    if (found != m_runs.end()) {
        found->second.slot->lastSeen = ++m_clock;
        return &found->second;
    }
    // A free slot, else the one of the run seen least recently that holds nothing.
    Slot* chosen = nullptr;
    for (std::size_t i = 0; i < kMaxRuns; ++i) {
        Slot& slot = m_slots[i];
        if (slot.next == 0) {
            chosen = &slot;
            break;
        }
        if (chosen == nullptr || slot.lastSeen < chosen->lastSeen) {
            const auto owner = m_runs.find(std::string(slot.key, slot.keyLength));
            if (owner == m_runs.end() || owner->second.held.empty()) chosen = &slot;
        }
    }
    if (chosen == nullptr) return nullptr;
    if (chosen->next != 0) m_runs.erase(std::string(chosen->key, chosen->keyLength));
    // Forwarders number their lines from 1.
    chosen->next = 1;
    chosen->lastSeen = ++m_clock;
    chosen->keyLength = static_cast<std::uint32_t>(key.size());
    std::memcpy(chosen->key, key.data(), key.size());
    Run& run = m_runs[key];
    run.slot = chosen;
    return &run;
}

SenderOrder::Outcome SenderOrder::accept(std::string_view host, std::string_view runId,
                                         std::uint64_t line, const TraceRecord& record) {
    std::string key;
    key.reserve(host.size() + 1 + runId.size());
    key.append(host).append(1, '\0').append(runId);
    Run* run = key.size() <= kMaxKeyLength ? find(key) : nullptr;
    if (run == nullptr) return m_post(record) ? Outcome::Posted : Outcome::Stopped;
    Slot& slot = *run->slot;
    if (line < slot.next || run->held.count(line) != 0) return Outcome::Repeat;
    if (line > slot.next) {
        if (!hold(key, *run, line, record, true)) return m_post(record) ? Outcome::Posted : Outcome::Stopped;
        if (run->held.size() >= kMaxHeld && !giveUpGap(key, *run)) return Outcome::Stopped;
        return Outcome::Held;
    }
    if (!m_post(record)) return Outcome::Stopped;
    // Noted right after the post: a process killed between the two would post it again.
    slot.next = line + 1;
    if (!run->held.empty() && !postFollowing(*run)) return Outcome::Stopped;
    return Outcome::Posted;
}

bool SenderOrder::hold(const std::string& key, Run& run, std::uint64_t line,
                       const TraceRecord& record, bool journal) {
    if (journal) {
        std::string entry;
        const auto keyLength = static_cast<std::uint32_t>(key.size());
        entry.append(reinterpret_cast<const char*>(&keyLength), sizeof keyLength);
        entry.append(key);
        entry.append(reinterpret_cast<const char*>(&line), sizeof line);
        entry.append(reinterpret_cast<const char*>(&record), sizeof record);
        if (!writeAll(m_journal, entry.data(), entry.size())) {
            std::fprintf(stderr,
                         "quorvane-relp: cannot keep a trace of %s that came early (%s): posted "
                         "out of order\n",
                         describe(key).c_str(), std::strerror(errno));
            return false;
        }
    }
    if (run.held.empty()) run.gapSince = Clock::now();
    run.held.emplace(line, record);
    ++m_heldTotal;
    return true;
}

bool SenderOrder::postFollowing(Run& run) {
    Slot& slot = *run.slot;
    const bool hadHeld = !run.held.empty();
    while (!run.held.empty() && run.held.begin()->first == slot.next) {
        if (!m_post(run.held.begin()->second)) return false;
        ++slot.next;
        run.held.erase(run.held.begin());
        --m_heldTotal;
    }
    // The next gap has waited from now on.
    if (hadHeld && !run.held.empty()) run.gapSince = Clock::now();
    forgetJournalWhenEmpty();
    return true;
}

bool SenderOrder::giveUpGap(const std::string& key, Run& run) {
    const std::uint64_t first = run.held.begin()->first;
    std::fprintf(stderr,
                 "quorvane-relp: %s: traces %llu to %llu never came; the %zu held after them "
                 "are shown\n",
                 describe(key).c_str(), static_cast<unsigned long long>(run.slot->next),
                 static_cast<unsigned long long>(first - 1), run.held.size());
    ++m_gapsGivenUp;
    run.slot->next = first;
    return postFollowing(run);
}

bool SenderOrder::expire(Clock::duration wait) {
    const Clock::time_point now = Clock::now();
    for (auto& [key, run] : m_runs) {
        if (run.held.empty()) continue;
        // Taken back from the journal with nothing missing before it.
        if (run.held.begin()->first == run.slot->next && !postFollowing(run)) return false;
        if (!run.held.empty() && now - run.gapSince >= wait && !giveUpGap(key, run)) return false;
    }
    return true;
}

void SenderOrder::forgetJournalWhenEmpty() {
    if (m_heldTotal == 0 && m_journal >= 0 && ::ftruncate(m_journal, 0) != 0) {
        std::fprintf(stderr, "quorvane-relp: cannot empty the held traces' journal: %s\n",
                     std::strerror(errno));
    }
}
