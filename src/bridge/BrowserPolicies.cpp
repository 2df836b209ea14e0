#include "BrowserPolicies.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BridgeFiles.h"
#include "OriginList.h"

namespace bridge {

using nlohmann::json;

namespace {

constexpr size_t kLargestFile = 1 << 20; // a policy file is small; larger is not one

std::string FolderOf(const std::string &path) {
    return path.substr(0, path.rfind('/'));
}

enum class ReadResult { Read, Missing, Failed };

// A file's text; Failed for one that cannot be read or is too large to be a
// policy file.
ReadResult ReadText(const std::string &path, std::string &text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    text.clear();
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < kLargestFile)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return n == 0 ? ReadResult::Read : ReadResult::Failed;
}

// Makes the folders of `folder` below the root that are missing (mode 0755:
// every account's browser reads them).
bool MakeFolders(const std::string &root, const std::string &folder) {
    for (size_t at = root.size() + 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0755) == 0)
            chmod(part.c_str(), 0755); // whatever the umask
    }
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Holds the folder's lock while a file in it is read, changed and written,
// so two runs of the tool never lose each other's origin.
class FolderLock {
public:
    explicit FolderLock(const std::string &folder)
        : m_fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~FolderLock() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int m_fd;
};

// The host of an origin as Firefox compares it: no scheme, port or brackets.
std::string HostOf(const std::string &origin) {
    std::string rest = origin.substr(origin.find("://") + 3);
    if (!rest.empty() && rest.front() == '[')
        return rest.substr(1, rest.find(']') - 1);
    return rest.substr(0, rest.find(':'));
}

// What a file of ours holds: the origins, and in a Chromium file any other
// policy someone put there, kept as it is.
struct Contents {
    std::vector<std::string> origins;
    json rest = json::object();
};

bool ParseChromium(const std::string &text, Contents &contents) {
    json document = json::parse(text, nullptr, false);
    if (!document.is_object())
        return false;
    for (const json &entry : document.value(kLoopbackAllowedPolicy, json::array())) {
        std::string origin;
        if (entry.is_string() && NormalizeOrigin(entry.get<std::string>(), origin))
            contents.origins.push_back(origin);
    }
    document.erase(kLoopbackAllowedPolicy);
    document.erase(kInsecureOriginPolicy); // made again from the origins
    contents.rest = document;
    return true;
}

std::string RenderChromium(const Contents &contents) {
    json document = contents.rest, insecure = json::array();
    document[kLoopbackAllowedPolicy] = contents.origins;
    for (const std::string &origin : contents.origins) {
        if (origin.rfind("http://", 0) == 0)
            insecure.push_back(origin);
    }
    if (!insecure.empty())
        document[kInsecureOriginPolicy] = insecure;
    return document.dump(2) + "\n";
}

constexpr const char *kOriginLine = "// origin ";

bool ParseFirefox(const std::string &text, Contents &contents) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        std::string origin;
        if (line.rfind(kOriginLine, 0) == 0 &&
            NormalizeOrigin(line.substr(strlen(kOriginLine)), origin))
            contents.origins.push_back(origin);
        at = end + 1;
    }
    return true;
}

std::string RenderFirefox(const Contents &contents) {
    std::string text = "// The sites the administrator allowed to use quillbay-bridge on this "
                       "computer\n// (quillbay-bridge --allow ORIGIN --machine), exempt from "
                       "local network\n// access checks. Written by quillbay-bridge; "
                       "edits are replaced.\n";
    std::vector<std::string> hosts;
    for (const std::string &origin : contents.origins) {
        text += kOriginLine + origin + "\n";
        const std::string host = HostOf(origin);
        if (std::find(hosts.begin(), hosts.end(), host) == hosts.end())
            hosts.push_back(host);
    }
    std::string list;
    for (const std::string &host : hosts)
        list += (list.empty() ? "" : ",") + host; // hosts hold no quote or backslash
    return text + "pref(\"" + kFirefoxSkipDomainsPref + "\", \"" + list + "\");\n";
}

bool Parse(PolicyFormat format, const std::string &text, Contents &contents) {
    return format == PolicyFormat::Chromium ? ParseChromium(text, contents)
                                            : ParseFirefox(text, contents);
}

std::string Render(PolicyFormat format, const Contents &contents) {
    return format == PolicyFormat::Chromium ? RenderChromium(contents) : RenderFirefox(contents);
}

