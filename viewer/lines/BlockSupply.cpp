#include "viewer/lines/BlockSupply.h"

#include <new>
#include <system_error>

namespace {
// Touching one byte in every 4 KiB reaches every page of any size the system uses.
constexpr std::size_t kTouchStride = 4096;
}  // namespace

BlockSupply::BlockSupply(std::size_t blockSize) : m_blockSize(blockSize) {}

BlockSupply::~BlockSupply() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::unique_ptr<char[]> BlockSupply::take() {
    std::unique_ptr<char[]> block;
    {
        const std::lock_guard lock(m_mutex);
        block = std::move(m_ready);
        m_wanted = true;
        if (!m_thread.joinable() && !m_threadFailed) {
            try {
                m_thread = std::thread([this] { makeBlocks(); });
            } catch (const std::system_error&) {
                // No thread to be had: every block is made on the spot.
                m_threadFailed = true;
            }
        }
    }
    m_changed.notify_all();
    return block ? std::move(block) : std::make_unique_for_overwrite<char[]>(m_blockSize);
}

void BlockSupply::release() {
    std::unique_ptr<char[]> dropped;
    {
        std::unique_lock lock(m_mutex);
        m_wanted = false;
        m_changed.wait(lock, [this] { return !m_making; });
        dropped = std::move(m_ready);
    }
}

std::size_t BlockSupply::bytesHeld() const {
    const std::lock_guard lock(m_mutex);
    return m_ready ? m_blockSize : 0;
}

void BlockSupply::makeBlocks() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_stopping || (m_wanted && !m_ready); });
        if (m_stopping) {
            return;
        }
        m_making = true;
        lock.unlock();
        std::unique_ptr<char[]> block(new (std::nothrow) char[m_blockSize]);
        if (block) {
            volatile char* bytes = block.get();
            for (std::size_t offset = 0; offset < m_blockSize; offset += kTouchStride) {
                bytes[offset] = 0;
            }
            // The block need not start on a page: its last page may begin after the last stride.
            bytes[m_blockSize - 1] = 0;
        }
        lock.lock();
        m_making = false;
        // Out of memory, the next take asks again rather than this thread trying on and on.
        m_wanted = m_wanted && block != nullptr;
        if (m_wanted) {
            m_ready = std::move(block);
        }
        m_changed.notify_all();
    }
}
