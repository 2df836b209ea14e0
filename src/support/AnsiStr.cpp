#include "AnsiStr.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "ModuleGlobals.h"
#include "PathSeparators.h"

namespace {

constexpr DWORD kConversionFlags = WC_COMPOSITECHECK | WC_SEPCHARS;
const WCHAR kEmptyWide[1] = {0};
// Appending grows a buffer to the text's exact length up to this capacity
// and by doubling from it on.
constexpr DWORD kGrowthStart = 4096;
// The largest buffer an append makes: lengths are 32-bit counts.
constexpr DWORD kMostCapacity = 0x7FFFFFFF;

DWORD TextLength(const char *text) {
    return text ? static_cast<DWORD>(strlen(text)) : 0;
}

} // namespace

AnsiStr::AnsiStr(const char *text, DWORD capacity) {
    if (!text)
        return;
    DWORD length = TextLength(text);
    DWORD size = capacity > length ? capacity : (length < kDefaultSize ? kDefaultSize : length + 1);
    if (Reallocate(size)) {
        memcpy(m_data, text, length);
        m_length = length;
    }
}

AnsiStr::AnsiStr(int sizeOrFolder) {
    if (sizeOrFolder >= -32768 && sizeOrFolder <= -32600)
        LoadFolder(sizeOrFolder);
    else
        Reserve(static_cast<DWORD>(sizeOrFolder), true);
}

AnsiStr::AnsiStr(const AnsiStr &other) {
    if (other.m_data && Reallocate(other.m_capacity)) {
        memcpy(m_data, other.m_data, other.m_length);
        m_length = other.m_length;
    }
}

AnsiStr &AnsiStr::operator=(const AnsiStr &other) {
    Assign(other);
    return *this;
}

AnsiStr &AnsiStr::operator=(const char *text) {
    Assign(text);
    return *this;
}

AnsiStr::~AnsiStr() {
    free(m_data);
    free(m_wide);
    m_data = nullptr;
    m_wide = nullptr;
    m_capacity = m_length = 0;
    m_wideCapacity = 0;
}

AnsiStr AnsiStr::FromUtf8(const char *utf8) {
    AnsiStr out;
    if (!utf8)
        return out;
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (wideLength <= 0)
        return out;
    auto *wide = static_cast<WCHAR *>(calloc(static_cast<size_t>(wideLength), sizeof(WCHAR)));
    if (!wide)
        return out;
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, wideLength);
    out.FromWide(wide);
    free(wide);
    return out;
}

bool AnsiStr::Reallocate(DWORD size) {
    auto *fresh = static_cast<char *>(calloc(size ? size : 1, 1));
    if (!fresh || size == 0) {
        free(fresh);
        return false;
    }
    free(m_data);
    m_data = fresh;
    m_capacity = size;
    m_length = 0;
    return true;
}

void AnsiStr::SetBytes(const char *bytes, DWORD n) {
    DWORD size = n < kDefaultSize ? kDefaultSize : n + 1;
    auto *fresh = static_cast<char *>(calloc(size, 1));
    if (!fresh)
        return;
    memcpy(fresh, bytes, n);
    free(m_data);
    m_data = fresh;
    m_capacity = size;
    m_length = n;
}

void AnsiStr::Assign(const char *text) {
    if (text && text == m_data)
        return;
    if (!text) {
        Clear();
        return;
    }
    DWORD length = TextLength(text);
    if (length < m_capacity) {
        // The text may lie inside this buffer: move, then zero what the old
        // text occupied behind the new one.
        memmove(m_data, text, length);
        DWORD oldLength = m_length;
        m_data[length] = 0;
        if (oldLength > length)
            memset(m_data + length, 0, oldLength - length);
        m_length = length;
        return;
    }
    auto *fresh = static_cast<char *>(calloc(length + 1, 1));
    if (!fresh)
        return;
    memcpy(fresh, text, length);
    free(m_data);
    m_data = fresh;
    m_capacity = length + 1;
    m_length = length;
}

void AnsiStr::Assign(const AnsiStr &other) {
    if (&other == this)
        return;
    Assign(other.m_data);
}

