// How jobs of the PDF printer end when their file cannot be written: on a
// small file system of the test's own, filled on purpose, made read-only,
// or its folder removed mid-job. A job's file is whole or absent, the job
// log says why, the user is told, and a job prints once there is room
// again. The job log itself keeps whole lines on a full disk and when many
// processes end jobs at once.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include "platform/print/JobFile.h"
#include "platform/print/JobLog.h"
#include "platform/user/UiHost.h"
#include "platform/win32.h"
#include "testing/PdfPage.h"
#include "testing/SmallDisk.h"
#include "testing/TestSupport.h"

using platform::print::JobLog;
using platform::print::JobRecord;
using testing_support::ScopedEnvironment;

namespace {

// A job of one A5 page with a line and some text; the result of EndDoc
// (or of StartDocA when it already failed) and the last error.
int PrintJob(const std::string &title, DWORD &error) {
    DEVMODEA dm{};
    dm.dmPaperWidth = 1480;
    dm.dmPaperLength = 2100;
    dm.dmPrintQuality = 600;
    HDC dc = CreateDCA("quillbay", "Quillbay PDF", "", &dm);
    DOCINFOA info{sizeof(DOCINFOA), title.c_str(), nullptr, nullptr, 0};
    SetLastError(0xdeadbeef);
    int result = StartDocA(dc, &info) > 0 ? 1 : 0;
    error = GetLastError();
    if (result) {
        StartPage(dc);
        MoveToEx(dc, 100, 200, nullptr);
        LineTo(dc, 2000, 200);
        TextOutA(dc, 100, 400, title.c_str(), static_cast<int>(title.size()));
        EndPage(dc);
        SetLastError(0xdeadbeef);
        result = EndDoc(dc);
        error = GetLastError();
    }
    DeleteDC(dc);
    return result;
}

std::string Listing(const std::string &dir) {
    return testing_support::Run({"/bin/ls", "-A", dir}).output;
}

class JobEnd : public ::testing::Test {
protected:
    void SetUp() override {
        m_host = std::make_unique<platform::ScriptedUiHost>();
        m_ui = m_host.get();
        platform::UiHost::Install(std::move(m_host));
    }
    void TearDown() override { platform::UiHost::Install(nullptr); }

    // The small disk for the test, with a print folder on it.
    void MountDisk(size_t bytes) {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to mount a file system of its own";
        m_disk = std::make_unique<testing_support::SmallDisk>(bytes);
        std::string why;
        ASSERT_TRUE(m_disk->Ready(why)) << why;
        m_prints = m_disk->Path() + "/prints";
        mkdir(m_prints.c_str(), 0755);
        m_printDir = std::make_unique<ScopedEnvironment>("QUILLBAY_PRINT_DIR", m_prints);
    }

    std::unique_ptr<platform::ScriptedUiHost> m_host;
    platform::ScriptedUiHost *m_ui = nullptr;
    std::unique_ptr<testing_support::SmallDisk> m_disk;
    std::unique_ptr<ScopedEnvironment> m_printDir;
    std::string m_prints;
};

} // namespace

TEST_F(JobEnd, AJobOnAFullDiskLeavesNoFileSaysWhyAndPrintsOnceThereIsRoom) {
    MountDisk(1 << 20);
    m_disk->Fill();
    DWORD error = 0;
    EXPECT_EQ(PrintJob(testing_support::Ansi("满盘 full"), error), 0);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(Listing(m_prints), "") << "nothing under a job's name, no partial file";
    const JobRecord failed = JobLog::Read().back();
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(failed.error, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(failed.where.rfind("failed: There is not enough space on the disk. "
                                 "(ERROR_DISK_FULL), writing in " +
                                     m_prints,
                                 0),
              0u)
        << failed.where;
    const auto notices = m_ui->Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].title, "Not printed: 满盘 full");
    EXPECT_NE(notices[0].text.find("There is not enough space on the disk."), std::string::npos)
        << notices[0].text;

    m_disk->Free();
    EXPECT_EQ(PrintJob(testing_support::Ansi("满盘 full"), error), 1);
    const JobRecord printed = JobLog::Read().back();
    EXPECT_FALSE(printed.failed);
    EXPECT_EQ(Listing(m_prints), printed.where.substr(m_prints.size() + 1) + "\n");
    testing_support::PdfPage page(printed.where, 100);
    EXPECT_TRUE(page.Ok()) << printed.where;
    EXPECT_EQ(m_ui->Notices().size(), 1u);
}

