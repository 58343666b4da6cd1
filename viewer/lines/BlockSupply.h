#pragma once
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

// Blocks of one size for the list's lines, the next one made resident ahead of use by a thread
// of its own. A page's first touch is dear (the system must find, clear and map it), and a
// flood of lines would otherwise pay it on the window's thread, about once every dozen lines;
// the thread pays it meanwhile, on another processor when there is one.
//
// One block at most is kept ready, and only once a block has been taken, so an empty list holds
// nothing. A take that finds none ready makes its block on the spot.
class BlockSupply {
  public:
    // `blockSize` must not be 0.
    explicit BlockSupply(std::size_t blockSize);
    BlockSupply(const BlockSupply&) = delete;
    BlockSupply& operator=(const BlockSupply&) = delete;
    ~BlockSupply();

    std::size_t blockSize() const { return m_blockSize; }
    // A block of blockSize() bytes, of unspecified content.
    std::unique_ptr<char[]> take();
    // Frees the block kept ready, waiting for one being made, and makes none until the next take.
    void release();
    // Bytes of the block kept ready, if any.
    std::size_t bytesHeld() const;

  private:
    void makeBlocks();

    const std::size_t m_blockSize;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<char[]> m_ready;
    bool m_wanted = false;
    bool m_making = false;
    bool m_stopping = false;
    bool m_threadFailed = false;
    std::thread m_thread;
};
