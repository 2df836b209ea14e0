// The print dialog: the default printer's settings, and the print-setup
// dialog through the UI host (which printer, which paper, which
// orientation): the desktop's own dialog where the host has one, else the
// host's plain choices.
#include <cstdio>
#include <cstdlib>
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

// The paper codes of the sizes that have one (tenths of a millimetre).
struct PaperCode {
    SHORT code;
    SHORT width;
    SHORT length;
};

constexpr PaperCode kPaperCodes[] = {
    {DMPAPER_A4, 2100, 2970},
    {DMPAPER_A5, 1480, 2100},
    {DMPAPER_B5, 1820, 2570},
    {DMPAPER_LETTER, 2159, 2794},
};

// A paper as the dialog lists it: "iso_a4_210x297mm, 210 x 297 mm".
std::string PaperLabel(const platform::print::PaperInfo &paper) {
    char label[160];
    snprintf(label, sizeof label, "%s, %g x %g mm%s", paper.name.c_str(), paper.width / 100.0,
             paper.length / 100.0, paper.isDefault ? " (default)" : "");
    return label;
}

// A size's paper code, or 0 for a size that has none.
SHORT CodeOf(int width, int length) {
    for (const PaperCode &paper : kPaperCodes) {
        if (std::abs(paper.width - width) <= 1 && std::abs(paper.length - length) <= 1)
            return paper.code;
    }
    return 0;
}

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
    // A CUPS printer's pages are made at its own resolution (a label
    // printer's 203 dpi), the scale a page's millimetres are turned with.
    if (!printer.pdf)
        platform::print::CupsResolution(printer);
    pd->hDevMode = MakeDevModeBlock(DefaultDevMode(printer));
    pd->hDevNames = MakeDevNamesBlock(platform::Utf8ToAnsi(printer.name), true);
    if (!pd->hDevMode || !pd->hDevNames)
        return Fail(CDERR_INITIALIZATION);
    return MakeDC(pd);
}

// The printer the dialog opens on: the thread's own (a bridge session's
// choice), else the one the blocks name, else the default.
int PresetPrinter(const std::vector<platform::print::PrinterDescription> &printers,
                  const std::string &current) {
    const std::string &own = platform::print::PrinterOfThisThread();
    int preset = -1;
    for (size_t i = 0; i < printers.size(); ++i) {
        if (!own.empty()
                ? printers[i].name == own
                : (current.empty() && printers[i].isDefault) || printers[i].name == current)
            preset = static_cast<int>(i);
    }
    return preset;
}

// Asks for one of the printer's own papers, the size set so far offered
// too when it is none of them; false when the user cancels.
bool ChoosePaper(const platform::print::PrinterDescription &printer, DEVMODEA &dm) {
    std::vector<std::string> labels;
    int preset = -1;
    const bool sized = dm.dmPaperWidth > 0 && dm.dmPaperLength > 0;
    for (size_t i = 0; i < printer.papers.size(); ++i) {
        const platform::print::PaperInfo &paper = printer.papers[i];
        labels.push_back(PaperLabel(paper));
        const int width = (paper.width + 5) / 10, length = (paper.length + 5) / 10;
        const bool same = sized ? std::abs(width - dm.dmPaperWidth) <= 1 &&
                                      std::abs(length - dm.dmPaperLength) <= 1
                                : CodeOf(width, length) == dm.dmPaperSize;
        if (same && (preset < 0 || paper.isDefault))
            preset = static_cast<int>(i);
    }
    if (sized && preset < 0) {
        char label[96];
        snprintf(label, sizeof label, "as set: %g x %g mm", dm.dmPaperWidth / 10.0,
                 dm.dmPaperLength / 10.0);
        labels.push_back(label);
        preset = static_cast<int>(labels.size() - 1);
    }
    for (size_t i = 0; preset < 0 && i < printer.papers.size(); ++i) {
        if (printer.papers[i].isDefault)
            preset = static_cast<int>(i);
    }
    const int chosen =
        platform::UiHost::Current().Choose("Print Setup: paper", labels, preset < 0 ? 0 : preset);
    if (chosen < 0)
        return false;
    if (chosen < static_cast<int>(printer.papers.size())) {
        const platform::print::PaperInfo &paper = printer.papers[static_cast<size_t>(chosen)];
        dm.dmPaperWidth = static_cast<SHORT>((paper.width + 5) / 10);
        dm.dmPaperLength = static_cast<SHORT>((paper.length + 5) / 10);
        dm.dmPaperSize = CodeOf(dm.dmPaperWidth, dm.dmPaperLength);
        dm.dmFields |= DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH;
    }
    return true;
}

// The size a paper code stands for (tenths of a millimetre), or false.
bool SizeOfCode(SHORT code, int &width, int &length) {
    for (const PaperCode &paper : kPaperCodes) {
        if (paper.code == code) {
            width = paper.width;
            length = paper.length;
            return true;
        }
    }
    return false;
}

