// quillbay-print-setup: the desktop's print-setup dialog in a process of its
// own, started by the desktop UI host.
#include <cstdio>
#include <unistd.h>

#include "platform/user/GtkPrintSetup.h"

int main(int argc, char **argv) {
    const int code = platform::GtkPrintSetup::Main(argc, argv);
    // The answer is out; GTK's caches and threads end with the process,
    // without exit handlers that would wait on them or count them as lost.
    fflush(stdout);
    _exit(code);
}
