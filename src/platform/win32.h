// The platform: the subset of the desktop platform's interfaces that the
// system calls, built on Linux libraries.
#pragma once

#include "kernel/windef.h"
#include "kernel/winerror.h"
#include "kernel/winbase.h"
#include "kernel/winnls.h"
#include "registry/winreg.h"
#include "user/winuser.h"
#include "gdi/wingdi.h"
#include "print/commdlg.h"
#include "vfw/vfw.h"
#include "inet/wininet.h"
#include "com/unknwn.h"
#include "com/oaidl.h"
#include "com/objbase.h"
#include "com/objsafe.h"
#include "com/oleauto.h"
#include "ado/adoint.h"
#include "ado/msdasc.h"
