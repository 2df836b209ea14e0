#include "DiskFile.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "AnsiStr.h"
#include "PathSeparators.h"

namespace {

constexpr int kLongestPath = MAX_PATH - 1;

} // namespace

DiskFile::DiskFile() = default;

DiskFile::DiskFile(const char *path) {
    if (path)
        SetPathLiteral(path);
}

DiskFile::~DiskFile() {
    Close();
    free(m_pDirectory);
}

void DiskFile::ResetFields() {
    memset(m_path, 0, sizeof m_path);
    free(m_pDirectory);
    m_pDirectory = nullptr;
    m_pNamePart = nullptr;
    m_dwLastCount = 0;
    m_nState = kUnknown;
    m_dwAttributes = INVALID_FILE_ATTRIBUTES;
    m_dwSize = 0;
}

BOOL DiskFile::SetPath(const char *format, ...) {
    // Formatted with room for more than a path, so an overlong one is seen
    // and refused instead of cut.
    char text[1025];
    va_list args;
    va_start(args, format);
    int n = FormatTextA(text, 1024, format ? format : "", args);
    va_end(args);
    if (n > kLongestPath) {
        Close();
        ResetFields();
        return FALSE;
    }
    return SetPathLiteral(text);
}

BOOL DiskFile::SetPathLiteral(const char *path) {
    Close();
    ResetFields();
    if (!path || lstrlenA(path) > kLongestPath)
        return FALSE;
    // Resolve with this module's directory as the current directory, so a
    // relative path names a file beside the module; restore it afterwards.
    char previous[MAX_PATH * 4] = {};
    DWORD saved = GetCurrentDirectoryA(sizeof previous, previous);
    AnsiStr moduleFolder(AnsiStr::kModuleFolder);
    SetCurrentDirectoryA(moduleFolder.c_str());
    DWORD n = GetFullPathNameA(path, MAX_PATH, m_path, &m_pNamePart);
    if (saved > 0 && saved < sizeof previous)
        SetCurrentDirectoryA(previous);
    if (n == 0 || n >= MAX_PATH) {
        ResetFields();
        return FALSE;
    }
    RefreshState();
    return TRUE;
}

