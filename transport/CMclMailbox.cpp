#include "transport/CMclMailbox.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "transport/CMclError.h"

namespace {

constexpr const char* kSourceName = "CMclMailbox";
constexpr int kArgumentsLine = 20;
constexpr int kGuardLine = 33;
constexpr int kFreeCountLine = 57;
constexpr int kPendingCountLine = 66;
constexpr int kGeometryLine = 95;

// Checks what must hold before anything is created: a name whose composed object names fit the
// name buffer, and a section size that fits in 32 bits.
DWORD checkedSectionSize(DWORD slotCount, DWORD slotSize, LPCSTR name) {
    if (name == nullptr) raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, kArgumentsLine);
    if (std::strlen(name) > CMclMailbox::kMaxNameLength)
        raiseMclError(ERROR_FILENAME_EXCED_RANGE, kSourceName, kArgumentsLine);
    std::uint64_t size = static_cast<std::uint64_t>(slotCount) * slotSize + kMailboxDataOffset;
    if (size > UINT32_MAX) raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, kArgumentsLine);
    return static_cast<DWORD>(size);
}

struct ObjectName {
    char text[CMclMailbox::kNameBufferSize];
    ObjectName(const char* prefix, const char* mailboxName) {
        std::snprintf(text, sizeof text, "%s::%s", prefix, mailboxName);
    }
};

template <typename T>
T* allocated(T* object, int line) {
    if (object == nullptr) raiseMclError(ERROR_OUTOFMEMORY, kSourceName, line);
    return object;
}

// Bytes mapped from `view` on; 0 when unknown.
std::uint64_t viewSize(const void* view) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view, &info, sizeof info) == 0) return 0;
    return info.RegionSize;
}

constexpr std::size_t kCacheLineSize = 64;

// Starts loading a slot's cache lines before the guard is taken, so that the copy made while
// holding it waits less. The index is read without the guard: it is only a hint, and a stale
// one costs nothing but the prefetch.
template <int kForWrite>
void prefetchSlot(const std::uint32_t* sharedIndex, const unsigned char* data, DWORD slotCount,
                  DWORD slotSize) {
    std::uint32_t index = __atomic_load_n(sharedIndex, __ATOMIC_RELAXED);
    if (index >= slotCount) return;
    const unsigned char* slot = data + static_cast<std::size_t>(index) * slotSize;
    for (std::size_t offset = 0; offset < slotSize; offset += kCacheLineSize)
        __builtin_prefetch(slot + offset, kForWrite);
}

}  // namespace

CMclMailbox::CMclMailbox(DWORD slotCount, DWORD slotSize, LPCSTR name,
                         LPSECURITY_ATTRIBUTES securityAttributes)
    : m_sharedMemory(checkedSectionSize(slotCount, slotSize, name), name, securityAttributes),
      m_slotCount(slotCount),
      m_slotSize(slotSize) {
    // If anything below raises, the members unwind in reverse order: the semaphores, the guard
    // (released, then closed) and the section, which is the teardown order.
    m_status = ERROR_SUCCESS;
    m_isCreator = false;

    m_guardMutex.reset(allocated(
        new (std::nothrow) CMclMutex(TRUE, ObjectName(kGuardPrefix, name).text, securityAttributes),
        kGuardLine));
    if (m_guardMutex->getStatus() == ERROR_ALREADY_EXISTS) {
        // The creator holds the guard until the header is written.
        m_guardMutex->waitFor(INFINITE);
        m_isCreator = false;
    } else {
        m_isCreator = true;
    }

    m_freeCountSemaphore.reset(
        allocated(new (std::nothrow)
                      CMclSemaphore(static_cast<LONG>(slotCount), static_cast<LONG>(slotCount),
                                    ObjectName(kFreeCountPrefix, name).text, securityAttributes),
                  kFreeCountLine));
    m_pendingCountSemaphore.reset(
        allocated(new (std::nothrow)
                      CMclSemaphore(0, static_cast<LONG>(slotCount),
                                    ObjectName(kPendingCountPrefix, name).text, securityAttributes),
                  kPendingCountLine));

    auto* base = static_cast<unsigned char*>(m_sharedMemory.getView());
    m_header = reinterpret_cast<MailboxHeader*>(base);
    m_data = base + kMailboxDataOffset;

    if (m_isCreator) *m_header = MailboxHeader{slotCount, slotSize, kMailboxDataOffset, 0, 0};

    m_guardMutex->release();

    // A ring made by another process must have our geometry, and its section must really hold
    // it: an existing section of that name keeps its own size.
    if (!m_isCreator &&
        (m_header->slotCount != slotCount || m_header->slotSize != slotSize ||
         viewSize(base) < static_cast<std::uint64_t>(slotCount) * slotSize + kMailboxDataOffset)) {
        m_status = ERROR_INVALID_PARAMETER;
        raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, kGeometryLine);
    }
}

CMclMailbox::~CMclMailbox() = default;

bool CMclMailbox::receive(void* destination, DWORD timeoutMs) {
    if (m_pendingCountSemaphore->waitFor(timeoutMs) != WAIT_OBJECT_0) return false;
    prefetchSlot<0>(&m_header->readIndex, m_data, m_slotCount, m_slotSize);
    // An abandoned guard still protects a complete record: its pending count is added only
    // after its slot was filled.
    DWORD guard = m_guardMutex->waitFor(timeoutMs);
    if (guard != WAIT_OBJECT_0 && guard != WAIT_ABANDONED) {
        m_pendingCountSemaphore->release(1);  // the record stays announced
        return false;
    }
    std::uint32_t readIndex = m_header->readIndex;
    if (readIndex >= m_slotCount) {
        // Written by a faulty process: touch nothing outside the ring.
        m_guardMutex->release();
        m_pendingCountSemaphore->release(1);
        return false;
    }
    std::memcpy(destination, m_data + static_cast<std::size_t>(readIndex) * m_slotSize, m_slotSize);
    m_header->readIndex = (readIndex + 1) % m_slotCount;
    m_guardMutex->release();
    m_freeCountSemaphore->release(1);
    return true;
}

bool CMclMailbox::post(const void* source, DWORD timeoutMs) {
    if (m_freeCountSemaphore->waitFor(timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD guard = m_guardMutex->waitFor(timeoutMs);
    if (guard != WAIT_OBJECT_0 && guard != WAIT_ABANDONED) {
        m_freeCountSemaphore->release(1);  // the slot stays free
        return false;
    }
    std::uint32_t writeIndex = m_header->writeIndex;
    if (writeIndex >= m_slotCount) {
        m_guardMutex->release();
        m_freeCountSemaphore->release(1);
        return false;
    }
    std::memcpy(m_data + static_cast<std::size_t>(writeIndex) * m_slotSize, source, m_slotSize);
    m_header->writeIndex = (writeIndex + 1) % m_slotCount;
    m_guardMutex->release();
    m_pendingCountSemaphore->release(1);
    return true;
}
