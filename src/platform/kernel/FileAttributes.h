// File attributes and times as the platform reports them, for paths in the
// file system's encoding (see PathRules.h).
//
// READONLY is the absence of write permission; DIRECTORY comes from the
// file's type; HIDDEN, SYSTEM, ARCHIVE and TEMPORARY are kept in an extended
// attribute of the file; NORMAL stands alone when no other attribute is set.
#pragma once

#include <ctime>
#include <string>
#include <sys/stat.h>

#include "winbase.h"

namespace platform {

DWORD AttributesOf(const std::string &path, const struct stat &st);
// Keeps the attributes a file's mode cannot hold; false when that fails.
bool StoreAttributes(const std::string &path, DWORD attributes);
// 100-nanosecond intervals since 1 January 1601.
FILETIME FileTimeOf(const timespec &t);

// Sets ERROR_FILENAME_EXCED_RANGE and answers true when the full path holds
// MAX_PATH characters or more.
bool PathTooLong(const std::string &path);
// ERROR_PATH_NOT_FOUND when the directory part is missing, else
// ERROR_FILE_NOT_FOUND.
DWORD MissingError(const std::string &path);

} // namespace platform
