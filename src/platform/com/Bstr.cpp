// BSTR: UTF-16 text with a 32-bit byte-length prefix and a terminator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/mman.h>

#include "oleauto.h"

namespace {

// A long string's block (a long reply's text, say) is asked for in huge
// pages where the system gives them on request: written once from end to
// end, it would otherwise take a page fault every 4 kB (25,600 for a
// 100 MB string), which costs more than writing it.
constexpr size_t kHugePage = 2u << 20;
constexpr size_t kHugeFrom = 4 * kHugePage;

void AdviseHugePages(char *block, size_t size) {
    if (!block || size < kHugeFrom)
        return;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHugePage - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

// A long string's block, once freed, is kept for the thread's next long
// string of about its size, as the platform's string cache keeps blocks: a
// page that posts again and again then has each reply written into memory
// it already holds, instead of the system zeroing a fresh block's every
// page first. One block a thread at the most; none under the sanitizers,
// whose reports on freed memory it would hide.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif
#else
constexpr bool kCacheBlocks = true;
#endif
constexpr size_t kCachedFrom = 1u << 20;

struct CachedBlock {
    char *block = nullptr;
    size_t size = 0;
    ~CachedBlock() { free(block); }
};

thread_local CachedBlock t_cached;

// The cached block when it holds size bytes without wasting more than half.
char *TakeCached(size_t size) {
    if (!t_cached.block || t_cached.size < size || t_cached.size / 2 > size)
        return nullptr;
    char *block = t_cached.block;
    t_cached.block = nullptr;
    return block;
}

void FreeBlock(char *block) {
    const size_t size = kCacheBlocks && block ? malloc_usable_size(block) : 0;
    if (size < kCachedFrom) {
        free(block);
        return;
    }
    free(t_cached.block);
    t_cached.block = block;
    t_cached.size = size;
}

// The prefix sits just before the text; the block starts at it.
BSTR Allocate(UINT bytes) {
    const size_t size = sizeof(DWORD) + bytes + sizeof(OLECHAR);
    char *block = size >= kCachedFrom ? TakeCached(size) : nullptr;
    if (block) {
        DWORD length = bytes;
        memcpy(block, &length, sizeof length);
        memset(block + sizeof(DWORD) + bytes, 0, sizeof(OLECHAR));
        return reinterpret_cast<BSTR>(block + sizeof(DWORD));
    }
    block = static_cast<char *>(malloc(size));
    if (!block)
        return nullptr;
    AdviseHugePages(block, size);
    DWORD length = bytes;
    memcpy(block, &length, sizeof length);
    memset(block + sizeof(DWORD) + bytes, 0, sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + sizeof(DWORD));
}

} // namespace

extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui) {
    if (ui > 0x7FFFFFF0u / sizeof(OLECHAR))
        return nullptr;
    BSTR text = Allocate(ui * static_cast<UINT>(sizeof(OLECHAR)));
    if (!text)
        return nullptr;
    if (strIn)
        memcpy(text, strIn, ui * sizeof(OLECHAR));
    else
        memset(text, 0, ui * sizeof(OLECHAR));
    return text;
}

extern "C" BSTR WINAPI SysAllocString(const OLECHAR *psz) {
    if (!psz)
        return nullptr;
    UINT length = 0;
    while (psz[length])
        ++length;
    return SysAllocStringLen(psz, length);
}

extern "C" BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
    if (len > 0x7FFFFFF0u)
        return nullptr;
    BSTR text = Allocate(len);
    if (!text)
        return nullptr;
    auto *bytes = reinterpret_cast<char *>(text);
    if (psz)
        memcpy(bytes, psz, len);
    else
        memset(bytes, 0, len);
    bytes[len] = 0;
    return text;
}

extern "C" INT WINAPI SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len) {
    if (!pbstr || len > 0x7FFFFFF0u / sizeof(OLECHAR))
        return FALSE;
    const UINT bytes = len * static_cast<UINT>(sizeof(OLECHAR));
    char *old = *pbstr ? reinterpret_cast<char *>(*pbstr) - sizeof(DWORD) : nullptr;
    const UINT oldBytes = SysStringByteLen(*pbstr);
    const bool inside = old && psz && psz >= *pbstr && psz <= *pbstr + oldBytes / sizeof(OLECHAR);
    if (inside) {
        // A part of the string itself: copied out before the old block goes.
        BSTR fresh = SysAllocStringLen(psz, len);
        if (!fresh)
            return FALSE;
        SysFreeString(*pbstr);
        *pbstr = fresh;
        return TRUE;
    }
    if (!old) {
        // A new string: from the cache where it can be. Without a source
        // its text is left as it is, as the platform leaves it, for the
        // caller writes it (a conversion straight into the string).
        BSTR fresh = Allocate(bytes);
        if (!fresh)
            return FALSE;
        if (psz)
            memcpy(fresh, psz, bytes);
        *pbstr = fresh;
        return TRUE;
    }
    // realloc keeps the block, or moves a large one by remapping its pages,
    // so a string replaced by one of about its size costs no fresh memory.
    const size_t size = sizeof(DWORD) + bytes + sizeof(OLECHAR);
    auto *block = static_cast<char *>(realloc(old, size));
    if (!block)
        return FALSE;
    if (bytes > oldBytes)
        AdviseHugePages(block, size);
    DWORD length = bytes;
    memcpy(block, &length, sizeof length);
    BSTR text = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    if (psz)
        memcpy(text, psz, bytes);
    memset(block + sizeof(DWORD) + bytes, 0, sizeof(OLECHAR));
    *pbstr = text;
    return TRUE;
}

extern "C" void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString)
        FreeBlock(reinterpret_cast<char *>(bstrString) - sizeof(DWORD));
}

extern "C" UINT WINAPI SysStringByteLen(BSTR bstr) {
    if (!bstr)
        return 0;
    DWORD length = 0;
    memcpy(&length, reinterpret_cast<char *>(bstr) - sizeof(DWORD), sizeof length);
    return length;
}

extern "C" UINT WINAPI SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR));
}
