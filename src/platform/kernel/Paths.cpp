// Full paths, the current directory and the well-known directories, handed
// out in the ANSI code page (PathRules.h converts).
#include <cerrno>
#include <cstdlib>
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
    full = FileSystemToAnsi(full);
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
    std::string path = ResolvePath(lpPathName);
    if (chdir(path.c_str()) != 0) {
        SetLastError(errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_DIRECTORY
                                        : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char *tmp = getenv("TMPDIR");
    std::string path = tmp && *tmp ? tmp : "/tmp";
    path = FullPath(PosixSeparators(path)); // the environment's bytes: no conversion in
    if (path.back() != '/')
        path += '/';
    return CopyOutPath(path, lpBuffer, nBufferLength);
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyOutPath(HomeDirectory(), lpBuffer, uSize);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyOutPath(HomeDirectory() + "/system", lpBuffer, uSize);
}
