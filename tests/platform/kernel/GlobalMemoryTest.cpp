#include <cstring>
#include <gtest/gtest.h>

#include "platform/win32.h"

TEST(GlobalMemory, MovableBlocksHaveAHandleApartFromTheirAddress) {
    HGLOBAL block = GlobalAlloc(GHND, 64);
    ASSERT_NE(block, nullptr);
    auto *data = static_cast<unsigned char *>(GlobalLock(block));
    ASSERT_NE(data, nullptr);
    EXPECT_NE(static_cast<void *>(data), block);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(data[i], 0) << i;
    EXPECT_EQ(GlobalSize(block), 64u);
    EXPECT_EQ(GlobalLock(block), data); // a second lock, same address
    EXPECT_TRUE(GlobalUnlock(block));   // still locked once
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GlobalUnlock(block)); // now unlocked
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalFree(block), block); // freeing twice is refused
}

TEST(GlobalMemory, FixedBlocksAreTheirOwnHandle) {
    HGLOBAL block = GlobalAlloc(GPTR, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}
