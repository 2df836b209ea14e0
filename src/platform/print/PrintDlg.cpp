// The print dialog: the default printer's settings, and the print-setup
// dialog through the UI host (which printer, which paper).
#include <cstring>
#include <string>
#include <vector>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "../user/UiHost.h"
#include "Printers.h"
#include "commdlg.h"

namespace {

thread_local DWORD t_dialogError = 0;

struct PaperChoice {
    const char *label;
    SHORT code;
    SHORT width;
    SHORT length;
};

constexpr PaperChoice kPaperChoices[] = {
    {"A4, 210 x 297 mm", DMPAPER_A4, 2100, 2970},
    {"A5, 148 x 210 mm", DMPAPER_A5, 1480, 2100},
    {"B5, 182 x 257 mm", DMPAPER_B5, 1820, 2570},
    {"Letter, 215.9 x 279.4 mm", DMPAPER_LETTER, 2159, 2794},
};

BOOL Fail(DWORD error) {
    t_dialogError = error;
    return FALSE;
}

DEVMODEA DefaultDevMode(const platform::print::PrinterInfo &printer) {
    DEVMODEA dm{};
    std::string name = platform::Utf8ToAnsi(printer.name);
    strncpy(reinterpret_cast<char *>(dm.dmDeviceName), name.c_str(), CCHDEVICENAME - 1);
    dm.dmSpecVersion = 0x0401;
    dm.dmSize = sizeof(DEVMODEA);
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PRINTQUALITY | DM_YRESOLUTION;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_A4;
    dm.dmCopies = 1;
    dm.dmPrintQuality = static_cast<SHORT>(printer.dpi);
    dm.dmYResolution = static_cast<SHORT>(printer.dpi);
    return dm;
}

HGLOBAL MakeDevModeBlock(const DEVMODEA &dm) {
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DEVMODEA));
    if (block) {
        memcpy(GlobalLock(block), &dm, sizeof dm);
        GlobalUnlock(block);
    }
    return block;
}

// DEVNAMES followed by the driver, device and output names.
HGLOBAL MakeDevNamesBlock(const std::string &device, bool isDefault) {
    const std::string driver = "quillbay";
    const std::string output = "";
    const size_t size = sizeof(DEVNAMES) + driver.size() + device.size() + output.size() + 3;
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block)
        return nullptr;
    auto *names = static_cast<DEVNAMES *>(GlobalLock(block));
    auto *text = reinterpret_cast<char *>(names);
    names->wDriverOffset = sizeof(DEVNAMES);
    names->wDeviceOffset = static_cast<WORD>(names->wDriverOffset + driver.size() + 1);
    names->wOutputOffset = static_cast<WORD>(names->wDeviceOffset + device.size() + 1);
    names->wDefault = isDefault ? DN_DEFAULTPRN : 0;
    memcpy(text + names->wDriverOffset, driver.c_str(), driver.size() + 1);
    memcpy(text + names->wDeviceOffset, device.c_str(), device.size() + 1);
    memcpy(text + names->wOutputOffset, output.c_str(), output.size() + 1);
    GlobalUnlock(block);
    return block;
}

std::string SelectedDevice(HGLOBAL devNames) {
    auto *names = devNames ? static_cast<DEVNAMES *>(GlobalLock(devNames)) : nullptr;
    if (!names)
        return {};
    std::string device = reinterpret_cast<char *>(names) + names->wDeviceOffset;
    GlobalUnlock(devNames);
    return platform::AnsiToUtf8(device.c_str());
}

BOOL MakeDC(LPPRINTDLGA pd) {
    if (!(pd->Flags & PD_RETURNDC))
        return TRUE;
    auto *names = static_cast<DEVNAMES *>(GlobalLock(pd->hDevNames));
    auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd->hDevMode));
    const char *text = reinterpret_cast<char *>(names);
    pd->hDC = CreateDCA(text + names->wDriverOffset, text + names->wDeviceOffset,
                        text + names->wOutputOffset, dm);
    GlobalUnlock(pd->hDevMode);
    GlobalUnlock(pd->hDevNames);
    return pd->hDC ? TRUE : Fail(PDERR_CREATEICFAILURE);
}