// The other files of the folder that end in `suffix`.
std::vector<std::string> Neighbours(const std::string &path, const char *suffix) {
    std::vector<std::string> files;
    const std::string folder = FolderOf(path);
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return files;
    const size_t length = strlen(suffix);
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name, full = folder + "/" + name;
        if (name[0] != '.' && full != path && name.size() > length &&
            name.compare(name.size() - length, length, suffix) == 0)
            files.push_back(full);
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

// An administrator's file that sets the same list as ours: the browser
// takes one of the two lists, so the origin belongs in theirs too.
void NoteOverrides(const std::string &root, const BrowserPolicyFile &file, const std::string &path,
                   const std::string &origin, std::vector<std::string> &notes) {
    std::vector<std::pair<std::string, std::string>> lists; // a file, the name it sets
    if (file.format == PolicyFormat::Chromium) {
        for (const std::string &other : Neighbours(path, ".json")) {
            lists.emplace_back(other, kLoopbackAllowedPolicy);
            if (origin.rfind("http://", 0) == 0)
                lists.emplace_back(other, kInsecureOriginPolicy);
        }
    } else {
        for (const std::string &other : Neighbours(path, ".js"))
            lists.emplace_back(other, kFirefoxSkipDomainsPref);
        for (const char *policies : kFirefoxPoliciesFiles)
            lists.emplace_back((root == "/" ? "" : root) + policies, "SkipDomains");
    }
    std::string text;
    for (const auto &[other, name] : lists) {
        if (ReadText(other, text) == ReadResult::Read && text.find(name) != std::string::npos)
            notes.push_back(other + " sets " + name + " too, and " + file.browser +
                            " takes one list: name " +
                            (file.format == PolicyFormat::Firefox ? HostOf(origin) : origin) +
                            " there as well");
    }
}

} // namespace

BrowserPolicies::BrowserPolicies() {
    const char *root = getenv("QUILLBAY_POLICY_ROOT");
    m_root = root && *root ? root : "/";
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
}

BrowserPolicies::BrowserPolicies(std::string root) : m_root(std::move(root)) {}

BrowserPolicies::Outcome BrowserPolicies::Allow(const std::string &origin) {
    Outcome outcome;
    for (const BrowserPolicyFile &file : kBrowserPolicyFiles)
        Update(file, origin, true, outcome);
    return outcome;
}

BrowserPolicies::Outcome BrowserPolicies::Remove(const std::string &origin) {
    Outcome outcome;
    for (const BrowserPolicyFile &file : kBrowserPolicyFiles)
        Update(file, origin, false, outcome);
    return outcome;
}

void BrowserPolicies::Update(const BrowserPolicyFile &file, const std::string &origin, bool add,
                             Outcome &outcome) const {
    const std::string path = (m_root == "/" ? "" : m_root) + file.path, folder = FolderOf(path);
    auto fail = [&](const std::string &why) {
        outcome.ok = false;
        outcome.errors.push_back(path + ": " + why);
    };
    if (add && !MakeFolders(m_root, folder))
        return fail(strerror(errno));
    if (!add && access(path.c_str(), F_OK) != 0)
        return; // nothing to take out
    FolderLock lock(folder);
    std::string text;
    Contents contents;
    switch (ReadText(path, text)) {
    case ReadResult::Missing:
        break;
    case ReadResult::Failed:
        return fail("cannot read it (or too large for a policy file)");
    case ReadResult::Read:
        if (!Parse(file.format, text, contents))
            return fail("not a policy file quillbay can read (not JSON): mend or remove it");
    }
    auto found = std::find(contents.origins.begin(), contents.origins.end(), origin);
    if (add)
        NoteOverrides(m_root, file, path, origin, outcome.notes);
    if (add == (found != contents.origins.end()))
        return; // as it should be already
    if (add)
        contents.origins.push_back(origin);
    else
        contents.origins.erase(found);
    if (contents.origins.empty() && contents.rest.empty()) {
        // The folders stay: they may be the administrator's (purging the
        // package removes those left empty).
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            fail(strerror(errno));
        return;
    }
    if (!WriteWholeFile(path, Render(file.format, contents), 0644, folder + "/.quillbay.part"))
        fail(strerror(errno));
}

std::vector<BrowserPolicies::Written> BrowserPolicies::List() const {
    std::vector<Written> written;
    for (const BrowserPolicyFile &file : kBrowserPolicyFiles) {
        const std::string path = (m_root == "/" ? "" : m_root) + file.path;
        std::string text;
        Contents contents;
        if (ReadText(path, text) == ReadResult::Read && Parse(file.format, text, contents))
            written.push_back({&file, path, contents.origins});
    }
    return written;
}

} // namespace bridge
