// Printer device contexts and their jobs: one PDF document per job, handed
// to the printer when the document ends.
#include <atomic>
#include <cstring>
#include <string>

#include "../gdi/GdiObjects.h"
#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "JobEvents.h"
#include "JobFile.h"
#include "JobHandOver.h"
#include "JobPreview.h"
#include "PrinterState.h"
#include "Printers.h"

namespace platform::gdi {

PrinterState::~PrinterState() = default;

} // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

namespace {

struct Paper {
    SHORT code;
    int width; // tenths of a millimetre
    int length;
};

// The paper sizes that have codes, with their sizes.
constexpr Paper kPapers[] = {
    {DMPAPER_A4, 2100, 2970},
    {DMPAPER_LETTER, 2159, 2794},
    {DMPAPER_A5, 1480, 2100},
    {DMPAPER_B5, 1820, 2570},
};

void PaperOf(const DEVMODEA *dm, int &width, int &length) {
    width = 2100;
    length = 2970;
    if (dm && dm->dmPaperWidth > 0 && dm->dmPaperLength > 0) {
        width = dm->dmPaperWidth;
        length = dm->dmPaperLength;
    } else if (dm) {
        for (const Paper &paper : kPapers) {
            if (paper.code == dm->dmPaperSize) {
                width = paper.width;
                length = paper.length;
            }
        }
    }
    if (dm && dm->dmOrientation == DMORIENT_LANDSCAPE)
        std::swap(width, length);
}

// Dots from a length in tenths (scale 254) or hundredths (scale 2540) of a
// millimetre, rounded to the nearest dot.
int Dots(int length, int dpi, int scale = 254) {
    return static_cast<int>((static_cast<long long>(length) * dpi + scale / 2) / scale);
}

PrinterState *PrinterOf(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    return dc && dc->kind == DeviceContext::Printer ? dc->printer.get() : nullptr;
}

void Report(const PrinterState &state, print::JobEvent::Stage stage,
            const print::JobOutcome &outcome = {}) {
    print::ReportJob(print::JobEvent{stage, state.jobId, state.title, state.printer.name,
                                     state.pagesDone, outcome.where, outcome.reason, outcome.kept,
                                     outcome.cupsJob, outcome.previewPdf, outcome.previewPng});
}

print::JobHandOver HandOverOf(const PrinterState &state) {
    print::SubmitSettings settings;
    settings.copies = state.copies;
    return print::JobHandOver(state.printer, state.title, state.paperWidth, state.paperLength,
                              settings);
}

// A job that ended without printing: the caller learns why from the last
// error, the page from the job's failed event.
int EndFailed(const PrinterState &state, const print::JobOutcome &outcome) {
    Report(state, print::JobEvent::Failed, outcome);
    SetLastError(outcome.error);
    return 0;
}

} // namespace

