// The platform's path rules on POSIX.
//
// The system names files in the ANSI code page; the file system names them
// in UTF-8. Every path that crosses into the file system is converted here,
// whole, before it is split: a trail byte of a double-byte character (0x5C
// in 嘰 or 乗) is never taken for a separator. Names coming back are
// converted to the ANSI code page, where a character it lacks becomes '?'.
//
// '\' and '/' both separate components; a drive prefix such as "C:" before a
// separator names the root; a component that does not exist as spelled is
// matched case-insensitively against its directory's entries.
//
// No name that lost characters is ever used: a path the code page cannot
// hold is never handed out (the calls that give paths fail with
// ERROR_NO_UNICODE_TRANSLATION), and a file call given a name holding '?'
// (the default character of every code page here, never a character of the
// platform's file names) or bytes the code page does not define fails the
// same way, rather than reach another file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "windef.h"

namespace platform {

// The non-empty names between the separators of a text in UTF-8 (or any
// encoding where no byte of a character is the separator).
std::vector<std::string> SplitNames(const std::string &text, char separator);

// An ANSI text in the file system's encoding, and back (a character the
// code page lacks becoming '?', as the platform lists such names).
std::string AnsiToFileSystem(const char *ansi);
std::string FileSystemToAnsi(const std::string &name);
// The ANSI form of a name in the file system's encoding when the code page
// holds all of it; otherwise false, with ERROR_NO_UNICODE_TRANSLATION.
bool FileSystemToAnsiExactly(const std::string &name, std::string &ansi);
// Whether an ANSI name given to a file call lost characters on its way
// into the code page ('?' or bytes the code page does not define); sets
// ERROR_NO_UNICODE_TRANSLATION when it did. With a pattern, '?' stays a
// wildcard in its last name.
bool LostCharacters(const char *ansiPath, bool pattern = false);

// The file system's path for an ANSI path: converted, with '/' separators and
// a leading drive prefix dropped.
std::string ToPosixPath(const char *ansiPath);
// The same for a path already in the file system's encoding (the
// environment's, a module's).
std::string PosixSeparators(std::string path);

// The path to hand to the system for an ANSI path: each component as spelled
// when that exists, else an entry of its directory equal to it ignoring case,
// else as spelled.
std::string ResolvePath(const char *ansiPath);
// The same for a path already converted by ToPosixPath.
std::string ResolvePosixPath(const std::string &posixPath);

// The one entry for code outside the kernel that hands an ANSI path to the C
// library (stdio streams): ResolvePath, or "" (which opens nothing) for a
// name that lost characters.
inline std::string FileSystemPath(const char *ansiPath) {
    return LostCharacters(ansiPath) ? std::string() : ResolvePath(ansiPath);
}

// A new file for the C library's streams (libjpeg's stdio destination),
// made as CreateFileA's CREATE_NEW makes one: exclusively and never through
// a link, open for writing. Null, with the last error set
// (ERROR_FILE_EXISTS when anything is at the name), when it cannot be made.
FILE *CreateNewFileStream(const char *ansiPath);

// How many characters (UTF-16 units, as the platform counts MAX_PATH) a
// path in the file system's encoding holds.
size_t PathCharacters(const std::string &path);

// An absolute, normalised path: "." and ".." applied, separators collapsed, a
// trailing separator kept.
std::string FullPath(const std::string &posixPath);

// Copies text into a caller's buffer of size characters the platform's way:
// when it fits, the length without the terminator; otherwise the size needed
// with the terminator, and the buffer is left alone.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size);
// The same for a path in the file system's encoding, handed out in ANSI;
// 0 with ERROR_NO_UNICODE_TRANSLATION when the code page cannot hold it.
DWORD CopyOutPath(const std::string &path, LPSTR buffer, DWORD size);

// The last-error value for an errno value of a file operation.
DWORD ErrorFromErrno(int error);

// Sets the last error from the current errno.
void SetErrorFromErrno();

// Where the user's state lives: QUILLBAY_HOME, else $XDG_DATA_HOME/quillbay,
// else ~/.local/share/quillbay. Created (private to the user) when missing,
// unless create is false.
std::string HomeDirectory(bool create = true);

} // namespace platform
