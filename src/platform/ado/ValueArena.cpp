#include "ValueArena.h"

#include <cstring>

namespace platform::ado {

const void *ValueArena::Copy(const void *data, size_t bytes) {
    const size_t size = (bytes + 7) & ~static_cast<size_t>(7);
    char *place = nullptr;
    if (size > kBlock / 4) {
        // Large values get blocks of their own, so blocks are not wasted.
        m_blocks.emplace_back(new char[size]);
        place = m_blocks.back().get();
    } else {
        if (size > m_room) {
            m_blocks.emplace_back(new char[kBlock]);
            m_next = m_blocks.back().get();
            m_room = kBlock;
        }
        place = m_next;
        m_next += size;
        m_room -= size;
    }
    if (bytes)
        memcpy(place, data, bytes);
    return place;
}

void ValueArena::Clear() {
    m_blocks.clear();
    m_next = nullptr;
    m_room = 0;
}

} // namespace platform::ado
