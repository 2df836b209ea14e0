// Code-page conversion through iconv.
//
// Characters that the target cannot hold become the code page's default
// character ('?' in every code page here); byte sequences that are not valid
// in a double-byte code page become its Unicode default character (U+30FB),
// as the platform's tables for those code pages say. Code page 936 is
// iconv's, with the platform's user-defined areas (Gbk936UserAreas.h) beside it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <map>
#include <string>
#include <vector>

#include "Gbk936UserAreas.h"
#include "winbase.h"
#include "winnls.h"

namespace {

struct CodePage {
    UINT number;
    const char *iconvName;
    bool doubleByte;
};

// The code pages this platform converts, by their platform numbers.
constexpr CodePage kCodePages[] = {
    {936, "CP936", true},         {54936, "GB18030", false}, {950, "BIG5", true},
    {932, "CP932", true},         {949, "CP949", true},      {1250, "CP1250", false},
    {1251, "CP1251", false},      {1252, "CP1252", false},   {20127, "ASCII", false},
    {28591, "ISO-8859-1", false}, {65001, "UTF-8", false},
};

const CodePage *FindCodePage(UINT number) {
    for (const CodePage &page : kCodePages) {
        if (page.number == number)
            return &page;
    }
    return nullptr;
}

UINT AnsiCodePage() {
    static const UINT acp = [] {
        if (const char *env = getenv("QUILLBAY_ACP"); env && *env) {
            UINT number = static_cast<UINT>(strtoul(env, nullptr, 10));
            if (FindCodePage(number))
                return number;
        }
        return 936u;
    }();
    return acp;
}

const CodePage *Resolve(UINT number) {
    if (number == CP_ACP || number == CP_OEMCP)
        number = AnsiCodePage();
    return FindCodePage(number);
}

// A thread's open descriptors, closed when the thread ends.
struct DescriptorCache : std::map<std::pair<UINT, bool>, iconv_t> {
    ~DescriptorCache() {
        for (auto &[key, cd] : *this) {
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
        }
    }
};

// One iconv descriptor per direction and code page, per thread.
iconv_t Descriptor(const CodePage *page, bool toWide) {
    thread_local DescriptorCache cache;
    auto key = std::make_pair(page->number, toWide);
    auto it = cache.find(key);
    if (it == cache.end()) {
        iconv_t cd = toWide ? iconv_open("UTF-16LE", page->iconvName)
                            : iconv_open(page->iconvName, "UTF-16LE");
        it = cache.emplace(key, cd).first;
    }
    if (it->second != reinterpret_cast<iconv_t>(-1))
        iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
}

// Runs iconv over the whole input. On an invalid or unmappable unit, calls
// substitute with the unit (it appends to out) and skips the unit's bytes.
template <class Substitute, class UnitLength>
bool Run(iconv_t cd, const char *in, size_t inLength, std::string &out, Substitute substitute,
         UnitLength unitLength) {
    char chunk[1024];
    while (inLength > 0) {
        char *input = const_cast<char *>(in);
        char *output = chunk;
        size_t outLeft = sizeof chunk;
        size_t rc = iconv(cd, &input, &inLength, &output, &outLeft);
        out.append(chunk, sizeof chunk - outLeft);
        in = input;
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        if (errno != EILSEQ && errno != EINVAL)
            return false;
        const size_t skip = std::min(inLength, unitLength(in, inLength));
        if (!substitute(in, skip))
            return false;
        in += skip;
        inLength -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

// The private-use character of a cell of code page 936's user-defined
// areas (two bytes at `at`), or 0 when they are no such cell.
char16_t UserAreaCharacter(const char *at) {
    return platform::gbk936::ToPrivateUse(static_cast<uint8_t>(at[0]), static_cast<uint8_t>(at[1]));
}

// The cell of a private-use character (one UTF-16 unit at `at`) in code page
// 936's user-defined areas.
bool UserAreaBytes(const char *at, uint8_t &lead, uint8_t &trail) {
    char16_t c = 0;
    memcpy(&c, at, 2);
    return platform::gbk936::FromPrivateUse(c, lead, trail);
}

constexpr long kInvalid = -1;
constexpr long kTooLong = -2;

// Multi-byte text to UTF-16 through iconv, straight into out (room units;
// only counted when out is null): the units, kInvalid for an invalid
// sequence when strict, or kTooLong when out has too little room (it is
// filled as far as it goes). A cell of code page 936's user-defined areas
// (userAreas) is one character of two bytes. Otherwise an invalid or cut
// sequence drops its first byte and becomes the fallback: in a double-byte
// code page a lead byte with a bad trail drops only the lead byte, so the
// trail is read again as a character.
long Widen(iconv_t cd, const char *in, size_t length, char16_t *out, size_t room, bool strict,
           char16_t fallback, bool userAreas) {
    char16_t chunk[512];
    size_t units = 0;
    while (length > 0) {
        char *input = const_cast<char *>(in);
        char *output = reinterpret_cast<char *>(out ? out + units : chunk);
        const size_t space = (out ? room - units : std::size(chunk)) * 2;
        size_t outLeft = space;
        const size_t rc = iconv(cd, &input, &length, &output, &outLeft);
        units += (space - outLeft) / 2;
        in = input;
        if (rc != static_cast<size_t>(-1) || (errno == E2BIG && !out))
            continue;
        if (errno == E2BIG)
            return kTooLong;
        if (errno != EILSEQ && errno != EINVAL)
            return kInvalid;
        const char16_t cell = userAreas && length >= 2 ? UserAreaCharacter(in) : 0;
        if (!cell && strict)
            return kInvalid;
        if (out && units == room)
            return kTooLong;
        if (out)
            out[units] = cell ? cell : fallback;
        ++units;
        const size_t skip = cell ? 2 : 1;
        in += skip;
        length -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return static_cast<long>(units);
}

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// The length of the text's leading run of ASCII bytes, sixteen at a time.
size_t AsciiRun(const char *text, size_t length) {
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        uint64_t a, b;
        memcpy(&a, text + i, sizeof a);
        memcpy(&b, text + i + 8, sizeof b);
        if ((a | b) & kHighBits)
            break;
    }
    while (i < length && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    return i;
}

// Widens the text's leading run of ASCII bytes (at most n) into out, sixteen
// at a time, in the one pass that also finds where the run ends: the units
// written. Every code page spells ASCII as it is, one byte a character, so
// the run ends on a character's boundary.
size_t WidenAsciiRun(const char *__restrict in, size_t n, char16_t *__restrict out) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        uint64_t a, b;
        memcpy(&a, in + i, sizeof a);
        memcpy(&b, in + i + 8, sizeof b);
        if ((a | b) & kHighBits)
            break;
        for (size_t k = 0; k < 16; ++k)
            out[i + k] = static_cast<unsigned char>(in[i + k]);
    }
    for (; i < n && static_cast<unsigned char>(in[i]) < 0x80; ++i)
        out[i] = static_cast<unsigned char>(in[i]);
    return i;
}

} // namespace

extern "C" UINT WINAPI GetACP() {
    return AnsiCodePage();
}

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
    const CodePage *page = Resolve(CP_ACP);
    return page && page->doubleByte && TestChar >= 0x81 && TestChar <= 0xFE;
}

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    const ::CodePage *page = Resolve(CodePage);
    if (!page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);

    // The leading ASCII run, a whole text of ASCII most often, is counted or
    // widened straight into the caller's buffer; iconv takes the rest.
    const size_t room = static_cast<size_t>(cchWideChar);
    const size_t run = cchWideChar
                           ? WidenAsciiRun(lpMultiByteStr, std::min(length, room), lpWideCharStr)
                           : AsciiRun(lpMultiByteStr, length);
    if (run == length)
        return static_cast<int>(length);
    if (cchWideChar && run == room) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    iconv_t cd = Descriptor(page, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    const char16_t fallback = page->doubleByte ? u'\u30FB' : u'?';
    const long units =
        Widen(cd, lpMultiByteStr + run, length - run, cchWideChar ? lpWideCharStr + run : nullptr,
              cchWideChar ? room - run : 0, strict, fallback, page->number == 936);
    if (units == kInvalid) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (units == kTooLong) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(run + static_cast<size_t>(units));
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    const ::CodePage *page = Resolve(CodePage);
    if (!page || !lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (page->number == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    size_t length = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[length])
            ++length;
        ++length;
    } else {
        length = static_cast<size_t>(cchWideChar);
    }

    std::string bytes;
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i)
        ascii = lpWideCharStr[i] < 0x80;
    if (ascii) {
        bytes.reserve(length);
        for (size_t i = 0; i < length; ++i)
            bytes.push_back(static_cast<char>(lpWideCharStr[i]));
    } else {
        iconv_t cd = Descriptor(page, false);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) != 0 && page->number == CP_UTF8;
        const char *fallback = page->number == CP_UTF8 ? "\xEF\xBF\xBD"
                               : lpDefaultChar         ? lpDefaultChar
                                                       : "?";
        size_t fallbackLength = page->number == CP_UTF8 ? 3 : 1;
        const bool userAreas = page->number == 936;
        auto substitute = [&](const char *at, size_t length) {
            uint8_t lead = 0, trail = 0;
            if (userAreas && length == 2 && UserAreaBytes(at, lead, trail)) {
                bytes.push_back(static_cast<char>(lead));
                bytes.push_back(static_cast<char>(trail));
                return true;
            }
            if (strict)
                return false;
            bytes.append(fallback, fallbackLength);
            if (lpUsedDefaultChar)
                *lpUsedDefaultChar = TRUE;
            return true;
        };
        // A surrogate pair is one character: skip both units together.
        auto unit = [](const char *at, size_t left) -> size_t {
            char16_t first = 0, second = 0;
            memcpy(&first, at, 2);
            if (left >= 4)
                memcpy(&second, at + 2, 2);
            bool pair = first >= 0xD800 && first < 0xDC00 && second >= 0xDC00 && second < 0xE000;
            return pair ? 4 : 2;
        };
        if (!Run(cd, reinterpret_cast<const char *>(lpWideCharStr), length * 2, bytes, substitute,
                 unit)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    }
    if (cbMultiByte == 0)
        return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        memcpy(lpMultiByteStr, bytes.data(), static_cast<size_t>(cbMultiByte));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}
