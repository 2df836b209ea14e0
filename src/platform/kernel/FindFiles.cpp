// Directory listings (FindFirstFile, FindNextFile, FindClose).
//
// A search lists its folder once, when it starts: the matching names in the
// file system's encoding, sorted, handed out one by one in the ANSI code
// page or in UTF-16.
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FileAttributes.h"
#include "KernelObject.h"
#include "PathRules.h"
#include "TextConvert.h"
#include "winbase.h"

namespace platform {
namespace {

class FindObject : public KernelObject {
public:
    FindObject(std::string folder, std::vector<std::string> names)
        : m_folder(std::move(folder)), m_names(std::move(names)) {}

    // The next name with its status; false when none is left.
    bool Next(std::string &name, struct stat &st) {
        while (m_next < m_names.size()) {
            name = m_names[m_next++];
            if (stat((m_folder + "/" + name).c_str(), &st) == 0)
                return true; // an entry removed since the listing is skipped
        }
        return false;
    }
    const std::string &Folder() const { return m_folder; }

private:
    std::string m_folder;
    std::vector<std::string> m_names;
    size_t m_next = 0;
};

char16_t Folded(char16_t c) {
    return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c;
}

// Whether name matches pattern: '*' any run of characters, '?' one
// character, ASCII letters ignoring case.
bool Matches(const std::u16string &pattern, const std::u16string &name) {
    size_t p = 0, n = 0, star = std::u16string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || Folded(pattern[p]) == Folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// Starts a search for a pattern in the file system's encoding.
HANDLE StartSearch(const std::string &posixPattern) {
    const size_t slash = posixPattern.find_last_of('/');
    const std::string folder = ResolvePosixPath(slash == std::string::npos ? std::string(".")
                                                : slash == 0               ? std::string("/")
                                                             : posixPattern.substr(0, slash));
    const std::string last =
        slash == std::string::npos ? posixPattern : posixPattern.substr(slash + 1);
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // "*.*" names every entry, those without a dot too, as on the platform.
    const std::u16string pattern = Utf8ToWide(last == "*.*" ? "*" : last);
    std::vector<std::string> names;
    while (dirent *entry = readdir(dir)) {
        if (!pattern.empty() && Matches(pattern, Utf8ToWide(entry->d_name)))
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    if (names.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(names.begin(), names.end());
    return AddHandle(std::make_shared<FindObject>(folder, std::move(names)));
}

// Fills the parts of both kinds of find data but the names.
template <class Data> void Describe(const std::string &path, const struct stat &st, Data *data) {
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = AttributesOf(path, st);
    data->ftCreationTime = FileTimeOf(st.st_ctim);
    data->ftLastAccessTime = FileTimeOf(st.st_atim);
    data->ftLastWriteTime = FileTimeOf(st.st_mtim);
    const auto size = static_cast<ULONGLONG>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
}

bool Fill(FindObject &find, WIN32_FIND_DATAA *data) {
    std::string name;
    struct stat st {};
    while (find.Next(name, st)) {
        const std::string ansi = FileSystemToAnsi(name);
        if (ansi.size() >= MAX_PATH)
            continue;
        Describe(find.Folder() + "/" + name, st, data);
        memcpy(data->cFileName, ansi.c_str(), ansi.size() + 1);
        return true;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
}

bool Fill(FindObject &find, WIN32_FIND_DATAW *data) {
    std::string name;
    struct stat st {};
    while (find.Next(name, st)) {
        const std::u16string wide = Utf8ToWide(name);
        if (wide.size() >= MAX_PATH)
            continue;
        Describe(find.Folder() + "/" + name, st, data);
        std::copy(wide.begin(), wide.end(), data->cFileName);
        return true;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
}

template <class Data> HANDLE FindFirst(const std::string &posixPattern, Data *data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = StartSearch(posixPattern);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    if (!Fill(*LookupHandleAs<FindObject>(handle), data)) {
        RemoveHandle(handle);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

template <class Data> BOOL FindNext(HANDLE handle, Data *data) {
    auto find = LookupHandleAs<FindObject>(handle);
    if (!find || !data) {
        SetLastError(find ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return Fill(*find, data) ? TRUE : FALSE;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA *lpFindFileData) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (LostCharacters(lpFileName, true))
        return INVALID_HANDLE_VALUE;
    return FindFirst(ToPosixPath(lpFileName), lpFindFileData);
}

extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW *lpFindFileData) {
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirst(PosixSeparators(WideToUtf8(lpFileName)), lpFindFileData);
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData) {
    return FindNext(hFindFile, lpFindFileData);
}

extern "C" BOOL WINAPI FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW *lpFindFileData) {
    return FindNext(hFindFile, lpFindFileData);
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!LookupHandleAs<FindObject>(hFindFile) || !RemoveHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
