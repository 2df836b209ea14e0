// DiskFile: the system's one wrapper around a file handle, with its full
// path, attributes, size and whether the path names a file, a directory or
// nothing. Relative paths resolve against the directory of this module.
#pragma once

#include "platform/win32.h"

class DiskFile {
public:
    // States of the path.
    static constexpr int kUnknown = 12000;
    static constexpr int kFile = 12001;
    static constexpr int kDirectory = 12002;
    static constexpr int kNothing = 12003;

    // Create modes.
    static constexpr DWORD kOverwrite = 50100;
    static constexpr DWORD kAppend = 50101;
    // A new file, made exclusively and never through a link: fails when
    // anything (a file, a link, a folder) is at the path.
    static constexpr DWORD kNew = 50102;
    // How many names CreateUnique tries.
    static constexpr unsigned kUniqueNames = 32;

    DiskFile();
    explicit DiskFile(const char *path);
    DiskFile(const DiskFile &) = delete;
    DiskFile &operator=(const DiskFile &) = delete;

    virtual BOOL Open(DWORD access, DWORD share, DWORD flagsAndAttributes);
    virtual BOOL Create(DWORD mode, DWORD flagsAndAttributes);
    virtual void Close();
    virtual ~DiskFile();
    virtual BOOL Read(void *buffer, DWORD count, BOOL exact, DWORD *outCount);
    virtual BOOL Write(const void *buffer, DWORD count, BOOL exact, DWORD *outCount);
    virtual DWORD LastCount() const;
    virtual BOOL Flush();
    virtual BOOL Lock(DWORD offset, DWORD length);
    virtual BOOL Unlock(DWORD offset, DWORD length);

    BOOL Open(const char *path, DWORD access, DWORD share, DWORD flagsAndAttributes);
    BOOL Create(const char *path, DWORD mode);
    // Creates a new file (mode kNew) at the path or, when something is
    // already there, at the path followed by this process's number and a
    // count; the path becomes the name made. 0 when no name of
    // kUniqueNames was free or the file cannot be made for another reason.
    // What was at a name is left as it was.
    BOOL CreateUnique(const char *path, DWORD flagsAndAttributes);

    // Formats the path (printf style, the platform's formatter) and resolves
    // it; 0 and an empty path when it is longer than 259 characters or
    // cannot be resolved.
    BOOL SetPath(const char *format, ...);
    DWORD Seek(LONG distance, DWORD origin);
    DWORD SeekToBegin() { return Seek(0, FILE_BEGIN); }
    DWORD SeekToEnd() { return Seek(0, FILE_END); }
    DWORD Tell() { return Seek(0, FILE_CURRENT); }
    BOOL Truncate(LONG position);
    DWORD GetSize();
    const char *GetPath() const { return m_path; }
    const char *GetDirectory();
    int RefreshState();
    BOOL Delete();

    HANDLE Handle() const { return m_hFile; }
    int State() const { return m_nState; }
    DWORD Attributes() const { return m_dwAttributes; }

private:
    BOOL SetPathLiteral(const char *path);
    void ResetFields();

    HANDLE m_hFile = nullptr;
    char m_path[MAX_PATH] = {};
    char *m_pDirectory = nullptr;
    char *m_pNamePart = nullptr;
    DWORD m_dwLastCount = 0;
    int m_nState = kUnknown;
    DWORD m_dwAttributes = INVALID_FILE_ATTRIBUTES;
    DWORD m_dwSize = 0;
};

// Makes the directory and every missing parent; 1 when the path is then a
// directory. Paths longer than 259 characters are refused.
BOOL CreateDirectoryPath(const char *path);
