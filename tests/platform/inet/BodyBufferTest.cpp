// The received body bytes of a request: first in, first out across the
// pool's blocks, whatever the sizes of the pieces that come and go, and the
// blocks back in the pool for the next request.
#include <gtest/gtest.h>
#include <string>

#include "platform/inet/BodyBuffer.h"

using platform::inet::BlockPool;
using platform::inet::BodyBuffer;

namespace {

constexpr size_t kBlock = BlockPool::kBlockSize;

std::string Bytes(size_t n, size_t seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((seed + i * 31 + i / 97) % 256);
    return bytes;
}

// Takes everything in pieces of at most the given size.
std::string TakeAll(BodyBuffer &buffer, size_t piece) {
    std::string out, chunk(piece, '\0');
    while (size_t n = buffer.Take(chunk.data(), piece))
        out.append(chunk, 0, n);
    return out;
}

} // namespace

TEST(BodyBuffer, KeepsBytesInOrderAcrossBlocks) {
    BodyBuffer buffer(std::make_shared<BlockPool>());
    std::string expected;
    // Pieces that end inside a block, on its edge and beyond the next one.
    for (size_t n :
         {size_t(1), kBlock - 1, size_t(1), kBlock + 3, size_t(7), 2 * kBlock, size_t(0)}) {
        std::string piece = Bytes(n, expected.size());
        ASSERT_TRUE(buffer.Append(piece.data(), piece.size()));
        expected += piece;
    }
    EXPECT_EQ(buffer.Size(), expected.size());
    // Taken partly, then topped up, then taken in other sizes.
    std::string got = TakeAll(buffer, 1000);
    std::string more = Bytes(kBlock / 2, 99);
    ASSERT_TRUE(buffer.Append(more.data(), more.size()));
    got += TakeAll(buffer, kBlock + 17);
    EXPECT_TRUE(got == expected + more);
    EXPECT_EQ(buffer.Size(), 0u);
    char c;
    EXPECT_EQ(buffer.Take(&c, 1), 0u);
}

TEST(BodyBuffer, AReaderThatKeepsUpReusesOneBlock) {
    auto pool = std::make_shared<BlockPool>();
    BodyBuffer buffer(pool);
    std::string piece = Bytes(5000, 1), out(5000, '\0');
    for (int i = 0; i < 200; ++i) { // 1 MB through, 5000 bytes at a time
        ASSERT_TRUE(buffer.Append(piece.data(), piece.size()));
        ASSERT_EQ(buffer.Take(out.data(), out.size()), piece.size());
        ASSERT_TRUE(out == piece);
    }
    buffer.Clear();
    EXPECT_EQ(pool->Kept(), 1u);
}

TEST(BodyBuffer, GivesItsBlocksBackToThePoolUpToItsLimit) {
    auto pool = std::make_shared<BlockPool>();
    std::string big = Bytes(3 * kBlock, 5);
    {
        BodyBuffer first(pool);
        ASSERT_TRUE(first.Append(big.data(), big.size()));
        EXPECT_EQ(pool->Kept(), 0u);
    } // a request that goes gives its blocks back
    EXPECT_EQ(pool->Kept(), 3u);
    BodyBuffer second(pool);
    ASSERT_TRUE(second.Append(big.data(), 2 * kBlock));
    EXPECT_EQ(pool->Kept(), 1u); // the next request took two of them
    EXPECT_TRUE(TakeAll(second, kBlock) == big.substr(0, 2 * kBlock));
    // A far larger body: the pool keeps only so many of its blocks.
    std::string huge = Bytes((BlockPool::kKept + 4) * kBlock, 9);
    ASSERT_TRUE(second.Append(huge.data(), huge.size()));
    second.Clear();
    EXPECT_EQ(pool->Kept(), BlockPool::kKept);
}