BOOL ReturnDefault(LPPRINTDLGA pd) {
    if (pd->hDevMode || pd->hDevNames)
        return Fail(CDERR_INITIALIZATION);
    platform::print::PrinterInfo printer = platform::print::DefaultPrinter();
    pd->hDevMode = MakeDevModeBlock(DefaultDevMode(printer));
    pd->hDevNames = MakeDevNamesBlock(platform::Utf8ToAnsi(printer.name), true);
    if (!pd->hDevMode || !pd->hDevNames)
        return Fail(CDERR_INITIALIZATION);
    return MakeDC(pd);
}

BOOL SetupDialog(LPPRINTDLGA pd) {
    std::vector<platform::print::PrinterInfo> printers = platform::print::ListPrinters();
    std::string current = SelectedDevice(pd->hDevNames);
    std::vector<std::string> names;
    int preset = -1;
    for (size_t i = 0; i < printers.size(); ++i) {
        names.push_back(printers[i].name + (printers[i].isDefault ? " (default)" : ""));
        if ((current.empty() && printers[i].isDefault) || printers[i].name == current)
            preset = static_cast<int>(i);
    }
    platform::UiHost &ui = platform::UiHost::Current();
    int chosen = ui.Choose("Print Setup: printer", names, preset);
    if (chosen < 0)
        return Fail(0); // cancelled
    const platform::print::PrinterInfo &printer = printers[static_cast<size_t>(chosen)];

    DEVMODEA dm = DefaultDevMode(printer);
    if (auto *old = pd->hDevMode ? static_cast<DEVMODEA *>(GlobalLock(pd->hDevMode)) : nullptr) {
        // The paper and orientation carry over to the chosen printer.
        dm.dmOrientation = old->dmOrientation ? old->dmOrientation : DMORIENT_PORTRAIT;
        dm.dmPaperSize = old->dmPaperSize;
        dm.dmPaperWidth = old->dmPaperWidth;
        dm.dmPaperLength = old->dmPaperLength;
        GlobalUnlock(pd->hDevMode);
    }
    std::vector<std::string> papers;
    int paperPreset = -1;
    for (size_t i = 0; i < std::size(kPaperChoices); ++i) {
        papers.push_back(kPaperChoices[i].label);
        if (kPaperChoices[i].code == dm.dmPaperSize && dm.dmPaperWidth == 0)
            paperPreset = static_cast<int>(i);
    }
    if (dm.dmPaperWidth > 0 && dm.dmPaperLength > 0) {
        papers.push_back("as set: " + std::to_string(dm.dmPaperWidth / 10.0).substr(0, 5) + " x " +
                         std::to_string(dm.dmPaperLength / 10.0).substr(0, 5) + " mm");
        paperPreset = static_cast<int>(papers.size() - 1);
    }
    int paper = ui.Choose("Print Setup: paper", papers, paperPreset < 0 ? 0 : paperPreset);
    if (paper < 0)
        return Fail(0);
    if (paper < static_cast<int>(std::size(kPaperChoices))) {
        dm.dmPaperSize = kPaperChoices[paper].code;
        dm.dmPaperWidth = kPaperChoices[paper].width;
        dm.dmPaperLength = kPaperChoices[paper].length;
    }
    HGLOBAL devMode = MakeDevModeBlock(dm);
    HGLOBAL devNames = MakeDevNamesBlock(platform::Utf8ToAnsi(printer.name), printer.isDefault);
    if (!devMode || !devNames) {
        GlobalFree(devMode);
        GlobalFree(devNames);
        return Fail(CDERR_INITIALIZATION);
    }
    GlobalFree(pd->hDevMode);
    GlobalFree(pd->hDevNames);
    pd->hDevMode = devMode;
    pd->hDevNames = devNames;
    return MakeDC(pd);
}

} // namespace

extern "C" BOOL WINAPI PrintDlgA(LPPRINTDLGA pPD) {
    t_dialogError = 0;
    if (!pPD)
        return Fail(CDERR_INITIALIZATION);
    if (pPD->lStructSize != sizeof(PRINTDLGA))
        return Fail(CDERR_STRUCTSIZE);
    if (pPD->Flags & PD_RETURNDEFAULT)
        return ReturnDefault(pPD);
    return SetupDialog(pPD);
}

extern "C" DWORD WINAPI CommDlgExtendedError() {
    return t_dialogError;
}