void AnsiStr::FromWide(const WCHAR *wide) {
    if (!wide) {
        Clear();
        return;
    }
    int n = WideCharToMultiByte(CP_ACP, kConversionFlags, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        Clear();
        return;
    }
    Reserve(static_cast<DWORD>(n) + 1, true);
    if (m_capacity < static_cast<DWORD>(n))
        return;
    WideCharToMultiByte(CP_ACP, kConversionFlags, wide, -1, m_data, n, nullptr, nullptr);
    Recount();
}

const WCHAR *AnsiStr::ToWide(int *count) {
    if (!m_data || m_length == 0) {
        if (count)
            *count = 1;
        return kEmptyWide;
    }
    int bytes = static_cast<int>(2 * m_length + 2);
    if (m_wideCapacity < bytes) {
        auto *fresh = static_cast<WCHAR *>(calloc(static_cast<size_t>(bytes), 1));
        if (!fresh) {
            if (count)
                *count = 1;
            return kEmptyWide;
        }
        free(m_wide);
        m_wide = fresh;
        m_wideCapacity = bytes;
    } else {
        memset(m_wide, 0, static_cast<size_t>(m_wideCapacity));
    }
    int written = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, m_data, -1, m_wide,
                                      static_cast<int>(m_length + 1));
    if (count)
        *count = written;
    return m_wide;
}

BOOL AnsiStr::ToBstr(BSTR *bstr) const {
    // The text up to its first NUL, as ToWide converts it. A byte never
    // gives more than one UTF-16 unit: the string is sized to the bytes,
    // converted into directly, then cut to the units written.
    const UINT bytes = m_data ? static_cast<UINT>(strnlen(m_data, m_length)) : 0;
    if (!bstr || !SysReAllocStringLen(bstr, nullptr, bytes))
        return FALSE;
    int written = 0;
    if (bytes > 0)
        written = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, m_data, static_cast<int>(bytes),
                                      *bstr, static_cast<int>(bytes));
    const UINT units = written > 0 ? static_cast<UINT>(written) : 0;
    if (units != bytes)
        SysReAllocStringLen(bstr, nullptr, units); // shrinking keeps the block
    return TRUE;
}

void AnsiStr::Swap(AnsiStr &other) {
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_length, other.m_length);
    std::swap(m_wideCapacity, other.m_wideCapacity);
    std::swap(m_data, other.m_data);
    std::swap(m_wide, other.m_wide);
    std::swap(m_scratch, other.m_scratch);
}

void AnsiStr::Clear() {
    if (m_data)
        memset(m_data, 0, m_capacity);
    m_length = 0;
}

void AnsiStr::Recount() {
    m_length = m_data ? TextLength(m_data) : 0;
}

void AnsiStr::Extend(DWORD n) {
    if (!m_data || n >= m_capacity - m_length)
        return;
    m_length += n;
    m_data[m_length] = 0;
}

DWORD AnsiStr::Reserve(DWORD n, bool discard) {
    if (!m_data) {
        if (!Reallocate(n))
            Reallocate(kDefaultSize);
        return m_capacity;
    }
    if (m_capacity < n) {
        if (discard) {
            auto *fresh = static_cast<char *>(calloc(n, 1));
            if (!fresh)
                return m_capacity;
            free(m_data);
            m_data = fresh;
            m_length = 0;
        } else {
            // The whole old buffer is kept, not only the counted text: the
            // HTTP client's binary reader writes bytes past the length.
            // realloc moves a large block by remapping its pages instead of
            // copying them.
            auto *grown = static_cast<char *>(realloc(m_data, n));
            if (!grown)
                return m_capacity;
            memset(grown + m_capacity, 0, n - m_capacity);
            m_data = grown;
        }
        m_capacity = n;
        return m_capacity;
    }
    if (discard) {
        Clear();
    } else {
        memset(m_data + n, 0, m_capacity - n);
        if (m_length > n)
            m_length = n;
    }
    return m_capacity;
}

char &AnsiStr::At(DWORD index) {
    if (m_data && index < m_capacity)
        return m_data[index];
    m_scratch = 0;
    return m_scratch;
}

