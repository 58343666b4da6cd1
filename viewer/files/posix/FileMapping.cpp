#include "viewer/files/FileMapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/posix/FileDescriptor.h"

namespace {

// The address ranges of live mappings, read by the signal handler without locks. A slot is taken
// by setting its start; its length is set after, so a half-made slot matches nothing.
struct GuardedRange {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::size_t> length{0};
};
std::array<GuardedRange, FileMapping::kMaxGuardedMappings> g_ranges;
struct sigaction g_previousBusAction {};
std::uintptr_t g_pageSize = 0;
std::once_flag g_handlerInstalled;

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (const GuardedRange& range : g_ranges) {
        const std::uintptr_t start = range.start.load();
        if (start != 0 && address - start < range.length.load()) {
            // The page the file lost becomes a page of zeros; the faulting read then goes on.
            void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
            if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                       0) != MAP_FAILED) {
                return;
            }
        }
    }
    if ((g_previousBusAction.sa_flags & SA_SIGINFO) != 0 &&
        g_previousBusAction.sa_sigaction != nullptr) {
        g_previousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    // Back to the handling from before; the faulting instruction runs again and gets it.
    ::sigaction(SIGBUS, &g_previousBusAction, nullptr);
}

void installBusHandler() {
    g_pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = &onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previousBusAction);
}

GuardedRange* guard(const char* data, std::size_t size) {
    std::call_once(g_handlerInstalled, installBusHandler);
    for (GuardedRange& range : g_ranges) {
        std::uintptr_t free = 0;
        if (range.start.compare_exchange_strong(free, reinterpret_cast<std::uintptr_t>(data))) {
            range.length.store(size);
            return &range;
        }
    }
    return nullptr;
}

void unguard(const char* data) {
    for (GuardedRange& range : g_ranges) {
        if (range.start.load() == reinterpret_cast<std::uintptr_t>(data)) {
            range.length.store(0);
            range.start.store(0);
            return;
        }
    }
}

}  // namespace

FileMapping::FileMapping(const std::string& path, std::size_t maxReadLength) {
    // Non-blocking, so that a FIFO given by mistake does not wait for a writer.
    const quorvane::platform::FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) {
        m_error = errno;
        return;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        m_error = errno;
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        m_status = Status::Directory;
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        m_status = Status::NotRegularFile;
        return;
    }
    // A size of 0 is also what /proc gives its files, whatever they hold.
    const auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) {
        readToEnd(file.get(), maxReadLength);
        return;
    }
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (data == MAP_FAILED) {
        // /sys gives its files a size but cannot map them.
        if (errno == ENODEV) {
            readToEnd(file.get(), maxReadLength);
            return;
        }
        m_error = errno;
        return;
    }
    if (guard(static_cast<const char*>(data), size) == nullptr) {
        ::munmap(data, size);
        m_status = Status::TooManyMappings;
        return;
    }
    m_data = static_cast<const char*>(data);
    m_size = size;
    m_mapped = true;
    m_status = Status::Open;
}

void FileMapping::readToEnd(int file, std::size_t maxLength) {
    constexpr std::size_t kChunk = std::size_t{64} << 10;
    std::string bytes;
    // One byte past the limit tells a file that goes on from one that ends there.
    while (bytes.size() <= maxLength) {
        const std::size_t had = bytes.size();
        bytes.resize(had + std::min(kChunk, maxLength + 1 - had));
        const ssize_t got = ::read(file, bytes.data() + had, bytes.size() - had);
        bytes.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got == 0) {
            bytes.shrink_to_fit();
            m_read = std::move(bytes);
            m_data = m_read.data();
            m_size = m_read.size();
            m_status = Status::Open;
            return;
        }
        if (got < 0 && errno != EINTR) {
            m_error = errno;
            m_status = errno == EAGAIN ? Status::ReadWouldWait : Status::SystemError;
            return;
        }
    }
    m_status = Status::ReadTooLong;
}

FileMapping::~FileMapping() {
    if (m_mapped) {
        unguard(m_data);
        ::munmap(const_cast<char*>(m_data), m_size);
    }
}
