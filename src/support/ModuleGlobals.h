// The module-wide handles of the support library, fixed when the module is
// loaded and only read afterwards.
#pragma once

#include "platform/win32.h"

// This module's instance handle: string resources, its file name and its
// resources are found through it.
HINSTANCE ModuleInstance();

// The window whose device context font measurement borrows; null, the
// screen.
HWND OwnerWindow();