void AnsiStr::Append(const char *text) {
    if (!text)
        return;
    DWORD added = TextLength(text);
    DWORD total = m_length + added;
    if (total < m_capacity) {
        memmove(m_data + m_length, text, added);
        m_length = total;
        m_data[m_length] = 0;
        return;
    }
    if (added >= kMostCapacity - m_length)
        return; // the length would no longer fit its count
    DWORD size =
        total < kFolderSize ? kFolderSize : (total >= kResourceSize ? total + 1 : kResourceSize);
    // A string that is already long grows by at least its own size, so one
    // built from many appends (a reply read in 1020-byte chunks) is copied
    // a bounded number of times instead of once per append.
    if (m_capacity >= kGrowthStart && size < m_capacity * 2 && m_capacity <= kMostCapacity / 2)
        size = m_capacity * 2;
    // The text may lie inside this buffer, which growing may move.
    const bool inside = m_data && text >= m_data && text < m_data + m_capacity;
    const size_t offset = inside ? static_cast<size_t>(text - m_data) : 0;
    // realloc moves a large block by remapping its pages instead of copying
    // them, so a long text is not copied again at each growth.
    auto *grown = static_cast<char *>(realloc(m_data, size));
    if (!grown)
        return;
    memmove(grown + m_length, inside ? grown + offset : text, added);
    memset(grown + total, 0, size - total);
    m_data = grown;
    m_capacity = size;
    m_length = total;
}

void AnsiStr::AppendInt(int n) {
    char digits[16];
    wsprintfA(digits, "%d", n);
    Append(digits);
}

void AnsiStr::AppendChar(char c) {
    const char text[2] = {c, 0};
    Append(text);
}

bool AnsiStr::Equals(const char *text) const {
    if (!m_data || !text)
        return !m_data && !text;
    return text == m_data || lstrcmpA(m_data, text) == 0;
}

int AnsiStr::Find(const char *pattern, int from, int n) const {
    DWORD m = TextLength(pattern);
    if (m == 0 || m_length == 0 || (from > 0 && static_cast<DWORD>(from) > m_length))
        return -1;
    int hits = 0;
    for (DWORD at = from < 0 ? 0 : static_cast<DWORD>(from); at + m <= m_length;) {
        if (memcmp(m_data + at, pattern, m) == 0) {
            if (++hits >= n)
                return static_cast<int>(at);
            at += m;
        } else {
            ++at;
        }
    }
    return -1;
}

int AnsiStr::FindLast(const char *pattern, int n) const {
    const int m = static_cast<int>(TextLength(pattern));
    const int length = static_cast<int>(m_length);
    if (m == 0 || length == 0 || m > length)
        return -1;
    int hits = 0;
    for (int s = length - m; s >= 0;) {
        int k = 0;
        while (k < m && m_data[s + k] == pattern[k])
            ++k;
        if (k == m) {
            if (++hits >= n)
                return s;
            s -= m;
            continue;
        }
        // Align the mismatched byte with its next occurrence in the pattern,
        // or move the window past it when the pattern holds it no more.
        const char c = m_data[s + k];
        int j = k + 1;
        while (j < m && pattern[j] != c)
            ++j;
        s = (k == m - 1 || j >= m) ? s + k - m : s + k - j;
    }
    return -1;
}

void AnsiStr::Mid(AnsiStr &out, int start, int count) const {
    if (start < 0)
        start = 0;
    const int length = static_cast<int>(m_length);
    if (count <= 0 || start + count >= length)
        count = length - start;
    AnsiStr fresh;
    if (start < length && count > 0)
        fresh.SetBytes(m_data + start, static_cast<DWORD>(count));
    out = fresh;
}

void AnsiStr::Between(AnsiStr &out, const char *startMark, const char *endMark, int from,
                      int *outPos, unsigned flags) const {
    auto fail = [&] {
        if (outPos)
            *outPos = -1;
        out.Clear();
    };
    if (from < 0)
        from = 0;
    const int length = static_cast<int>(m_length);
    if (from >= length) {
        fail();
        return;
    }
    const int startLength = static_cast<int>(TextLength(startMark));
    const int endLength = static_cast<int>(TextLength(endMark));
    int s = from, c = from;
    if (startLength > 0) {
        s = Find(startMark, from, 1);
        if (s < 0) {
            fail();
            return;
        }
        c = s + startLength;
    }
    int e = length;
    if (endLength > 0) {
        e = Find(endMark, c, 1);
        if (e < 0) {
            if ((flags & 4) == 0) {
                fail();
                return;
            }
            e = length;
        }
    }
    if (outPos)
        *outPos = e;
    const int markEnd = e + endLength > length ? length : e + endLength;
    AnsiStr result;
    if (e - s == startLength) {
        if (flags & 2)
            result.SetBytes(m_data + s, static_cast<DWORD>(markEnd - s));
    } else if (flags & 1) {
        result.SetBytes(m_data + c, static_cast<DWORD>(e - c));
    } else if (flags & 2) {
        result.SetBytes(m_data + s, static_cast<DWORD>(markEnd - s));
    } else {
        result.SetBytes(m_data + s, static_cast<DWORD>(e - s));
    }
    out = result;
}

