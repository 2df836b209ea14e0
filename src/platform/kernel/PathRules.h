// The platform's path rules on POSIX.
//
// '\' and '/' both separate components; a drive prefix such as "C:" before a
// separator names the root; a component that does not exist as spelled is
// matched case-insensitively against its directory's entries.
#pragma once

#include <string>

#include "windef.h"

namespace platform {

// The path with '/' separators and a leading drive prefix dropped.
std::string ToPosixPath(const char *path);

// The path to hand to the system: each component as spelled when that exists,
// else an entry of its directory equal to it ignoring case, else as spelled.
std::string ResolvePath(const char *path);

// An absolute, normalised path: "." and ".." applied, separators collapsed, a
// trailing separator kept.
std::string FullPath(const std::string &posixPath);

// Copies text into a caller's buffer of size characters the platform's way:
// when it fits, the length without the terminator; otherwise the size needed
// with the terminator, and the buffer is left alone.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size);

// The last-error value for an errno value of a file operation.
DWORD ErrorFromErrno(int error);

// Sets the last error from the current errno.
void SetErrorFromErrno();

// Where the user's state lives: QUILLBAY_HOME, else $XDG_DATA_HOME/quillbay,
// else ~/.local/share/quillbay. Created (private to the user) when missing,
// unless create is false.
std::string HomeDirectory(bool create = true);

} // namespace platform
