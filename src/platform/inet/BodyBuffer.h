// The body bytes a request has received and its reader has not taken yet,
// first in, first out, in blocks of its session's pool (BlockPool.h).
// Not thread-safe: the request guards it with its own lock.
#pragma once

#include <vector>

#include "BlockPool.h"

namespace platform::inet {

class BodyBuffer {
public:
    explicit BodyBuffer(std::shared_ptr<BlockPool> pool) : m_pool(std::move(pool)) {}
    ~BodyBuffer() { Clear(); }
    BodyBuffer(const BodyBuffer &) = delete;
    BodyBuffer &operator=(const BodyBuffer &) = delete;

    // Adds bytes at the end; false (nothing added) when no block could be had.
    bool Append(const char *data, size_t length);
    // Moves up to capacity bytes from the front to out; answers how many.
    size_t Take(char *out, size_t capacity);
    size_t Size() const { return m_size; }
    // Drops every byte; the blocks go back to the pool.
    void Clear();

private:
    const std::shared_ptr<BlockPool> m_pool;
    // First in, first out; a few dozen at most (the worker pauses a
    // transfer whose reader is far behind), and a request that is made
    // allocates nothing for them until bytes arrive.
    std::vector<BlockPool::Block> m_blocks;
    size_t m_front = 0; // taken bytes of the first block
    size_t m_back = 0;  // filled bytes of the last block
    size_t m_size = 0;
};

} // namespace platform::inet