// Asks through the desktop's own print-setup dialog, opened on the preset
// printer and on the paper and orientation set so far; on an answer chosen
// is the printer's index (-1 when it is gone) and dm holds the paper by its
// size and the orientation. "Any printer" is the one for portable
// documents, the built-in PDF printer.
platform::DialogOutcome AskDesktop(const std::vector<platform::print::PrinterDescription> &printers,
                                   int preset, DEVMODEA &dm, int &chosen) {
    platform::PrintSetupChoice choice;
    if (preset >= 0 && !printers[static_cast<size_t>(preset)].pdf)
        choice.printer = printers[static_cast<size_t>(preset)].name;
    int width = dm.dmPaperWidth, length = dm.dmPaperLength;
    if ((width > 0 && length > 0) || SizeOfCode(dm.dmPaperSize, width, length)) {
        choice.width = width * 10;
        choice.length = length * 10;
    }
    choice.landscape = dm.dmOrientation == DMORIENT_LANDSCAPE;
    const platform::DialogOutcome outcome =
        platform::UiHost::Current().PrintSetup("Print Setup", choice);
    if (outcome != platform::DialogOutcome::Answered)
        return outcome;
    chosen = -1;
    for (size_t i = 0; i < printers.size(); ++i) {
        if (choice.printer.empty() ? printers[i].pdf : printers[i].name == choice.printer)
            chosen = static_cast<int>(i);
    }
    dm.dmPaperWidth = static_cast<SHORT>((choice.width + 5) / 10);
    dm.dmPaperLength = static_cast<SHORT>((choice.length + 5) / 10);
    dm.dmPaperSize = CodeOf(dm.dmPaperWidth, dm.dmPaperLength);
    dm.dmOrientation = choice.landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    return outcome;
}

// Asks through the UI host's plain choices: the printer, then its paper.
platform::DialogOutcome AskPlainly(const std::vector<platform::print::PrinterDescription> &printers,
                                   int preset, DEVMODEA &dm, int &chosen) {
    std::vector<std::string> names;
    for (const platform::print::PrinterDescription &printer : printers)
        names.push_back(printer.name + (printer.isDefault ? " (default)" : ""));
    chosen = platform::UiHost::Current().Choose("Print Setup: printer", names, preset);
    if (chosen < 0 || !ChoosePaper(printers[static_cast<size_t>(chosen)], dm))
        return platform::DialogOutcome::Cancelled;
    return platform::DialogOutcome::Answered;
}

BOOL SetupDialog(LPPRINTDLGA pd) {
    std::vector<platform::print::PrinterDescription> printers = platform::print::DescribePrinters();
    const int preset = PresetPrinter(printers, SelectedDevice(pd->hDevNames));
    // The paper and orientation set so far carry over to the chosen printer.
    DEVMODEA wanted{};
    wanted.dmOrientation = DMORIENT_PORTRAIT;
    wanted.dmPaperSize = DMPAPER_A4;
    if (auto *old = pd->hDevMode ? static_cast<DEVMODEA *>(GlobalLock(pd->hDevMode)) : nullptr) {
        wanted.dmOrientation = old->dmOrientation ? old->dmOrientation : DMORIENT_PORTRAIT;
        wanted.dmPaperSize = old->dmPaperSize;
        wanted.dmPaperWidth = old->dmPaperWidth;
        wanted.dmPaperLength = old->dmPaperLength;
        GlobalUnlock(pd->hDevMode);
    }
    int chosen = -1;
    platform::DialogOutcome outcome = AskDesktop(printers, preset, wanted, chosen);
    if (outcome == platform::DialogOutcome::NotShown)
        outcome = AskPlainly(printers, preset, wanted, chosen);
    if (outcome == platform::DialogOutcome::Cancelled)
        return Fail(0);
    platform::print::PrinterInfo info;
    if (chosen < 0 ||
        !platform::print::FindPrinter(printers[static_cast<size_t>(chosen)].name, info))
        return Fail(PDERR_PRINTERNOTFOUND); // gone meanwhile
    const platform::print::PrinterDescription &printer = printers[static_cast<size_t>(chosen)];
    if (!info.pdf)
        platform::print::CupsResolution(info);

    DEVMODEA dm = DefaultDevMode(info);
    dm.dmOrientation = wanted.dmOrientation;
    dm.dmPaperSize = wanted.dmPaperSize;
    dm.dmPaperWidth = wanted.dmPaperWidth;
    dm.dmPaperLength = wanted.dmPaperLength;
    if (dm.dmPaperWidth > 0 && dm.dmPaperLength > 0)
        dm.dmFields |= DM_PAPERWIDTH | DM_PAPERLENGTH;
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
