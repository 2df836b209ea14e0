// AnsiStr: the growable byte string in the ANSI code page that the system
// keeps its text in, with conversion from and to UTF-16 and the searches and
// edits the other parts rely on. Positions and lengths are byte counts; no
// operation knows about double-byte characters.
#pragma once

#include "platform/win32.h"

class AnsiStr {
public:
    // Buffer sizes used throughout: the default, folder names, resource strings.
    static constexpr DWORD kDefaultSize = 80;
    static constexpr DWORD kFolderSize = 260;
    static constexpr DWORD kResourceSize = 1024;

    // Folder codes for the constructor and LoadFolder.
    static constexpr int kWindowsFolder = -32768;
    static constexpr int kSystemFolder = -32767;
    static constexpr int kTempFolder = -32766;
    static constexpr int kModuleFolder = -32765;
    static constexpr int kModuleFile = -32764;

    AnsiStr() = default;
    AnsiStr(const char *text, DWORD capacity = 0);
    // A folder code (-32768 to -32600) loads that folder; any other number
    // allocates that many bytes (0 falls back to the default size).
    explicit AnsiStr(int sizeOrFolder);
    AnsiStr(const AnsiStr &other);
    AnsiStr &operator=(const AnsiStr &other);
    AnsiStr &operator=(const char *text);
    ~AnsiStr();

    // The string built from UTF-8 text (the system's own messages are
    // written in UTF-8 in the source and used in the ANSI code page).
    static AnsiStr FromUtf8(const char *utf8);

    void Assign(const char *text);
    void Assign(const AnsiStr &other);
    void FromWide(const WCHAR *wide);
    const WCHAR *ToWide(int *count = nullptr);
    // The text converted into *bstr, whose block is reused where it can (a
    // null *bstr gets a new string); FALSE leaves *bstr as it was.
    BOOL ToBstr(BSTR *bstr) const;
    void Clear();
    // Exchanges the two strings' buffers and texts; nothing is copied.
    void Swap(AnsiStr &other);
    void Recount();
    // Counts n more bytes as text: a writer put them straight into the
    // buffer after the text, none of them a NUL. The terminator is written
    // after them; nothing changes when they would not fit the buffer.
    void Extend(DWORD n);
    DWORD Reserve(DWORD n, bool discard);
    char &At(DWORD index);
    void Append(const char *text);
    void Append(const AnsiStr &other) { Append(other.m_data); }
    void AppendInt(int n);
    void AppendChar(char c);
    bool Equals(const char *text) const;
    int Find(const char *pattern, int from, int n) const;
    int FindLast(const char *pattern, int n) const;
    void Mid(AnsiStr &out, int start, int count) const;
    void Between(AnsiStr &out, const char *startMark, const char *endMark, int from, int *outPos,
                 unsigned flags) const;
    static void Concat(AnsiStr &out, const char *text, const AnsiStr &other);
    void ReplaceChar(char from, char to, bool all);
    void ToUpper();
    void Trim();
    int Delete(int pos, int count);
    void LoadRes(UINT id, HINSTANCE module);
    void LoadFolder(int code);

    // The text; never null (an empty string has "").
    const char *c_str() const { return m_data ? m_data : ""; }
    char *Data() { return m_data; }
    DWORD Length() const { return m_length; }
    DWORD Capacity() const { return m_capacity; }
    bool IsEmpty() const { return m_length == 0; }

private:
    // Replaces the buffer with a zero-filled one of the given size, or keeps
    // the old one when the allocation fails; false then.
    bool Reallocate(DWORD size);
    void SetBytes(const char *bytes, DWORD n);
    void EnsureAtLeast(DWORD size);

    DWORD m_capacity = 0;
    DWORD m_length = 0;
    int m_wideCapacity = 0;
    char *m_data = nullptr;
    WCHAR *m_wide = nullptr;
    char m_scratch = 0;
};