int DiskFile::RefreshState() {
    m_dwAttributes = GetFileAttributesA(m_path);
    if (m_dwAttributes == INVALID_FILE_ATTRIBUTES)
        m_nState = kNothing;
    else if (m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        m_nState = kDirectory;
    else
        m_nState = kFile;
    return m_nState;
}

BOOL DiskFile::Open(DWORD access, DWORD share, DWORD flagsAndAttributes) {
    if (m_hFile) {
        SeekToBegin();
        return TRUE;
    }
    HANDLE h =
        CreateFileA(m_path, access, share, nullptr, OPEN_EXISTING, flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FALSE;
    m_hFile = h;
    m_dwAttributes = GetFileAttributesA(m_path);
    m_dwSize = GetFileSize(m_hFile, nullptr);
    return TRUE;
}

BOOL DiskFile::Open(const char *path, DWORD access, DWORD share, DWORD flagsAndAttributes) {
    SetPathLiteral(path);
    return Open(access, share, flagsAndAttributes);
}

BOOL DiskFile::Create(DWORD mode, DWORD flagsAndAttributes) {
    if (m_hFile) {
        if (mode == kAppend)
            SeekToEnd();
        else if (mode == kOverwrite)
            SeekToBegin();
        return TRUE;
    }
    DWORD disposition = OPEN_ALWAYS;
    if (mode == kNew) {
        if (m_nState != kNothing) {
            SetLastError(m_nState == kUnknown ? ERROR_INVALID_NAME : ERROR_FILE_EXISTS);
            return FALSE;
        }
        CreateDirectoryPath(GetDirectory());
        m_dwAttributes = flagsAndAttributes;
        disposition = CREATE_NEW;
    } else if (m_nState == kFile) {
        // A read-only or hidden file is made normal so it can be opened;
        // Close puts the recorded attributes back.
        if ((m_dwAttributes & FILE_ATTRIBUTE_TEMPORARY) == 0)
            SetFileAttributesA(m_path, FILE_ATTRIBUTE_NORMAL);
        disposition = mode == kOverwrite ? TRUNCATE_EXISTING : OPEN_ALWAYS;
    } else if (m_nState == kNothing) {
        CreateDirectoryPath(GetDirectory());
        m_dwAttributes = flagsAndAttributes;
    } else {
        return FALSE;
    }
    HANDLE h = CreateFileA(m_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, disposition, flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_hFile = nullptr;
        m_dwAttributes = INVALID_FILE_ATTRIBUTES;
        m_nState = kNothing;
        return FALSE;
    }
    m_hFile = h;
    if (mode == kAppend)
        SeekToEnd();
    m_dwSize = GetFileSize(m_hFile, nullptr);
    return TRUE;
}

BOOL DiskFile::Create(const char *path, DWORD mode) {
    SetPathLiteral(path);
    return Create(mode, FILE_ATTRIBUTE_NORMAL);
}

BOOL DiskFile::CreateUnique(const char *path, DWORD flagsAndAttributes) {
    // The count is the process's, so each call tries names no earlier call
    // of this process made.
    static std::atomic<unsigned> serial{0};
    for (unsigned attempt = 0; attempt < kUniqueNames; ++attempt) {
        const BOOL named =
            attempt == 0 ? SetPathLiteral(path)
                         : SetPath("%s.%lu-%u", path,
                                   static_cast<unsigned long>(GetCurrentProcessId()), ++serial);
        if (!named)
            return FALSE;
        if (Create(kNew, flagsAndAttributes))
            return TRUE;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return FALSE;
    }
    return FALSE;
}

void DiskFile::Close() {
    if (!m_hFile)
        return;
    CloseHandle(m_hFile);
    m_hFile = nullptr;
    if (m_dwAttributes != INVALID_FILE_ATTRIBUTES && m_dwAttributes != GetFileAttributesA(m_path))
        SetFileAttributesA(m_path, m_dwAttributes);
}

BOOL DiskFile::Read(void *buffer, DWORD count, BOOL exact, DWORD *outCount) {
    if (buffer)
        memset(buffer, 0, count);
    DWORD n = 0;
    if (!m_hFile || !ReadFile(m_hFile, buffer, count, &n, nullptr)) {
        m_dwLastCount = 0;
        if (outCount)
            *outCount = 0;
        return FALSE;
    }
    m_dwLastCount = n;
    if (outCount)
        *outCount = n;
    return n > 0 && (!exact || n == count);
}

BOOL DiskFile::Write(const void *buffer, DWORD count, BOOL exact, DWORD *outCount) {
    DWORD n = 0;
    if (!m_hFile || !WriteFile(m_hFile, buffer, count, &n, nullptr)) {
        m_dwLastCount = 0;
        if (outCount)
            *outCount = 0;
        return FALSE;
    }
    m_dwLastCount = n;
    if (outCount)
        *outCount = n;
    DWORD position = Tell();
    if (position != INVALID_SET_FILE_POINTER && position > m_dwSize)
        m_dwSize = position;
    return n > 0 && (!exact || n == count);
}

DWORD DiskFile::LastCount() const {
    return m_dwLastCount;
}

BOOL DiskFile::Flush() {
    return m_hFile ? FlushFileBuffers(m_hFile) : FALSE;
}

BOOL DiskFile::Lock(DWORD offset, DWORD length) {
    return m_hFile ? LockFile(m_hFile, offset, 0, length, 0) : FALSE;
}

BOOL DiskFile::Unlock(DWORD offset, DWORD length) {
    return m_hFile ? UnlockFile(m_hFile, offset, 0, length, 0) : FALSE;
}

DWORD DiskFile::Seek(LONG distance, DWORD origin) {
    return m_hFile ? SetFilePointer(m_hFile, distance, nullptr, origin) : INVALID_SET_FILE_POINTER;
}

BOOL DiskFile::Truncate(LONG position) {
    if (!m_hFile)
        return FALSE;
    if (position != -1)
        Seek(position, FILE_BEGIN);
    if (!SetEndOfFile(m_hFile))
        return FALSE;
    m_dwSize = Tell();
    return TRUE;
}

DWORD DiskFile::GetSize() {
    RefreshState();
    DWORD size;
    if (m_hFile) {
        size = GetFileSize(m_hFile, nullptr);
    } else {
        HANDLE h = CreateFileA(m_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        size = GetFileSize(h, nullptr);
        CloseHandle(h);
    }
    m_dwSize = size == INVALID_FILE_SIZE ? 0 : size;
    return m_dwSize;
}

const char *DiskFile::GetDirectory() {
    if (!m_pDirectory) {
        m_pDirectory = static_cast<char *>(calloc(MAX_PATH, 1));
        if (!m_pDirectory)
            return "";
        lstrcpynA(m_pDirectory, m_path, MAX_PATH);
        const int slash = LastPathSeparator(m_pDirectory);
        m_pDirectory[slash > 0 ? slash : 0] = 0;
    }
    return m_pDirectory;
}

BOOL DiskFile::Delete() {
    Close();
    return DeleteFileA(m_path);
}

BOOL CreateDirectoryPath(const char *path) {
    if (!path || !*path || lstrlenA(path) > kLongestPath)
        return FALSE;
    if (CreateDirectoryA(path, nullptr))
        return TRUE;
    // Each folder on the way, ended at a separator that is a character of
    // its own (never inside a double-byte character).
    char prefix[MAX_PATH] = {};
    for (const char *p = path; *p; p = NextPathChar(p)) {
        const int i = static_cast<int>(p - path);
        if (IsPathSeparator(p) && i > 0) {
            memcpy(prefix, path, static_cast<size_t>(i));
            prefix[i] = 0;
            CreateDirectoryA(prefix, nullptr);
        }
    }
    CreateDirectoryA(path, nullptr);
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TRUE
                                                                                            : FALSE;
}
