#include "FileAttributes.h"

#include <cerrno>
#include <sys/xattr.h>

#include "PathRules.h"

namespace platform {
namespace {

constexpr const char *kAttributeName = "user.quillbay.attributes";
constexpr DWORD kStoredAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

DWORD StoredAttributes(const std::string &path) {
    DWORD value = 0;
    if (getxattr(path.c_str(), kAttributeName, &value, sizeof value) != sizeof value)
        return 0;
    return value & kStoredAttributes;
}

} // namespace

bool StoreAttributes(const std::string &path, DWORD attributes) {
    attributes &= kStoredAttributes;
    if (attributes == 0) {
        if (removexattr(path.c_str(), kAttributeName) == 0 || errno == ENODATA || errno == ENOTSUP)
            return true;
        return false;
    }
    return setxattr(path.c_str(), kAttributeName, &attributes, sizeof attributes, 0) == 0;
}

DWORD AttributesOf(const std::string &path, const struct stat &st) {
    DWORD attributes = StoredAttributes(path);
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & S_IWUSR) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeOf(const timespec &t) {
    ULONGLONG ticks = (static_cast<ULONGLONG>(t.tv_sec) + 11644473600ull) * 10000000ull +
                      static_cast<ULONGLONG>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool PathTooLong(const std::string &path) {
    // Counted in characters, as the platform counts them, not in the bytes
    // of their UTF-8 form: a Chinese name takes three bytes a character.
    if (PathCharacters(FullPath(path)) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return true;
    }
    return false;
}

DWORD MissingError(const std::string &path) {
    std::string directory = path;
    size_t slash = directory.find_last_of('/');
    if (slash == std::string::npos)
        return ERROR_FILE_NOT_FOUND;
    directory.resize(slash == 0 ? 1 : slash);
    struct stat st {};
    return stat(directory.c_str(), &st) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

} // namespace platform
