// ChunkedStore: a growing sequence kept in fixed chunks (64 KiB for small
// elements), so that growth never copies what is stored and the memory comes
// from the allocator's reusable heap rather than fresh mappings.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::ado {

template <class T> class ChunkedStore {
public:
    static constexpr size_t kChunk = 65536 / sizeof(T);

    void push_back(const T &value) {
        if (m_size == m_chunks.size() * kChunk)
            m_chunks.emplace_back(new T[kChunk]);
        m_chunks[m_size / kChunk][m_size % kChunk] = value;
        ++m_size;
    }
    const T &operator[](size_t index) const { return m_chunks[index / kChunk][index % kChunk]; }
    size_t size() const { return m_size; }
    void clear() {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    size_t m_size = 0;
};

} // namespace platform::ado
