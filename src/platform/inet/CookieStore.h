// The Internet API's cookie store, as the platform keeps one: every request
// sends the cookies that match it and keeps those its replies set, unless
// the request asked for INTERNET_FLAG_NO_COOKIES. Session cookies live as
// long as the process; persistent ones (Expires or Max-Age) are kept in the
// account's data folder, in the file "cookies" (mode 0600, written whole
// under a temporary name and renamed, under a lock so that processes
// sharing it lose none of each other's), read again whenever another
// process changed it.
//
// The store is partitioned: the cookies of one partition never go with a
// request of another. A process's own partition is "" (the account's); the
// bridge gives the apartment of each page session its page's origin
// (SetCookiePartitionOfThisThread), so one site's objects share their
// cookies and never send another site's. A session takes the partition of
// the thread that opened it.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "CookieJar.h"

namespace platform::inet {

// The partition the sessions this thread opens use, and that this thread's
// InternetGetCookieA and InternetSetCookieA reach.
void SetCookiePartitionOfThisThread(const std::string &partition);
const std::string &CookiePartitionOfThisThread();

class CookieStore {
public:
    static CookieStore &Instance();

    // The Cookie header's value for a request, "" when no cookie matches.
    // forHttp is false for the application's own InternetGetCookieA, which
    // never sees an HttpOnly cookie.
    std::string HeaderFor(const std::string &partition, const CookieUrl &to, bool forHttp);
    // Takes a Set-Cookie value received from `from`; false when it was
    // ignored (or could not be kept).
    bool Take(const std::string &partition, const CookieUrl &from, std::string_view setCookie,
              bool fromHttp);

private:
    struct FileState {
        bool exists = false;
        unsigned long long inode = 0, size = 0;
        long long modified = 0;
        bool operator==(const FileState &) const = default;
    };

    // The file in the account's data folder, which is made when `create`.
    std::string FilePath(bool create = false) const;
    FileState StateOfFile() const;
    // Replaces the persistent cookies in memory with the file's when another
    // process changed it (under m_lock).
    void Refresh();
    // Loads the persistent cookies of every partition from the file.
    std::map<std::string, std::vector<Cookie>> ReadFile() const;
    // Applies a change of persistent cookies to the file (under its lock,
    // over what other processes wrote) and takes the file's cookies back.
    bool Save(const std::string &partition, const CookieJar::Change &change);
    bool WriteFile(const std::map<std::string, std::vector<Cookie>> &all) const;
    void ReplacePersistent(std::map<std::string, std::vector<Cookie>> persistent);

    std::mutex m_lock;
    std::map<std::string, CookieJar> m_jars;
    FileState m_seen;
    bool m_loaded = false;
};

} // namespace platform::inet
