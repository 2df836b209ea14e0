// A module whose constructor leaves a mark: it writes the file named by
// QUILLBAY_TEST_MARK when the module is loaded as code. A module read as
// data must never leave it.
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void LeaveMark() {
    const char *path = getenv("QUILLBAY_TEST_MARK");
    if (!path || !*path)
        return;
    if (FILE *file = fopen(path, "w")) {
        fputs("the module's code ran\n", file);
        fclose(file);
    }
}

} // namespace
