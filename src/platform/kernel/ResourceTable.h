// The resource table that the resource compiler links into a module.
//
// Each module that carries resources holds one table; a static object in the
// generated source hands it to the kernel when the module is loaded and takes
// it back when the module is unloaded, so FindResourceA and LoadStringA can
// find a module's resources by its handle.
#pragma once

#include "windef.h"

struct ResourceEntry {
    const char *typeName; // upper-case type name, or null when the type is a number
    WORD typeId;
    const char *name; // upper-case resource name, or null when the name is a number
    WORD nameId;
    const unsigned char *data;
    DWORD size;
};

struct ResourceString {
    UINT id;
    const char *utf8;
};

struct ResourceTable {
    const ResourceEntry *entries;
    DWORD entryCount;
    const ResourceString *strings;
    DWORD stringCount;
};

extern "C" void RegisterResourceTable(const ResourceTable *table);
extern "C" void UnregisterResourceTable(const ResourceTable *table);
