// PrinterSetup: the object's printer selection (the print dialog's block
// with its DEVMODE and DEVNAMES) and the job's device context.
#pragma once

#include "platform/win32.h"

class PrinterSetup {
public:
    // Flags the block starts with: hide print-to-file, copies and collation
    // by DEVMODE, help button, return a DC, no page numbers, no selection.
    static constexpr DWORD kInitialFlags = PD_HIDEPRINTTOFILE | PD_USEDEVMODECOPIESANDCOLLATE |
                                           PD_SHOWHELP | PD_RETURNDC | PD_NOPAGENUMS |
                                           PD_NOSELECTION;

    PrinterSetup();
    PrinterSetup(const PrinterSetup &) = delete;
    PrinterSetup &operator=(const PrinterSetup &) = delete;
    virtual ~PrinterSetup();

    // Fills the selection with the default printer; only the first query
    // of an object changes anything.
    BOOL QueryDefault();
    // The print-setup dialog; 0 when cancelled or failed.
    BOOL ShowSetupDialog(HWND owner);
    // The DEVMODE, locked (the paper methods write through it), or null.
    DEVMODEA *LockDevMode();
    // Makes the job's device context from the selection; null without one.
    HDC MakeJobDC();
    BOOL PutText(const char *text, int x, int y);
    int EndDocument();

    HDC DC() const { return pd.hDC; }
    void ForgetDC() { pd.hDC = nullptr; }

    PRINTDLGA pd;
};
