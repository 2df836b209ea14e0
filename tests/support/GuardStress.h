// The guard's stress run (GuardStress.cpp), started by the guard worker.
#pragma once

// Rounds of killing processes that use the guard name; the board lives in
// file. 0 when the guard always went on and no update was lost.
int RunStress(const char *name, const char *file, int rounds);
