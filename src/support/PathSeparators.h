// Where the components of an ANSI path end: at a '\' or '/' that is a
// character of its own, never at the trail byte of a double-byte character
// (GBK writes 嘰 as 87 5C and 乗 as 81 5C; Shift-JIS writes 十 as 8F 5C).
#pragma once

#include "platform/win32.h"

// The character after the one at p (p itself at the terminator).
const char *NextPathChar(const char *p);
// Whether the character at p separates components.
bool IsPathSeparator(const char *p);
// The index of the path's last separator, or -1.
int LastPathSeparator(const char *path);
