#include "PathRules.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TextConvert.h"
#include "winbase.h"
#include "winnls.h"

namespace platform {
namespace {

bool IsAscii(const std::string &text) {
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

bool Exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entry of a directory equal to name ignoring ASCII case, or "" if none.
std::string FindIgnoringCase(const std::string &directory, const std::string &name) {
    DIR *dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent *entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

std::vector<std::string> SplitNames(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string AnsiToFileSystem(const char *ansi) {
    std::string text = ansi ? ansi : "";
    if (IsAscii(text) || GetACP() == CP_UTF8)
        return text;
    return AnsiToUtf8(text.c_str());
}

std::string FileSystemToAnsi(const std::string &name) {
    if (IsAscii(name) || GetACP() == CP_UTF8)
        return name;
    return Utf8ToAnsi(name);
}

bool FileSystemToAnsiExactly(const std::string &name, std::string &ansi) {
    if (IsAscii(name) || GetACP() == CP_UTF8) {
        ansi = name;
        return true;
    }
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                      static_cast<int>(name.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n > 0 ? n : 0), u'\0');
    BOOL lost = n <= 0;
    if (!lost) {
        MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
        const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, &lost);
        if (!lost && size > 0) {
            ansi.assign(static_cast<size_t>(size), '\0');
            WideCharToMultiByte(CP_ACP, 0, wide.data(), n, ansi.data(), size, nullptr, nullptr);
        }
    }
    if (lost) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    return true;
}

bool LostCharacters(const char *ansiPath, bool pattern) {
    if (!ansiPath)
        return false;
    const std::string text = ansiPath;
    bool lost =
        !IsAscii(text) && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                              static_cast<int>(text.size()), nullptr, 0) <= 0;
    if (!lost) {
        // '?' is never a trail byte of a double-byte character, so a byte
        // search finds the '?' characters; a pattern's last name may hold
        // them as wildcards.
        std::string searched = text;
        if (pattern) {
            searched = ToPosixPath(ansiPath);
            const size_t slash = searched.rfind('/');
            searched.resize(slash == std::string::npos ? 0 : slash);
        }
        lost = searched.find('?') != std::string::npos;
    }
    if (lost)
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return lost;
}

std::string PosixSeparators(std::string out) {
    // Only after conversion: in UTF-8 no byte of a character is a '\'.
    for (char &c : out) {
        if (c == '\\')
            c = '/';
    }
    if (out.size() >= 2 && isalpha(static_cast<unsigned char>(out[0])) && out[1] == ':' &&
        (out.size() == 2 || out[2] == '/'))
        out = out.size() == 2 ? "/" : out.substr(2);
    return out;
}

std::string ToPosixPath(const char *ansiPath) {
    return PosixSeparators(AnsiToFileSystem(ansiPath));
}

std::string ResolvePath(const char *ansiPath) {
    return ResolvePosixPath(ToPosixPath(ansiPath));
}

size_t PathCharacters(const std::string &path) {
    size_t count = 0;
    for (unsigned char c : path) {
        if ((c & 0xC0) != 0x80)
            ++count; // a character starts here
        if (c >= 0xF0)
            ++count; // outside the basic plane: two UTF-16 units
    }
    return count;
}

std::string ResolvePosixPath(const std::string &posix) {
    if (posix.empty() || Exists(posix))
        return posix;
    const bool absolute = posix[0] == '/';
    const bool trailing = posix.back() == '/';
    std::string resolved = absolute ? "/" : "";
    bool matching = true;
    for (const std::string &part : SplitNames(posix, '/')) {
        std::string next = resolved + part;
        if (matching && part != "." && part != ".." && !Exists(next)) {
            std::string match = FindIgnoringCase(resolved, part);
            if (match.empty())
                matching = false; // the rest does not exist; keep it as spelled
            else
                next = resolved + match;
        }
        resolved = next + "/";
    }
    if (!trailing && resolved.size() > 1)
        resolved.pop_back();
    return resolved;
}

std::string FullPath(const std::string &posixPath) {
    std::string path = posixPath;
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return {};
        path = std::string(cwd) + "/" + path;
    }
    const bool trailing = path.back() == '/';
    std::vector<std::string> parts;
    for (const std::string &part : SplitNames(path, '/')) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string &part : parts)
        out += "/" + part;
    if (out.empty() || trailing)
        out += "/";
    return out;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EAGAIN:
        return ERROR_LOCK_VIOLATION;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
    if (!buffer || size <= text.size())
        return static_cast<DWORD>(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

DWORD CopyOutPath(const std::string &path, LPSTR buffer, DWORD size) {
    std::string ansi;
    if (!FileSystemToAnsiExactly(path, ansi))
        return 0;
    return CopyOut(ansi, buffer, size);
}

void SetErrorFromErrno() {
    SetLastError(ErrorFromErrno(errno));
}

std::string HomeDirectory(bool create) {
    std::string home;
    if (const char *env = getenv("QUILLBAY_HOME"); env && *env) {
        home = env;
    } else {
        std::string data;
        if (const char *xdg = getenv("XDG_DATA_HOME"); xdg && *xdg) {
            data = xdg;
        } else {
            const char *user = getenv("HOME");
            if (!user || !*user) {
                passwd *pw = getpwuid(getuid());
                user = pw ? pw->pw_dir : "/tmp";
            }
            data = std::string(user) + "/.local/share";
        }
        home = data + "/quillbay";
    }
    // Make every missing directory of the chain.
    for (size_t i = 1; create && i <= home.size(); ++i) {
        if (i == home.size() || home[i] == '/')
            mkdir(home.substr(0, i).c_str(), 0700);
    }
    return home;
}

} // namespace platform
