// A module's file read as data: its resource image, taken from the file's
// resource section without loading (or running) anything of it.
#pragma once

#include <string>

#include "ResourceIndex.h"
#include "windef.h"

namespace platform {

// Reads the resource image of the module file at path (the file system's
// path) into index. ERROR_SUCCESS, or the error to report: the file cannot
// be opened, is not a regular file, or holds no well-formed image.
DWORD ReadModuleFileResources(const std::string &path, ResourceIndex &index);

} // namespace platform
