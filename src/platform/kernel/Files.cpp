// Files and directories on POSIX.
//
// Attributes are kept as FileAttributes.h describes. As on the platform, a
// read-only file cannot be opened for writing or deleted, whatever the
// user's rights. Every ANSI name is converted to the file system's encoding
// by PathRules before it is used; the wide entry points convert from UTF-16.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileAttributes.h"
#include "FileObject.h"
#include "PathRules.h"
#include "TextConvert.h"
#include "winbase.h"

namespace platform {
namespace {

// Reads the status of a resolved path; a file that cannot be read sets the
// last error as the platform reports it.
bool StatPath(const std::string &path, struct stat &st) {
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(errno == ENOENT ? MissingError(path) : ErrorFromErrno(errno));
        return false;
    }
    return true;
}

// Resolves an ANSI name and reads its status; a missing or empty name is
// refused as the platform refuses it.
bool StatNamedFile(LPCSTR name, std::string &path, struct stat &st) {
    if (!name || !*name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (LostCharacters(name))
        return false;
    path = ResolvePath(name);
    return StatPath(path, st);
}

// The file system's path for a wide name: no ANSI form on the way, so a
// name the ANSI code page cannot spell is reached too.
std::string WidePath(LPCWSTR name) {
    return ResolvePosixPath(PosixSeparators(WideToUtf8(name)));
}

std::shared_ptr<FileObject> FileFromHandle(HANDLE handle) {
    auto file = LookupHandleAs<FileObject>(handle);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

bool Overlaps(const std::pair<ULONGLONG, ULONGLONG> &a, ULONGLONG start, ULONGLONG length) {
    return start < a.first + a.second && a.first < start + length;
}

bool SetRangeLock(int fd, short type, ULONGLONG start, ULONGLONG length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(start);
    lock.l_len = static_cast<off_t>(length);
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The open(2) flags for an access and a disposition; false (with the last
// error set) for a combination the platform refuses.
bool OpenFlags(DWORD access, DWORD disposition, int &flags) {
    const bool wantsWrite = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    const bool wantsRead = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    flags = O_CLOEXEC | (wantsRead && wantsWrite ? O_RDWR : wantsWrite ? O_WRONLY : O_RDONLY);
    switch (disposition) {
    case CREATE_NEW:
        // Never through a link: O_EXCL already refuses one at the name, and
        // O_NOFOLLOW says so.
        flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!wantsWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if ((flags & O_ACCMODE) == O_RDONLY && (flags & O_TRUNC)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// Opens or creates a file by its resolved path, for CreateFileA and
// CreateFileW.
HANDLE OpenPath(const std::string &path, DWORD access, DWORD disposition,
                DWORD flagsAndAttributes) {
    if (PathTooLong(path))
        return INVALID_HANDLE_VALUE;
    struct stat st {};
    const bool existed = stat(path.c_str(), &st) == 0;
    const bool wantsWrite = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (existed && (S_ISDIR(st.st_mode) || (wantsWrite && (st.st_mode & S_IWUSR) == 0))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int flags = 0;
    if (!OpenFlags(access, disposition, flags))
        return INVALID_HANDLE_VALUE;
    const DWORD attributes = flagsAndAttributes & 0xFFFF;
    const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = open(path.c_str(), flags, mode);
    if (fd < 0) {
        DWORD error = errno == EEXIST   ? ERROR_FILE_EXISTS
                      : errno == ENOENT ? MissingError(path)
                                        : ErrorFromErrno(errno);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed || disposition == CREATE_ALWAYS)
        StoreAttributes(path, attributes);
    const bool deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    HANDLE handle =
        AddHandle(std::make_shared<FileObject>(fd, access, FullPath(path), deleteOnClose));
    const bool reportsExisting =
        existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

} // namespace

FILE *CreateNewFileStream(const char *ansiPath) {
    if (!ansiPath || !*ansiPath) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (LostCharacters(ansiPath))
        return nullptr;
    const std::string path = ResolvePath(ansiPath);
    if (PathTooLong(path))
        return nullptr;
    int flags = 0;
    OpenFlags(GENERIC_WRITE, CREATE_NEW, flags);
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        SetLastError(errno == EEXIST   ? ERROR_FILE_EXISTS
                     : errno == ENOENT ? MissingError(path)
                                       : ErrorFromErrno(errno));
        return nullptr;
    }
    FILE *stream = fdopen(fd, "wb");
    if (!stream) {
        SetErrorFromErrno();
        close(fd);
        unlink(path.c_str());
    }
    return stream;
}

FileObject::FileObject(int fd, DWORD access, std::string path, bool deleteOnClose)
    : m_fd(fd), m_access(access), m_path(std::move(path)), m_deleteOnClose(deleteOnClose) {}

FileObject::~FileObject() {
    close(m_fd);
    if (m_deleteOnClose)
        unlink(m_path.c_str());
}

} // namespace platform

using namespace platform;

// Sharing modes are not enforced between handles on this system.
extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (LostCharacters(lpFileName))
        return INVALID_HANDLE_VALUE;
    return OpenPath(ResolvePath(lpFileName), dwDesiredAccess, dwCreationDisposition,
                    dwFlagsAndAttributes);
}

extern "C" HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return OpenPath(WidePath(lpFileName), dwDesiredAccess, dwCreationDisposition,
                    dwFlagsAndAttributes);
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    if ((file->Access() & (GENERIC_READ | GENERIC_ALL)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto *out = static_cast<char *>(lpBuffer);
    DWORD total = 0;
    while (total < nNumberOfBytesToRead) {
        ssize_t n = read(file->Descriptor(), out + total, nNumberOfBytesToRead - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetErrorFromErrno();
            if (lpNumberOfBytesRead)
                *lpNumberOfBytesRead = total;
            return FALSE;
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = total;
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    if ((file->Access() & (GENERIC_WRITE | GENERIC_ALL)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const auto *in = static_cast<const char *>(lpBuffer);
    DWORD total = 0;
    while (total < nNumberOfBytesToWrite) {
        ssize_t n = write(file->Descriptor(), in + total, nNumberOfBytesToWrite - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetErrorFromErrno();
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = total;
    return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                       PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return INVALID_SET_FILE_POINTER;
    LONGLONG distance =
        lpDistanceToMoveHigh
            ? static_cast<LONGLONG>(
                  (static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                  static_cast<DWORD>(lDistanceToMove))
            : static_cast<LONGLONG>(lDistanceToMove);
    int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                 : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                 : dwMoveMethod == FILE_END     ? SEEK_END
                                                : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t current = lseek(file->Descriptor(), 0, SEEK_CUR);
    off_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? current
                                      : lseek(file->Descriptor(), 0, SEEK_END);
    lseek(file->Descriptor(), current, SEEK_SET);
    LONGLONG target = static_cast<LONGLONG>(base) + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFELL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->Descriptor(), static_cast<off_t>(target), SEEK_SET) < 0) {
        SetErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<ULONGLONG>(target) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    off_t position = lseek(file->Descriptor(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->Descriptor(), position) != 0) {
        SetLastError(errno == EBADF || errno == EINVAL ? ERROR_ACCESS_DENIED
                                                       : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    if ((file->Access() & (GENERIC_WRITE | GENERIC_ALL)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (fsync(file->Descriptor()) != 0) {
        SetErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    ULONGLONG start = (static_cast<ULONGLONG>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    ULONGLONG length =
        (static_cast<ULONGLONG>(nNumberOfBytesToLockHigh) << 32) | nNumberOfBytesToLockLow;
    if (length == 0 || start > static_cast<ULONGLONG>(LLONG_MAX) ||
        length > static_cast<ULONGLONG>(LLONG_MAX) - start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const auto &range : file->Locks()) {
        if (Overlaps(range, start, length)) {
            SetLastError(ERROR_LOCK_VIOLATION);
            return FALSE;
        }
    }
    if (!SetRangeLock(file->Descriptor(), F_WRLCK, start, length)) {
        SetLastError(errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION
                                                        : ErrorFromErrno(errno));
        return FALSE;
    }
    file->Locks().emplace_back(start, length);
    return TRUE;
}

extern "C" BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                  DWORD nNumberOfBytesToUnlockLow,
                                  DWORD nNumberOfBytesToUnlockHigh) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return FALSE;
    ULONGLONG start = (static_cast<ULONGLONG>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    ULONGLONG length =
        (static_cast<ULONGLONG>(nNumberOfBytesToUnlockHigh) << 32) | nNumberOfBytesToUnlockLow;
    auto &locks = file->Locks();
    for (auto it = locks.begin(); it != locks.end(); ++it) {
        if (it->first == start && it->second == length) {
            SetRangeLock(file->Descriptor(), F_UNLCK, start, length);
            locks.erase(it);
            return TRUE;
        }
    }
    SetLastError(158); // ERROR_NOT_LOCKED
    return FALSE;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = FileFromHandle(hFile);
    if (!file)
        return INVALID_FILE_SIZE;
    struct stat st {};
    if (fstat(file->Descriptor(), &st) != 0) {
        SetErrorFromErrno();
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<ULONGLONG>(st.st_size);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    std::string path;
    struct stat st {};
    if (!StatNamedFile(lpFileName, path, st))
        return INVALID_FILE_ATTRIBUTES;
    return AttributesOf(path, st);
}

extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string path = WidePath(lpFileName);
    struct stat st {};
    if (!StatPath(path, st))
        return INVALID_FILE_ATTRIBUTES;
    return AttributesOf(path, st);
}

extern "C" BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                            LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation || !lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path;
    struct stat st {};
    if (!StatNamedFile(lpFileName, path, st))
        return FALSE;
    auto *data = static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(lpFileInformation);
    data->dwFileAttributes = AttributesOf(path, st);
    data->ftCreationTime = FileTimeOf(st.st_ctim);
    data->ftLastAccessTime = FileTimeOf(st.st_atim);
    data->ftLastWriteTime = FileTimeOf(st.st_mtim);
    const auto size = static_cast<ULONGLONG>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    std::string path;
    struct stat st {};
    if (!StatNamedFile(lpFileName, path, st))
        return FALSE;
    mode_t mode = st.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(path.c_str(), mode) != 0) {
        SetErrorFromErrno();
        return FALSE;
    }
    if (!StoreAttributes(path, dwFileAttributes)) {
        SetErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (LostCharacters(lpPathName))
        return FALSE;
    std::string path = ResolvePath(lpPathName);
    if (PathTooLong(path))
        return FALSE;
    if (mkdir(path.c_str(), 0777) != 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (LostCharacters(lpPathName))
        return FALSE;
    std::string path = ResolvePath(lpPathName);
    if (rmdir(path.c_str()) != 0) {
        SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    std::string path;
    struct stat st {};
    if (!StatNamedFile(lpFileName, path, st))
        return FALSE;
    if (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        SetErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}
