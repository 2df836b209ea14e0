#include "BodyBuffer.h"

#include <algorithm>
#include <cstring>

namespace platform::inet {

namespace {
constexpr size_t kBlock = BlockPool::kBlockSize;
} // namespace

bool BodyBuffer::Append(const char *data, size_t length) {
    // The blocks first, so a failure adds nothing.
    const size_t room = m_blocks.empty() ? 0 : kBlock - m_back;
    size_t wanted = length > room ? (length - room + kBlock - 1) / kBlock : 0;
    const size_t had = m_blocks.size();
    for (; wanted > 0; --wanted) {
        BlockPool::Block block = m_pool->Take();
        if (!block) {
            while (m_blocks.size() > had) {
                m_pool->Give(std::move(m_blocks.back()));
                m_blocks.pop_back();
            }
            return false;
        }
        m_blocks.push_back(std::move(block));
    }
    size_t block = had == 0 ? 0 : had - 1;
    size_t at = had == 0 ? 0 : m_back;
    m_size += length;
    while (length > 0) {
        if (at == kBlock) {
            ++block;
            at = 0;
        }
        const size_t n = std::min(length, kBlock - at);
        memcpy(m_blocks[block].get() + at, data, n);
        data += n;
        length -= n;
        at += n;
    }
    if (!m_blocks.empty() && block == m_blocks.size() - 1)
        m_back = at;
    return true;
}

size_t BodyBuffer::Take(char *out, size_t capacity) {
    size_t taken = 0;
    while (taken < capacity && m_size > 0) {
        const size_t end = m_blocks.size() == 1 ? m_back : kBlock;
        const size_t n = std::min(capacity - taken, end - m_front);
        memcpy(out + taken, m_blocks.front().get() + m_front, n);
        taken += n;
        m_front += n;
        m_size -= n;
        if (m_front == end) {
            if (m_blocks.size() == 1) {
                m_front = m_back = 0; // the last block takes the next bytes
            } else {
                m_pool->Give(std::move(m_blocks.front()));
                m_blocks.erase(m_blocks.begin());
                m_front = 0;
            }
        }
    }
    return taken;
}

void BodyBuffer::Clear() {
    for (BlockPool::Block &block : m_blocks)
        m_pool->Give(std::move(block));
    m_blocks.clear();
    m_front = m_back = m_size = 0;
}

} // namespace platform::inet
