// Works a data guard from its own process, for the guard tests.
//
//   qbtest_guard_worker count NAME ROUNDS FILE   ROUNDS times: lock, add 1 to the
//                                                number in FILE, unlock
//   qbtest_guard_worker hold NAME                lock, say "locked", sleep
//   qbtest_guard_worker stress NAME FILE ROUNDS  kills and restarts processes that
//                                                use the guard (GuardStress.cpp)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "GuardStress.h"
#include "support/DataGuard.h"

namespace {

void AddOne(const char *path) {
    FILE *file = fopen(path, "r+");
    if (!file)
        exit(3);
    long value = 0;
    if (fscanf(file, "%ld", &value) != 1)
        value = 0;
    rewind(file);
    fprintf(file, "%ld\n", value + 1);
    fclose(file);
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "hold") == 0) {
        DataGuard guard(argv[2]);
        if (!guard.Lock())
            return 1;
        printf("locked\n");
        fflush(stdout);
        for (;;)
            pause();
    }
    if (argc == 5 && strcmp(argv[1], "count") == 0) {
        DataGuard guard(argv[2]);
        int rounds = atoi(argv[3]);
        for (int i = 0; i < rounds; ++i) {
            if (!guard.Lock())
                return 1;
            AddOne(argv[4]);
            if (!guard.Unlock())
                return 2;
        }
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "stress") == 0)
        return RunStress(argv[2], argv[3], atoi(argv[4]));
    fprintf(stderr, "usage: qbtest_guard_worker count NAME ROUNDS FILE | hold NAME | stress NAME "
                    "FILE ROUNDS\n");
    return 2;
}
