// ValueArena: keeps copies of variable-length values (text, bytes, exact
// numbers) in 64 KiB blocks, each copy at a stable address until the arena
// is cleared; a value larger than a block gets a block of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::ado {

class ValueArena {
public:
    // A copy of the bytes, aligned to 8.
    const void *Copy(const void *data, size_t bytes);
    void Clear();

private:
    static constexpr size_t kBlock = 65536;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_next = nullptr;
    size_t m_room = 0;
};

} // namespace platform::ado
