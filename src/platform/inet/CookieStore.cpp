#include "CookieStore.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../kernel/PathRules.h"
#include "InternetSettings.h"

namespace platform::inet {
namespace {

thread_local std::string t_partition;

// The file: this header, then one cookie a line, its fields separated by
// tabs (partition, domain, host-only, path, secure, HttpOnly, expiry in
// seconds, creation in microseconds, name, value), each with '%', tab, CR
// and LF percent-encoded.
constexpr std::string_view kHeader = "# quillbay cookies 1\n";
constexpr size_t kFields = 10;
constexpr off_t kMaxFileBytes = 64 << 20;

int64_t NowSeconds() {
    return static_cast<int64_t>(time(nullptr));
}

std::string Escape(const std::string &field) {
    std::string out;
    for (char c : field) {
        if (c == '%' || c == '\t' || c == '\r' || c == '\n') {
            static const char kHex[] = "0123456789ABCDEF";
            out += {'%', kHex[(c >> 4) & 15], kHex[c & 15]};
        } else {
            out += c;
        }
    }
    return out;
}

std::string LineOf(const std::string &partition, const Cookie &c) {
    std::string line = Escape(partition);
    for (const std::string &field :
         {c.domain, std::string(c.hostOnly ? "1" : "0"), c.path, std::string(c.secure ? "1" : "0"),
          std::string(c.httpOnly ? "1" : "0"), std::to_string(c.expires), std::to_string(c.created),
          c.name, c.value})
        line += "\t" + Escape(field);
    return line + "\n";
}

bool ParseLine(std::string_view line, std::string &partition, Cookie &c) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1)
        fields.push_back(PercentDecoded(line.substr(start, tab - start)));
    fields.push_back(PercentDecoded(line.substr(start)));
    if (fields.size() != kFields || fields[1].empty() || fields[3].empty() || fields[8].empty())
        return false;
    char *end = nullptr;
    c = Cookie();
    partition = fields[0];
    c.domain = fields[1];
    c.hostOnly = fields[2] == "1";
    c.path = fields[3];
    c.secure = fields[4] == "1";
    c.httpOnly = fields[5] == "1";
    c.expires = strtoll(fields[6].c_str(), &end, 10);
    if (*end)
        return false;
    c.created = c.used = strtoll(fields[7].c_str(), &end, 10);
    if (*end)
        return false;
    c.name = fields[8];
    c.value = fields[9];
    c.persistent = true;
    return true;
}

// The file's lock, held while it is read, changed and replaced.
class FileLock {
public:
    explicit FileLock(const std::string &path)
        : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        while (m_fd >= 0 && flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (m_fd >= 0)
            close(m_fd); // lets the lock go
    }
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

} // namespace

void SetCookiePartitionOfThisThread(const std::string &partition) {
    t_partition = partition;
}

const std::string &CookiePartitionOfThisThread() {
    return t_partition;
}

CookieStore &CookieStore::Instance() {
    static CookieStore store;
    return store;
}

std::string CookieStore::FilePath(bool create) const {
    return HomeDirectory(create) + "/cookies";
}

CookieStore::FileState CookieStore::StateOfFile() const {
    struct stat st {};
    FileState state;
    if (stat(FilePath().c_str(), &st) == 0) {
        state.exists = true;
        state.inode = st.st_ino;
        state.size = static_cast<unsigned long long>(st.st_size);
        state.modified =
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return state;
}

std::map<std::string, std::vector<Cookie>> CookieStore::ReadFile() const {
    std::map<std::string, std::vector<Cookie>> all;
    const int fd = open(FilePath().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return all;
    struct stat st {};
    std::string text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes) {
        text.resize(static_cast<size_t>(st.st_size));
        const ssize_t n = read(fd, text.data(), text.size());
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    close(fd);
    const int64_t now = NowSeconds();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size(); // a last line cut short is no cookie
        const std::string_view line(text.data() + start, end - start);
        std::string partition;
        Cookie cookie;
        if (end < text.size() && !line.empty() && line[0] != '#' &&
            ParseLine(line, partition, cookie) && cookie.expires > now)
            all[partition].push_back(std::move(cookie));
        start = end + 1;
    }
    return all;
}

bool CookieStore::WriteFile(const std::map<std::string, std::vector<Cookie>> &all) const {
    std::string text(kHeader);
    const int64_t now = NowSeconds();
    for (const auto &[partition, cookies] : all) {
        for (const Cookie &c : cookies) {
            if (c.persistent && c.expires > now)
                text += LineOf(partition, c);
        }
    }
    const std::string path = FilePath();
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}

void CookieStore::ReplacePersistent(std::map<std::string, std::vector<Cookie>> persistent) {
    for (auto &[partition, jar] : m_jars) {
        auto &cookies = jar.Cookies();
        std::erase_if(cookies, [](const Cookie &c) { return c.persistent; });
    }
    for (auto &[partition, cookies] : persistent) {
        auto &mine = m_jars[partition].Cookies();
        for (Cookie &c : cookies) {
            // This process's own session cookie of the same key stays.
            if (std::none_of(mine.begin(), mine.end(),
                             [&](const Cookie &own) { return own.SameKey(c); }))
                mine.push_back(std::move(c));
        }
    }
}

void CookieStore::Refresh() {
    const FileState now = StateOfFile();
    if (m_loaded && now == m_seen)
        return;
    ReplacePersistent(ReadFile());
    m_seen = now;
    m_loaded = true;
}

bool CookieStore::Save(const std::string &partition, const CookieJar::Change &change) {
    const std::string path = FilePath(true);
    FileLock lock(path + ".lock");
    if (!lock.Held())
        return false;
    std::map<std::string, std::vector<Cookie>> all = ReadFile();
    std::vector<Cookie> &cookies = all[partition];
    auto drop = [&](const Cookie &gone) {
        std::erase_if(cookies, [&](const Cookie &c) { return c.SameKey(gone); });
    };
    for (const Cookie &gone : change.removed)
        drop(gone);
    if (change.stored) {
        drop(*change.stored);
        if (change.stored->persistent)
            cookies.push_back(*change.stored);
    }
    const bool written = WriteFile(all);
    m_seen = StateOfFile();
    ReplacePersistent(std::move(all));
    return written;
}

std::string CookieStore::HeaderFor(const std::string &partition, const CookieUrl &to,
                                   bool forHttp) {
    std::lock_guard<std::mutex> guard(m_lock);
    Refresh();
    auto jar = m_jars.find(partition);
    return jar == m_jars.end() ? std::string() : jar->second.Header(to, forHttp, NowSeconds());
}

bool CookieStore::Take(const std::string &partition, const CookieUrl &from,
                       std::string_view setCookie, bool fromHttp) {
    const int64_t now = NowSeconds();
    Cookie cookie;
    if (!ParseSetCookie(setCookie, from, now, cookie))
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    Refresh();
    const CookieJar::Change change = m_jars[partition].Store(cookie, from, fromHttp, now);
    if (change.refused)
        return false;
    return !change.Persistent() || Save(partition, change);
}

} // namespace platform::inet
