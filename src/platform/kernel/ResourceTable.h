// The resource image that the resource compiler links into a module.
//
// Each module that carries resources holds one image (ResourceFormat.h); a
// static object in the generated source hands it to the kernel when the
// module is loaded and takes it back when the module is unloaded, so
// FindResourceA and LoadStringA can find a module's resources by its handle.
// A module's file read as data (LoadLibraryExA with LOAD_LIBRARY_AS_DATAFILE)
// gives the kernel the same image from the file, without loading the module.
#pragma once

#include "windef.h"

// One resource, as the kernel finds it: pointers into the image it came from.
struct ResourceEntry {
    const char *typeName; // type name, or null when the type is a number
    WORD typeId;
    const char *name; // resource name, or null when the name is a number
    WORD nameId;
    const unsigned char *data;
    DWORD size;
};

struct ResourceString {
    UINT id;
    const char *utf8;
};

extern "C" void RegisterResourceImage(const unsigned char *image);
extern "C" void UnregisterResourceImage(const unsigned char *image);
