// The print dialog of the common dialogs: the default-printer query and the
// print-setup dialog, with the DEVMODE and DEVNAMES blocks they fill.
#pragma once

#include "../gdi/wingdi.h"

#define PD_ALLPAGES 0x00000000
#define PD_SELECTION 0x00000001
#define PD_PAGENUMS 0x00000002
#define PD_NOSELECTION 0x00000004
#define PD_NOPAGENUMS 0x00000008
#define PD_COLLATE 0x00000010
#define PD_PRINTTOFILE 0x00000020
#define PD_PRINTSETUP 0x00000040
#define PD_NOWARNING 0x00000080
#define PD_RETURNDC 0x00000100
#define PD_RETURNIC 0x00000200
#define PD_RETURNDEFAULT 0x00000400
#define PD_SHOWHELP 0x00000800
#define PD_USEDEVMODECOPIESANDCOLLATE 0x00040000
#define PD_HIDEPRINTTOFILE 0x00100000

#define CDERR_INITIALIZATION 0x0002
#define CDERR_STRUCTSIZE 0x0001
#define PDERR_NODEFAULTPRN 0x1008
#define PDERR_PRINTERNOTFOUND 0x100B
#define PDERR_CREATEICFAILURE 0x100A

struct DEVNAMES {
    WORD wDriverOffset; // offsets in characters from the start of the block
    WORD wDeviceOffset;
    WORD wOutputOffset;
    WORD wDefault;
};
using LPDEVNAMES = DEVNAMES *;
#define DN_DEFAULTPRN 0x0001

struct PRINTDLGA {
    DWORD lStructSize;
    HWND hwndOwner;
    HGLOBAL hDevMode;
    HGLOBAL hDevNames;
    HDC hDC;
    DWORD Flags;
    WORD nFromPage;
    WORD nToPage;
    WORD nMinPage;
    WORD nMaxPage;
    WORD nCopies;
    HINSTANCE hInstance;
    LPARAM lCustData;
    void *lpfnPrintHook;
    void *lpfnSetupHook;
    LPCSTR lpPrintTemplateName;
    LPCSTR lpSetupTemplateName;
    HGLOBAL hPrintTemplate;
    HGLOBAL hSetupTemplate;
};
using LPPRINTDLGA = PRINTDLGA *;

extern "C" BOOL WINAPI PrintDlgA(LPPRINTDLGA pPD);
extern "C" DWORD WINAPI CommDlgExtendedError();
