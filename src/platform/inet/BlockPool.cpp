#include "BlockPool.h"

#include <new>

namespace platform::inet {

BlockPool::Block BlockPool::Take() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_free.empty()) {
            Block block = std::move(m_free.back());
            m_free.pop_back();
            return block;
        }
    }
    return Block(new (std::nothrow) char[kBlockSize]);
}

void BlockPool::Give(Block block) {
    if (!block)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_free.size() < kKept)
        m_free.push_back(std::move(block));
    // Otherwise the block is freed here.
}

size_t BlockPool::Kept() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_free.size();
}

} // namespace platform::inet
