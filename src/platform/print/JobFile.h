// A job's document on its way into the print folder: written under a
// temporary name there, flushed, and only then given its name, so a file
// of a job's name is always the whole document. A job whose file could
// not be written leaves nothing behind.
//
// The temporary name, ".job-PID-RANDOM.pdf.part", is new each time (a name
// that is taken, left by a process that died, is never reused), and the
// file is locked (flock) while its job lasts, so RemoveLeftovers knows the
// partial files of processes that are gone from those of jobs under way,
// whichever process, machine or container shares the folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../kernel/windef.h"

namespace platform::print {

class JobFile {
public:
    // Makes a new file under a temporary name in folder; Error() tells why
    // when it could not.
    explicit JobFile(const std::string &folder);
    // Removes a file that was never given its name.
    ~JobFile();
    JobFile(const JobFile &) = delete;
    JobFile &operator=(const JobFile &) = delete;

    // The first failure as the platform's error code (ERROR_DISK_FULL,
    // ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED...), ERROR_SUCCESS while
    // there is none.
    DWORD Error() const { return m_error; }
    const std::string &Folder() const { return m_folder; }
    // Where the file is: its temporary name, its own once committed.
    const std::string &Path() const { return m_path; }

    // Appends bytes: all of them, or false (and Error says why); after a
    // failure every write fails.
    bool Write(const unsigned char *data, size_t size);
    // The sink a printer's document is written through (closure: the file).
    static bool Sink(void *closure, const unsigned char *data, unsigned int length);
    // Flushes what was written to the disk and closes the file: false when a
    // write failed, the flush failed or the file left its folder meanwhile.
    bool Close();
    // Gives the closed file its name, a path in its folder that no file has
    // yet, and flushes the folder: false (with Error) when it could not, and
    // the file is then removed.
    bool Commit(const std::string &path);
    // Removes the file (a job that ends without a document).
    void Discard();

    // Removes the partial files in `folder` that no job holds: those of
    // processes that are gone, and those unchanged for a while whose lock
    // nobody holds (their process's number now belongs to another). The
    // number removed.
    static int RemoveLeftovers(const std::string &folder);

private:
    void Fail(int error);
    bool Flush();
    void Unlock();

    std::string m_folder;
    std::string m_path; // empty when no file was made
    int m_fd = -1;
    int m_lock = -1; // holds the file's lock from its making to its end
    // A document comes in many small pieces: they reach the file in blocks.
    std::vector<unsigned char> m_buffer;
    DWORD m_error = 0;
    bool m_committed = false;
};

} // namespace platform::print
