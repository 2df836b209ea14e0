#include "PrinterSetup.h"

#include <cstring>

PrinterSetup::PrinterSetup() {
    memset(&pd, 0, sizeof pd);
    pd.lStructSize = sizeof(PRINTDLGA);
    pd.Flags = kInitialFlags;
}

PrinterSetup::~PrinterSetup() {
    if (pd.hDevMode)
        GlobalFree(pd.hDevMode);
    if (pd.hDevNames)
        GlobalFree(pd.hDevNames);
}

BOOL PrinterSetup::QueryDefault() {
    pd.Flags |= PD_RETURNDEFAULT;
    HDC previous = pd.hDC;
    BOOL ok = PrintDlgA(&pd);
    // The query hands back a device context (PD_RETURNDC) that the session
    // never uses: the job makes its own. Delete it rather than leak it.
    if (ok && pd.hDC && pd.hDC != previous) {
        DeleteDC(pd.hDC);
        pd.hDC = previous;
    }
    return ok;
}

BOOL PrinterSetup::ShowSetupDialog(HWND owner) {
    pd.hwndOwner = owner;
    pd.lStructSize = sizeof(PRINTDLGA);
    pd.Flags = PD_PRINTSETUP | PD_SHOWHELP;
    return PrintDlgA(&pd);
}

DEVMODEA *PrinterSetup::LockDevMode() {
    return pd.hDevMode ? static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode)) : nullptr;
}

HDC PrinterSetup::MakeJobDC() {
    if (!pd.hDevNames)
        return nullptr;
    auto *names = static_cast<DEVNAMES *>(GlobalLock(pd.hDevNames));
    if (!names)
        return nullptr;
    auto *devMode = pd.hDevMode ? static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode)) : nullptr;
    const char *text = reinterpret_cast<const char *>(names);
    pd.hDC = CreateDCA(text + names->wDriverOffset, text + names->wDeviceOffset,
                       text + names->wOutputOffset, devMode);
    GlobalUnlock(pd.hDevNames);
    if (devMode)
        GlobalUnlock(pd.hDevMode);
    return pd.hDC;
}

BOOL PrinterSetup::PutText(const char *text, int x, int y) {
    if (!pd.hDC || !text)
        return 0;
    return TextOutA(pd.hDC, x, y, text, lstrlenA(text));
}

int PrinterSetup::EndDocument() {
    if (pd.hDC)
        EndDoc(pd.hDC);
    return 0;
}
