#include "PathSeparators.h"

const char *NextPathChar(const char *p) {
    if (!*p)
        return p;
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1])
        return p + 2;
    return p + 1;
}

bool IsPathSeparator(const char *p) {
    return *p == '\\' || *p == '/';
}

int LastPathSeparator(const char *path) {
    int last = -1;
    for (const char *p = path; *p; p = NextPathChar(p)) {
        if (IsPathSeparator(p))
            last = static_cast<int>(p - path);
    }
    return last;
}
