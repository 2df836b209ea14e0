// Moving files into place whole, and MoveFileExA on it.
#include "FileMove.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "PathRules.h"
#include "winbase.h"

namespace platform {
namespace {

std::string FolderOf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int SyncFile(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

// A rename that refuses to replace: in one step where the file system
// offers it, else by a second link that fails on an existing name.
int RenameNoReplace(const std::string &from, const std::string &to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (link(from.c_str(), to.c_str()) != 0)
        return errno;
    unlink(from.c_str());
    return 0;
}

} // namespace

int SyncFolder(const std::string &folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Some file systems cannot flush a folder; their entries are then as
    // safe as they can be made.
    const int error = fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
    close(fd);
    return error;
}

int MoveFileWhole(const std::string &from, const std::string &to, bool replace, bool durable) {
    if (durable) {
        if (int error = SyncFile(from))
            return error;
    }
    if (replace) {
        if (rename(from.c_str(), to.c_str()) != 0)
            return errno;
    } else if (int error = RenameNoReplace(from, to)) {
        return error;
    }
    return durable ? SyncFolder(FolderOf(to)) : 0;
}

} // namespace platform

using namespace platform;

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (!lpExistingFileName || !*lpExistingFileName || !lpNewFileName || !*lpNewFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (LostCharacters(lpExistingFileName) || LostCharacters(lpNewFileName))
        return FALSE;
    const std::string from = ResolvePath(lpExistingFileName);
    const std::string to = ResolvePath(lpNewFileName);
    const int error = MoveFileWhole(from, to, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0,
                                    (dwFlags & MOVEFILE_WRITE_THROUGH) != 0);
    switch (error) {
    case 0:
        return TRUE;
    case EXDEV: // a copy across file systems is not offered
        SetLastError(ERROR_NOT_SAME_DEVICE);
        break;
    case ENOENT:
        SetLastError(access(from.c_str(), F_OK) == 0 ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        break;
    default:
        SetLastError(ErrorFromErrno(error));
    }
    return FALSE;
}