extern "C" HDC WINAPI CreateDCA(LPCSTR, LPCSTR pwszDevice, LPCSTR, const DEVMODEA *pdm) {
    if (pwszDevice && strcasecmp(pwszDevice, "DISPLAY") == 0)
        return GetDC(nullptr);
    print::PrinterInfo printer;
    if (!pwszDevice || !print::FindPrinter(AnsiToUtf8(pwszDevice), printer)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto state = std::make_unique<PrinterState>();
    PaperOf(pdm, state->paperWidth, state->paperLength);
    if (!printer.pdf)
        print::CupsDetails(printer, state->paperWidth, state->paperLength);
    if (pdm)
        state->devmode = *pdm;
    auto *dc = new DeviceContext(DeviceContext::Printer);
    dc->dpiX = pdm && pdm->dmPrintQuality > 0 ? pdm->dmPrintQuality : printer.dpi;
    dc->dpiY = pdm && pdm->dmYResolution > 0 ? pdm->dmYResolution : dc->dpiX;
    // Device units are the printer's own dots only where the page is made
    // at the resolution the printer gave.
    dc->dots = printer.dots && dc->dpiX == printer.dpi && dc->dpiY == printer.dpi;
    dc->physicalWidth = Dots(state->paperWidth, dc->dpiX);
    dc->physicalHeight = Dots(state->paperLength, dc->dpiY);
    const bool landscape = pdm && pdm->dmOrientation == DMORIENT_LANDSCAPE;
    int left = landscape ? printer.marginTop : printer.marginLeft;
    int top = landscape ? printer.marginRight : printer.marginTop;
    int right = landscape ? printer.marginBottom : printer.marginRight;
    int bottom = landscape ? printer.marginLeft : printer.marginBottom;
    dc->offsetX = Dots(left, dc->dpiX, 2540);
    dc->offsetY = Dots(top, dc->dpiY, 2540);
    dc->width = dc->physicalWidth - dc->offsetX - Dots(right, dc->dpiX, 2540);
    dc->height = dc->physicalHeight - dc->offsetY - Dots(bottom, dc->dpiY, 2540);
    state->printer = printer;
    dc->printer = std::move(state);
    return static_cast<HDC>(Register(dc));
}

extern "C" int WINAPI StartDocA(HDC hdc, const DOCINFOA *lpdi) {
    DeviceContext *dc = LookupDC(hdc);
    PrinterState *state = PrinterOf(hdc);
    if (!state || !lpdi) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (state->documentOpen)
        return state->jobId; // already printing: the same document goes on
    const int job = print::NewJobId();
    state->title = AnsiToUtf8(lpdi->lpszDocName ? lpdi->lpszDocName : "");
    state->jobId = job;
    state->pagesDone = 0;
    state->copies = print::CopiesOfThisThread();
    // The document is written straight into the print folder under a
    // temporary name; a folder that takes no file ends the job here, and
    // the log and the user learn why.
    const std::string &preview = print::PreviewFolderOfThisThread();
    state->file =
        std::make_unique<print::JobFile>(preview.empty() ? print::PrintDirectory() : preview);
    if (state->file->Error() ||
        !OpenPdf(dc, print::JobFile::Sink, state->file.get(), state->title)) {
        EndFailed(*state, HandOverOf(*state).Failed(*state->file));
        state->file.reset();
        return 0;
    }
    state->documentOpen = true;
    Report(*state, print::JobEvent::Started);
    return state->jobId;
}

extern "C" int WINAPI StartPage(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    PrinterState *state = PrinterOf(hdc);
    if (!state || !state->documentOpen)
        return 0;
    if (!state->pageOpen) {
        BeginPdfPage(dc);
        state->pageOpen = true;
    }
    return 1;
}

extern "C" int WINAPI EndPage(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    PrinterState *state = PrinterOf(hdc);
    if (!state || !state->pageOpen)
        return 0;
    ShowPdfPage(dc);
    state->pageOpen = false;
    ++state->pagesDone;
    Report(*state, print::JobEvent::PageDone);
    return 1;
}

extern "C" int WINAPI EndDoc(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    PrinterState *state = PrinterOf(hdc);
    if (!state || !state->documentOpen)
        return 0;
    if (state->pageOpen)
        EndPage(hdc);
    const bool whole = ClosePdf(dc);
    state->documentOpen = false;
    std::unique_ptr<print::JobFile> file = std::move(state->file);
    print::JobHandOver handOver = HandOverOf(*state);
    const print::JobOutcome outcome = whole ? handOver.Deliver(*file) : handOver.Failed(*file);
    if (!outcome.printed)
        return EndFailed(*state, outcome);
    Report(*state, print::JobEvent::Finished, outcome);
    return 1;
}

extern "C" int WINAPI AbortDoc(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    PrinterState *state = PrinterOf(hdc);
    if (!state || !state->documentOpen)
        return 0;
    ClosePdf(dc);
    state->file.reset(); // an aborted job leaves no document
    state->documentOpen = state->pageOpen = false;
    Report(*state, print::JobEvent::Aborted);
    return 1;
}
