// The blocks a session's requests keep received body bytes in
// (BodyBuffer.h). A block a request no longer needs goes back to the pool
// and serves the next request of the session, so a download allocates, and
// the system maps fresh pages for it, only until the pool holds the blocks a
// transfer needs; after that a transfer of any size allocates nothing.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::inet {

class BlockPool {
public:
    static constexpr size_t kBlockSize = 256 * 1024;
    // Blocks kept for reuse at most (2 MB); more are freed when they return.
    static constexpr size_t kKept = 8;

    using Block = std::unique_ptr<char[]>;

    // A block of kBlockSize bytes (not zeroed), or null when memory is out.
    Block Take();
    void Give(Block block);
    // How many blocks wait for reuse.
    size_t Kept();

private:
    std::mutex m_lock;
    std::vector<Block> m_free;
};

} // namespace platform::inet