void AnsiStr::Concat(AnsiStr &out, const char *text, const AnsiStr &other) {
    AnsiStr joined(text);
    joined.Append(other.m_data);
    out = joined;
}

void AnsiStr::ReplaceChar(char from, char to, bool all) {
    for (DWORD i = 0; i < m_length; ++i) {
        if (m_data[i] == from) {
            m_data[i] = to;
            if (!all)
                return;
        }
    }
}

void AnsiStr::ToUpper() {
    for (DWORD i = 0; i < m_length; ++i) {
        if (m_data[i] >= 'a' && m_data[i] <= 'z')
            m_data[i] = static_cast<char>(m_data[i] - 'a' + 'A');
    }
}

void AnsiStr::Trim() {
    if (!m_data)
        return;
    DWORD end = m_length;
    while (end > 0 && m_data[end - 1] == ' ')
        --end;
    DWORD begin = 0;
    while (begin < end && m_data[begin] == ' ')
        ++begin;
    DWORD kept = end - begin;
    memmove(m_data, m_data + begin, kept);
    memset(m_data + kept, 0, m_length - kept);
    m_length = kept;
}

int AnsiStr::Delete(int pos, int count) {
    const int length = static_cast<int>(m_length);
    if (length == 0 || pos > length || count <= 0 || pos + count < 0)
        return 0;
    if (pos < 0) {
        count += pos;
        pos = 0;
    }
    if (pos + count > length)
        count = length - pos;
    memmove(m_data + pos, m_data + pos + count, static_cast<size_t>(length - pos - count));
    memset(m_data + length - count, 0, static_cast<size_t>(count));
    m_length = static_cast<DWORD>(length - count);
    return static_cast<int>(m_length);
}

void AnsiStr::EnsureAtLeast(DWORD size) {
    if (!m_data || m_capacity < size) {
        if (!Reallocate(size))
            return;
    } else {
        Clear();
    }
    m_length = 0;
}

void AnsiStr::LoadRes(UINT id, HINSTANCE module) {
    EnsureAtLeast(kResourceSize);
    if (!m_data || m_capacity < kResourceSize)
        return;
    int n = LoadStringA(module, id, m_data, static_cast<int>(m_capacity));
    m_length = n > 0 ? static_cast<DWORD>(n) : 0;
}

void AnsiStr::LoadFolder(int code) {
    EnsureAtLeast(kFolderSize);
    if (!m_data || m_capacity < kFolderSize)
        return;
    DWORD n = 0;
    switch (code) {
    case kWindowsFolder:
        n = GetWindowsDirectoryA(m_data, m_capacity);
        break;
    case kSystemFolder:
        n = GetSystemDirectoryA(m_data, m_capacity);
        break;
    case kTempFolder:
        n = GetTempPathA(m_capacity, m_data);
        if (n > 0 && n < m_capacity && (m_data[n - 1] == '\\' || m_data[n - 1] == '/'))
            m_data[--n] = 0;
        break;
    case kModuleFolder:
    case kModuleFile:
        n = GetModuleFileNameA(ModuleInstance(), m_data, m_capacity);
        if (code == kModuleFolder && n > 0 && n < m_capacity) {
            // Cut at the last separator that is a character of its own.
            const int slash = LastPathSeparator(m_data);
            const DWORD keep = slash > 0 ? static_cast<DWORD>(slash) : 0;
            memset(m_data + keep, 0, n - keep);
            n = keep;
        }
        break;
    default:
        break;
    }
    if (n >= m_capacity) {
        Clear(); // did not fit
        return;
    }
    Recount();
}