TEST_F(JobEnd, AFolderThatTakesNoFileOrGoesMidJobFailsTheJob) {
    MountDisk(1 << 20);
    ASSERT_TRUE(m_disk->SetReadOnly(true));
    DWORD error = 0;
    EXPECT_EQ(PrintJob("read-only", error), 0);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(JobLog::Read().back().where.find("Access is denied. (ERROR_ACCESS_DENIED)"),
              std::string::npos);
    ASSERT_TRUE(m_disk->SetReadOnly(false));

    // The folder removed while the page is being made.
    HDC dc = CreateDCA("quillbay", "Quillbay PDF", "", nullptr);
    DOCINFOA info{sizeof(DOCINFOA), "removed", nullptr, nullptr, 0};
    ASSERT_GT(StartDocA(dc, &info), 0);
    StartPage(dc);
    testing_support::RemoveTree(m_prints);
    EndPage(dc);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(EndDoc(dc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    DeleteDC(dc);
    EXPECT_EQ(Listing(m_disk->Path()), "");
    EXPECT_NE(JobLog::Read().back().where.find("(ERROR_PATH_NOT_FOUND)"), std::string::npos);
    EXPECT_EQ(m_ui->Notices().size(), 2u);
}

TEST_F(JobEnd, TheLogKeepsWholeLinesWhenTheDiskFills) {
    MountDisk(256 << 10);
    ScopedEnvironment home("QUILLBAY_HOME", m_disk->Path() + "/home");
    JobRecord job;
    job.printer = "Quillbay PDF";
    job.where = "/somewhere/a.pdf";
    job.title = "line\twith a tab and\na line end " + std::string(1500, 'x');
    ASSERT_TRUE(JobLog::Append(job));
    m_disk->Fill();
    // The log's last page has room for a line or two more; then the disk
    // is full and a line is written whole or not at all.
    int appended = 1, refused = 0;
    while (refused < 3 && appended < 100)
        JobLog::Append(job) ? ++appended : ++refused;
    EXPECT_EQ(refused, 3);
    const std::string log = testing_support::ReadFile(JobLog::Path());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), appended);
    const std::vector<JobRecord> jobs = JobLog::Read();
    ASSERT_EQ(jobs.size(), static_cast<size_t>(appended));
    EXPECT_EQ(jobs.back().title, "line with a tab and a line end " + std::string(1500, 'x'));
    m_disk->Free();
    EXPECT_TRUE(JobLog::Append(job));
    EXPECT_EQ(JobLog::Read().size(), static_cast<size_t>(appended + 1));
}

TEST_F(JobEnd, ProcessesEndingJobsAtOnceEachKeepTheirLines) {
    // On a file system in memory: each job's flushes of its file and folder
    // cost nothing there.
    MountDisk(64 << 20);
    const std::string home = m_disk->Path() + "/home";
    ScopedEnvironment homeValue("QUILLBAY_HOME", home);
    ScopedEnvironment printer("QUILLBAY_PRINTER", "Quillbay PDF");
    // Fewer jobs each under a sanitizer (JOB_END_JOBS), where each is slower.
    constexpr int kProcesses = 8;
    const int kJobs = getenv("JOB_END_JOBS") ? atoi(getenv("JOB_END_JOBS")) : 200;
    std::vector<int> workers;
    for (int i = 0; i < kProcesses; ++i)
        workers.push_back(testing_support::Spawn(
            {JOB_WORKER_PATH, "worker" + std::to_string(i), std::to_string(kJobs)}, nullptr));
    for (int pid : workers)
        EXPECT_EQ(testing_support::Wait(pid), 0);
    const std::string log = testing_support::ReadFile(home + "/print-jobs.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kProcesses * kJobs);
    std::set<std::string> titles, files;
    for (const JobRecord &job : JobLog::Read()) {
        EXPECT_FALSE(job.failed) << job.where;
        titles.insert(job.title.substr(0, job.title.find(' ', 8)));
        files.insert(job.where);
    }
    EXPECT_EQ(titles.size(), static_cast<size_t>(kProcesses * kJobs));
    EXPECT_EQ(files.size(), static_cast<size_t>(kProcesses * kJobs));
    EXPECT_EQ(testing_support::ListFiles(m_prints, ".pdf").size(),
              static_cast<size_t>(kProcesses * kJobs));
}

TEST_F(JobEnd, PartialFilesOfProcessesThatAreGoneGoAndThoseOfJobsUnderWayStay) {
    const std::string prints = testing_support::MakeTempDir("job-leftovers-");
    ScopedEnvironment printDir("QUILLBAY_PRINT_DIR", prints);
    const int gone = testing_support::Spawn({"/bin/true"}, nullptr);
    testing_support::Wait(gone);
    const std::string own = prints + "/.job-" + std::to_string(getpid());
    // Left by a process that is gone; by one that had this process's number
    // before it, an hour ago; and one just made (a job of this number
    // starting, as far as anyone can tell).
    testing_support::WriteFile(prints + "/.job-" + std::to_string(gone) + "-7.pdf.part", "dead");
    testing_support::WriteFile(own + "-1.pdf.part", "recycled");
    testing_support::WriteFile(own + "-2.pdf.part", "fresh");
    const utimbuf hourAgo{time(nullptr) - 3600, time(nullptr) - 3600};
    utime((own + "-1.pdf.part").c_str(), &hourAgo);
    // A job under way holds its file, however old.
    platform::print::JobFile underWay(prints);
    ASSERT_EQ(underWay.Error(), 0u);
    utime(underWay.Path().c_str(), &hourAgo);
    EXPECT_EQ(platform::print::JobFile::RemoveLeftovers(prints), 2);
    std::vector<std::string> left = {underWay.Path().substr(prints.size() + 1),
                                     own.substr(prints.size() + 1) + "-2.pdf.part"};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(testing_support::FolderEntries(prints), left);
    // A job of this process takes a name of its own and leaves the others'.
    DWORD error = 0;
    EXPECT_EQ(PrintJob("after", error), 1) << error;
    EXPECT_EQ(testing_support::ReadFile(own + "-2.pdf.part"), "fresh");
    underWay.Discard();
    testing_support::RemoveTree(prints);
}
