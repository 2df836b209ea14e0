// Kernel objects that several processes share by name: events (NamedEvent.cpp)
// and file mappings (NamedObjects.cpp), kept in POSIX shared memory.
#pragma once

#include <memory>

#include "KernelObject.h"

namespace platform {

// Whether a name fits a named object (fewer than MAX_PATH characters);
// false with ERROR_FILENAME_EXCED_RANGE set when it does not.
bool NameFits(const char *name);

// Creates or joins a named event. Joining sets ERROR_ALREADY_EXISTS as the
// platform does; the first creator's reset mode and initial state hold.
HANDLE CreateNamedEvent(const char *name, bool manualReset, bool initialState);

// Sets (or resets) a named event; false when the object is not one.
bool SetNamedEvent(KernelObject *object, bool set);

// Creates or joins a mapping of shared memory (named or not), or of a file.
HANDLE CreateMapping(HANDLE file, const char *name, ULONGLONG size, bool writable);

// Whether a thread with this system-wide ID is alive, in any process.
bool ThreadIsAlive(DWORD threadId);

} // namespace platform
