#include "JobLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../kernel/PathRules.h"

namespace platform::print {
namespace {

// A field's text on one line: tabs, line ends and other control characters
// (a title may hold anything) become spaces.
std::string OnOneLine(const std::string &text) {
    std::string line = text;
    for (char &c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return line;
}

std::string LineOf(const JobRecord &job) {
    std::string line = std::to_string(job.time) + "\t" + OnOneLine(job.printer) + "\t" +
                       OnOneLine(job.where) + "\t" + OnOneLine(job.title);
    if (job.failed)
        line += "\tstate=failed\terror=" + std::to_string(job.error);
    if (!job.kept.empty())
        line += "\tkept=" + OnOneLine(job.kept) + "\tpaper=" + std::to_string(job.paperWidth) +
                "x" + std::to_string(job.paperLength);
    if (job.reprintOf > 0)
        line += "\treprint=" + std::to_string(job.reprintOf);
    return line + "\n";
}

// Takes the fields after the title: "name=value" each.
void ReadExtras(const std::string &extras, JobRecord &job) {
    size_t start = 0;
    while (start < extras.size()) {
        size_t end = extras.find('\t', start);
        if (end == std::string::npos)
            end = extras.size();
        const std::string field = extras.substr(start, end - start);
        const std::string value = field.substr(field.find('=') + 1);
        if (field.rfind("state=", 0) == 0)
            job.failed = value == "failed";
        else if (field.rfind("error=", 0) == 0)
            job.error = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        else if (field.rfind("kept=", 0) == 0)
            job.kept = value;
        else if (field.rfind("paper=", 0) == 0)
            sscanf(value.c_str(), "%dx%d", &job.paperWidth, &job.paperLength);
        else if (field.rfind("reprint=", 0) == 0)
            job.reprintOf = atoi(value.c_str());
        start = end + 1;
    }
}

bool ParseLine(const std::string &text, JobRecord &job) {
    const size_t a = text.find('\t'), b = text.find('\t', a + 1), c = text.find('\t', b + 1);
    if (a == std::string::npos || b == std::string::npos || c == std::string::npos)
        return false;
    job.time = strtol(text.c_str(), nullptr, 10);
    job.printer = text.substr(a + 1, b - a - 1);
    job.where = text.substr(b + 1, c - b - 1);
    // Lines of older versions end with the title; newer ones add fields.
    const size_t d = text.find("\tstate=", c + 1) != std::string::npos
                         ? text.find("\tstate=", c + 1)
                         : text.find("\treprint=", c + 1);
    job.title = text.substr(c + 1, d == std::string::npos ? std::string::npos : d - c - 1);
    if (d != std::string::npos)
        ReadExtras(text.substr(d + 1), job);
    const size_t number = job.where.find(", job ");
    if (job.where.rfind("CUPS queue ", 0) == 0 && number != std::string::npos)
        job.cupsJob = atoi(job.where.c_str() + number + 6);
    if (job.where.rfind("printer ", 0) == 0 && number != std::string::npos) {
        job.printerUri = job.where.substr(8, number - 8);
        job.printerJob = atoi(job.where.c_str() + number + 6);
    }
    return true;
}

// The number of lines of the log (read while it is locked).
int LinesOf(int fd) {
    int lines = 0;
    char buffer[65536];
    off_t offset = 0;
    ssize_t n;
    while ((n = pread(fd, buffer, sizeof buffer, offset)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            lines += buffer[i] == '\n';
        offset += n;
    }
    return lines;
}

// Writes the line at the end of the log. The lock keeps the undoing of a
// short write (the disk filled mid-line) from cutting another's line.
bool AppendLine(int fd, const std::string &line, int *number) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    struct stat before {};
    bool whole = fstat(fd, &before) == 0;
    if (number)
        *number = LinesOf(fd) + 1;
    size_t done = 0;
    while (whole && done < line.size()) {
        const ssize_t written = write(fd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            whole = false;
        else
            done += static_cast<size_t>(written);
    }
    // Shortening a file needs no space: a part written is taken back.
    if (!whole && done > 0)
        (void)!ftruncate(fd, before.st_size);
    flock(fd, LOCK_UN);
    return whole;
}

} // namespace

std::string JobLog::Path() {
    return HomeDirectory() + "/print-jobs.log";
}

bool JobLog::Append(const JobRecord &job, int *number) {
    JobRecord entry = job;
    if (!entry.time)
        entry.time = static_cast<long>(time(nullptr));
    const int fd = open(Path().c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = AppendLine(fd, LineOf(entry), number);
    close(fd);
    return written;
}

std::vector<JobRecord> JobLog::Read() {
    std::vector<JobRecord> jobs;
    FILE *file = fopen(Path().c_str(), "re");
    if (!file)
        return jobs;
    char *line = nullptr;
    size_t capacity = 0;
    int number = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, file)) > 0) {
        ++number;
        std::string text(line, static_cast<size_t>(length));
        if (text.back() != '\n')
            continue; // a line still being written
        text.pop_back();
        JobRecord job;
        if (!ParseLine(text, job))
            continue;
        job.number = number;
        jobs.push_back(job);
    }
    free(line);
    fclose(file);
    return jobs;
}

} // namespace platform::print
