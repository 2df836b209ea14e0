// Moving a file into place whole: its data flushed first, the name changed
// in one step, then the folder's entry flushed, so that after a crash the
// name holds either what it held before or the whole new file.
#pragma once

#include <string>

namespace platform {

// Renames from to to (POSIX paths on one file system). With replace an
// existing file of that name is replaced in the same step; without, the
// move fails with EEXIST and both stay. With durable, from's data is
// flushed before the rename and to's folder after it. 0, or the errno value.
int MoveFileWhole(const std::string &from, const std::string &to, bool replace, bool durable);

// Flushes a folder's entries (a name made, renamed or removed in it): 0, or
// the errno value.
int SyncFolder(const std::string &folder);

} // namespace platform
