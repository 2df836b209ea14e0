// String functions and the platform's own formatter.
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <string>

#include "winbase.h"

namespace {

// Appends to a bounded output, counting what fits.
class Output {
public:
    Output(char *buffer, int limit) : m_buffer(buffer), m_limit(limit) {}
    void Put(char c) {
        if (m_length < m_limit)
            m_buffer[m_length++] = c;
    }
    void Put(const char *text, size_t n) {
        for (size_t i = 0; i < n; ++i)
            Put(text[i]);
    }
    void Pad(int count, char c) {
        for (int i = 0; i < count; ++i)
            Put(c);
    }
    int Finish() {
        m_buffer[m_length] = 0;
        return m_length;
    }

private:
    char *m_buffer;
    int m_limit;
    int m_length = 0;
};

struct Spec {
    bool left = false;
    bool zero = false;
    bool hash = false;
    int width = 0;
    int precision = -1;
    bool wide = false; // 'l': 32 bits here, as on the platform
    bool big = false;  // "I64": 64 bits
};

void PutField(Output &out, const Spec &spec, const std::string &text, const std::string &prefix,
              bool numeric) {
    std::string body = text;
    if (numeric && spec.precision >= 0 && static_cast<int>(body.size()) < spec.precision)
        body.insert(0, static_cast<size_t>(spec.precision) - body.size(), '0');
    int length = static_cast<int>(prefix.size() + body.size());
    int pad = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out.Put(prefix.data(), prefix.size());
        out.Put(body.data(), body.size());
        out.Pad(pad, ' ');
    } else if (spec.zero && numeric && spec.precision < 0) {
        out.Put(prefix.data(), prefix.size());
        out.Pad(pad, '0');
        out.Put(body.data(), body.size());
    } else {
        out.Pad(pad, ' ');
        out.Put(prefix.data(), prefix.size());
        out.Put(body.data(), body.size());
    }
}

std::string Digits(unsigned long long value, unsigned base, bool upper) {
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value);
    return out;
}

} // namespace

int FormatTextA(LPSTR buffer, int limit, LPCSTR format, va_list args) {
    Output out(buffer, limit);
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        Spec spec;
        ++p;
        for (;; ++p) {
            if (*p == '-')
                spec.left = true;
            else if (*p == '0')
                spec.zero = true;
            else if (*p == '#')
                spec.hash = true;
            else
                break;
        }
        while (*p >= '0' && *p <= '9')
            spec.width = spec.width * 10 + (*p++ - '0');
        if (*p == '.') {
            spec.precision = 0;
            ++p;
            while (*p >= '0' && *p <= '9')
                spec.precision = spec.precision * 10 + (*p++ - '0');
        }
        if (*p == 'l' || *p == 'L') {
            spec.wide = true;
            ++p;
        } else if (*p == 'h') {
            ++p;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            spec.big = true;
            p += 3;
        }
        switch (*p) {
        case 'd':
        case 'i': {
            long long v = spec.big ? va_arg(args, long long) : va_arg(args, int);
            unsigned long long magnitude =
                v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            PutField(out, spec, Digits(magnitude, 10, false), v < 0 ? "-" : "", true);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned long long v = spec.big ? va_arg(args, unsigned long long)
                                            : va_arg(args, unsigned int);
            unsigned base = *p == 'u' ? 10 : 16;
            std::string prefix = (spec.hash && base == 16 && v) ? (*p == 'X' ? "0X" : "0x") : "";
            PutField(out, spec, Digits(v, base, *p == 'X'), prefix, true);
            break;
        }
        case 'p': {
            auto v = reinterpret_cast<ULONG_PTR>(va_arg(args, void *));
            Spec pointer = spec;
            pointer.precision = 16;
            PutField(out, pointer, Digits(v, 16, true), "", true);
            break;
        }
        case 'c':
            PutField(out, spec, std::string(1, static_cast<char>(va_arg(args, int))), "", false);
            break;
        case 's': {
            const char *s = va_arg(args, const char *);
            if (!s)
                s = "(null)";
            size_t n = strlen(s);
            if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < n)
                n = static_cast<size_t>(spec.precision);
            PutField(out, spec, std::string(s, n), "", false);
            break;
        }
        case '%':
            out.Put('%');
            break;
        case 0:
            --p; // a lone '%' at the end
            break;
        default:
            out.Put(*p);
            break;
        }
    }
    return out.Finish();
}

extern "C" int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
    return FormatTextA(buffer, 1024, format, args);
}

extern "C" int WINAPI wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatTextA(buffer, 1024, format, args);
    va_end(args);
    return n;
}

extern "C" int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? static_cast<int>(strlen(lpString)) : 0;
}

extern "C" int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    int r = strcmp(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

extern "C" int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    int r = strcasecmp(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

extern "C" LPSTR WINAPI lstrcpynA(LPSTR out, LPCSTR in, int iMaxLength) {
    if (!out || iMaxLength <= 0)
        return out;
    int i = 0;
    for (; in && i < iMaxLength - 1 && in[i]; ++i)
        out[i] = in[i];
    out[i] = 0;
    return out;
}
