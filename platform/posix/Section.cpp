// Named shared-memory sections and their views: a section's memory follows the header page of
// its object file, and every mapped view keeps its section alive until it is unmapped.
#include <sys/mman.h>

#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/Win32.h"
#include "platform/posix/HeldFiles.h"
#include "platform/posix/ObjectHandles.h"

namespace quorvane::platform {
namespace {

struct View {
    KernelObject* section;
    std::size_t length;
};

// Both never destroyed: a view may be unmapped by a static destructor that runs after this
// file's statics would have gone (a program's own static tracer).
std::mutex& viewsMutex() {
    static auto* const mutex = new std::mutex;
    return *mutex;
}

std::map<const void*, View>& views() {
    static auto* const map = new std::map<const void*, View>;
    return *map;
}

}  // namespace

void lockViewsForFork() {
    viewsMutex().lock();
}

void unlockViewsAfterFork() {
    viewsMutex().unlock();
}
}  // namespace quorvane::platform

using namespace quorvane::platform;

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE) return failHandle(ERROR_INVALID_HANDLE);
    if (protect != PAGE_READWRITE) return failHandle(ERROR_INVALID_PARAMETER);
    std::uint64_t size = (static_cast<std::uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0) return failHandle(ERROR_INVALID_PARAMETER);
    bool created = false;
    return createObject(ObjectKind::Section, name, size, nullptr, created);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytesToMap) {
    KernelObject* object = objectOf(mapping, ObjectKind::Section);
    if (object == nullptr) return nullptr;
    std::uint64_t size = object->file.sectionSize;
    if (offsetHigh != 0 || offsetLow != 0 || bytesToMap > size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The program may have closed the section's descriptor or put another file under its number.
    if (!descriptorStillOurs(object->file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::size_t length = bytesToMap == 0 ? size : bytesToMap;
    void* view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, object->file.fd,
                        static_cast<off_t>(kPageSize));
    if (view == MAP_FAILED) {
        SetLastError(win32ErrorFromErrno(errno));
        return nullptr;
    }
    retainObject(object);  // a view keeps its section alive after the handle is closed
    std::lock_guard<std::mutex> guard(viewsMutex());
    views().emplace(view, View{object, length});
    return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    View view{};
    {
        std::lock_guard<std::mutex> guard(viewsMutex());
        auto found = views().find(baseAddress);
        if (found == views().end()) return fail(ERROR_INVALID_ADDRESS);
        view = found->second;
        views().erase(found);
    }
    ::munmap(const_cast<void*>(baseAddress), view.length);
    releaseObject(view.section);
    return TRUE;
}

SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length) {
    if (buffer == nullptr || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(viewsMutex());
    auto after = views().upper_bound(address);
    if (after != views().begin()) {
        auto found = std::prev(after);
        auto* base = static_cast<const char*>(found->first);
        auto* at = static_cast<const char*>(address);
        if (at < base + found->second.length) {
            buffer->BaseAddress = const_cast<char*>(at);
            buffer->AllocationBase = const_cast<char*>(base);
            buffer->RegionSize = found->second.length - static_cast<std::size_t>(at - base);
            return sizeof(MEMORY_BASIC_INFORMATION);
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}
