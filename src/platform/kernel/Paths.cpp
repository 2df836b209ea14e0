// Full paths, the current directory and the well-known directories, handed
// out in the ANSI code page (PathRules.h converts), never with characters
// lost. The temporary directory is TMPDIR when it is set and the code page
// holds its name, else a folder of the user's own (mode 0700).
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "PathRules.h"
#include "winbase.h"

using namespace platform;

extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                                         LPSTR *lpFilePart) {
    if (lpFilePart)
        *lpFilePart = nullptr;
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string full = FullPath(ToPosixPath(lpFileName));
    if (full.empty()) {
        SetErrorFromErrno();
        return 0;
    }
    // The file part is found after the conversion: '/' is never a byte of a
    // double-byte character.
    std::string ansi;
    if (!FileSystemToAnsiExactly(full, ansi))
        return 0;
    full = ansi;
    DWORD result = CopyOut(full, lpBuffer, nBufferLength);
    if (result < nBufferLength && lpFilePart && full.back() != '/')
        *lpFilePart = lpBuffer + full.find_last_of('/') + 1;
    return result;
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) {
        SetErrorFromErrno();
        return 0;
    }
    return CopyOutPath(cwd, lpBuffer, nBufferLength);
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (LostCharacters(lpPathName))
        return FALSE;
    std::string path = ResolvePath(lpPathName);
    if (chdir(path.c_str()) != 0) {
        SetLastError(errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_DIRECTORY
                                        : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

namespace {

// Whether a folder is the user's alone: a folder, not a link to one, owned
// by this account and closed to every other (mode 0700). Made so when it is
// missing.
bool PrivateFolder(const std::string &path) {
    if (mkdir(path.c_str(), 0700) == 0)
        chmod(path.c_str(), 0700); // a umask may have taken the owner's bits too
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 07777) == 0700;
}

// A folder of this account's own to hold the private one.
bool OwnFolder(const std::string &path) {
    mkdir(path.c_str(), 0700);
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

// Whether the ANSI code page holds a folder's name; `lost` notes one it
// does not. Nothing is made of a name before this says yes.
bool Holds(const std::string &folder, bool &lost) {
    std::string ansi;
    if (FileSystemToAnsiExactly(folder, ansi))
        return true;
    lost = true;
    return false;
}

// The temporary folder: TMPDIR as the user set it; else the user's own, as
// the platform gives each user one: in the session's runtime folder, else
// in the user's state. A folder whose name the code page cannot hold is
// passed over. Empty, with the last error set, when none will do.
std::string TempFolder() {
    bool lost = false;
    if (const char *tmp = getenv("TMPDIR"); tmp && *tmp) {
        const std::string path = FullPath(PosixSeparators(tmp));
        if (Holds(path, lost))
            return path;
    }
    if (const char *runtime = getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        const std::string base = FullPath(PosixSeparators(runtime)) + "/quillbay";
        if (Holds(base + "/tmp", lost) && OwnFolder(base) && PrivateFolder(base + "/tmp"))
            return base + "/tmp";
    }
    const std::string own = HomeDirectory(false) + "/tmp";
    if (Holds(own, lost) && !HomeDirectory(true).empty() && PrivateFolder(own))
        return own;
    SetLastError(lost ? ERROR_NO_UNICODE_TRANSLATION : ERROR_ACCESS_DENIED);
    return "";
}

} // namespace

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    std::string path = TempFolder();
    if (path.empty())
        return 0;
    if (path.back() != '/')
        path += '/';
    return CopyOutPath(path, lpBuffer, nBufferLength);
}

namespace {

// A folder of the user's state, made (with the state) only when the code
// page holds its name.
UINT CopyOutStateFolder(const std::string &below, LPSTR buffer, UINT size) {
    bool lost = false;
    if (!Holds(HomeDirectory(false) + below, lost))
        return 0;
    return CopyOutPath(HomeDirectory() + below, buffer, size);
}

} // namespace

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyOutStateFolder("", lpBuffer, uSize);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyOutStateFolder("/system", lpBuffer, uSize);
}
