#include "platform/posix/HandleTable.h"

#include <array>
#include <mutex>
#include <vector>

namespace quorvane::platform {
namespace {

constexpr std::uint32_t kChunkBits = 12;
constexpr std::uint32_t kChunkSize = 1u << kChunkBits;
constexpr std::uint32_t kChunkCount = 256;  // up to a million open handles

struct Slot {
    std::atomic<std::uint32_t> generation{1};
    std::atomic<KernelObject*> object{nullptr};
};

struct Chunk {
    std::array<Slot, kChunkSize> slots;
};

class Table {
  public:
    HANDLE add(KernelObject* object) {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::uint32_t index;
        if (!m_freeSlots.empty()) {
            index = m_freeSlots.back();
            m_freeSlots.pop_back();
        } else {
            if (m_used == kChunkSize * kChunkCount) return nullptr;
            index = m_used++;
            std::uint32_t chunk = index >> kChunkBits;
            if (m_chunks[chunk].load(std::memory_order_relaxed) == nullptr) {
                m_owned[chunk] = std::make_unique<Chunk>();
                m_chunks[chunk].store(m_owned[chunk].get(), std::memory_order_release);
            }
        }
        Slot& slot = slotAt(index);
        slot.object.store(object, std::memory_order_release);
        std::uint64_t generation = slot.generation.load(std::memory_order_relaxed);
        return reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(generation << 32 | (index + 1)));
    }

    KernelObject* find(HANDLE handle) const {
        std::uint32_t index, generation;
        if (!decode(handle, index, generation)) return nullptr;
        Chunk* chunk = m_chunks[index >> kChunkBits].load(std::memory_order_acquire);
        if (chunk == nullptr) return nullptr;
        const Slot& slot = chunk->slots[index & (kChunkSize - 1)];
        if (slot.generation.load(std::memory_order_acquire) != generation) return nullptr;
        return slot.object.load(std::memory_order_acquire);
    }

    KernelObject* remove(HANDLE handle) {
        std::uint32_t index, generation;
        if (!decode(handle, index, generation)) return nullptr;
        std::lock_guard<std::mutex> guard(m_mutex);
        Chunk* chunk = m_chunks[index >> kChunkBits].load(std::memory_order_relaxed);
        if (chunk == nullptr) return nullptr;
        Slot& slot = chunk->slots[index & (kChunkSize - 1)];
        if (slot.generation.load(std::memory_order_relaxed) != generation) return nullptr;
        KernelObject* object = slot.object.exchange(nullptr, std::memory_order_acq_rel);
        // A new generation makes every copy of the old handle invalid; 0 is never used.
        std::uint32_t next = generation + 1;
        slot.generation.store(next == 0 ? 1 : next, std::memory_order_release);
        m_freeSlots.push_back(index);
        return object;
    }

    std::mutex& mutex() { return m_mutex; }

  private:
    bool decode(HANDLE handle, std::uint32_t& index, std::uint32_t& generation) const {
        auto value = reinterpret_cast<std::uintptr_t>(handle);
        std::uint32_t low = static_cast<std::uint32_t>(value);
        generation = static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> 32);
        if (low == 0 || generation == 0 ||
            value == reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE))
            return false;
        index = low - 1;
        return index < kChunkSize * kChunkCount;
    }

    Slot& slotAt(std::uint32_t index) {
        return m_chunks[index >> kChunkBits]
            .load(std::memory_order_relaxed)
            ->slots[index & (kChunkSize - 1)];
    }

    std::mutex m_mutex;
    std::uint32_t m_used = 0;
    std::vector<std::uint32_t> m_freeSlots;
    std::array<std::atomic<Chunk*>, kChunkCount> m_chunks{};
    std::array<std::unique_ptr<Chunk>, kChunkCount> m_owned;
};

Table& table() {
    // Never destroyed: handles may still be closed from other static destructors.
    static Table* instance = new Table;
    return *instance;
}

}  // namespace

KernelObject::~KernelObject() {
    closeNamed(file);
}

void retainObject(KernelObject* object) {
    object->references.fetch_add(1, std::memory_order_relaxed);
}

void releaseObject(KernelObject* object) {
    if (object->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

HANDLE registerHandle(KernelObject* object) {
    return table().add(object);
}
KernelObject* lookupHandle(HANDLE handle) {
    return table().find(handle);
}
KernelObject* unregisterHandle(HANDLE handle) {
    return table().remove(handle);
}

void lockHandleTableForFork() {
    table().mutex().lock();
}

void unlockHandleTableAfterFork() {
    table().mutex().unlock();
}

}  // namespace quorvane::platform
