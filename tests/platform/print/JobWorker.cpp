// Prints jobs on the default printer from a process of its own, for the
// test of many processes ending jobs into one job log at once.
//
//   qbtest_job_worker NAME COUNT   COUNT one-page jobs, each titled NAME, its
//                                  number and a long tail; exits 1 when any
//                                  job did not print
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qbtest_job_worker NAME COUNT\n");
        return 2;
    }
    PRINTDLGA pd{};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_RETURNDEFAULT;
    if (!PrintDlgA(&pd))
        return 1;
    auto *names = static_cast<DEVNAMES *>(GlobalLock(pd.hDevNames));
    const std::string device = reinterpret_cast<char *>(names) + names->wDeviceOffset;
    GlobalUnlock(pd.hDevNames);
    // A title longer than a stdio buffer makes each log line longer than
    // one buffered write.
    const std::string tail(6000, 'x');
    int failed = 0;
    for (int i = 0, count = atoi(argv[2]); i < count; ++i) {
        HDC dc = CreateDCA("quillbay", device.c_str(), "", nullptr);
        const std::string title = std::string(argv[1]) + " " + std::to_string(i) + " " + tail;
        DOCINFOA info{sizeof(DOCINFOA), title.c_str(), nullptr, nullptr, 0};
        StartDocA(dc, &info);
        StartPage(dc);
        MoveToEx(dc, 100, 100, nullptr);
        LineTo(dc, 100 + i, 300);
        EndPage(dc);
        failed += EndDoc(dc) != 1;
        DeleteDC(dc);
    }
    GlobalFree(pd.hDevMode);
    GlobalFree(pd.hDevNames);
    return failed ? 1 : 0;
}
