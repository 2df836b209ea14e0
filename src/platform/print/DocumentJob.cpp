#include "DocumentJob.h"

#include <cmath>

#include "../kernel/winerror.h"
#include "ImagePdf.h"
#include "JobEvents.h"
#include "JobFile.h"
#include "JobHandOver.h"
#include "JobLog.h"
#include "JobPreview.h"
#include "Printers.h"

namespace platform::print {
namespace {

constexpr const char *kDefaultTitle = "Document";
constexpr double kPointsPerInch = 72;
// An image that gives no resolution has the pixels of a screen.
constexpr double kScreenDpi = 96;

// Tenths of a millimetre, as papers are chosen, from points.
int Tenths(double points) {
    return static_cast<int>(std::lround(points * 254 / kPointsPerInch));
}

double Points(int hundredthsOfMm) {
    return hundredthsOfMm * kPointsPerInch / 2540;
}

// What the job is on paper: its page's size (tenths of a millimetre), how
// CUPS is to take it, and for an image where it goes on its page.
struct Layout {
    int paperWidth = 0, paperLength = 0;
    SubmitSettings settings;
    ImagePlacement placement;
};

std::string Millimetres(double points) {
    char text[32];
    snprintf(text, sizeof text, "%g", std::round(points * 254 / kPointsPerInch) / 10);
    return text;
}

Layout PdfLayout(const DocumentFacts &facts, PrinterInfo &printer, const DocumentOrder &order) {
    Layout layout;
    const auto &[width, length] = facts.pages.front();
    layout.paperWidth = Tenths(width);
    layout.paperLength = Tenths(length);
    layout.settings.fit = order.fit;
    const size_t pages = facts.pages.size();
    layout.settings.note = std::to_string(pages) + (pages == 1 ? " page, " : " pages, ") +
                           Millimetres(width) + " x " + Millimetres(length) + " mm";
    if (printer.pdf)
        return layout;
    if (facts.MixedSizes() && !order.fit) {
        layout.settings.unfiltered = CupsTakesPdfItself(printer.name);
        layout.settings.note += layout.settings.unfiltered
                                    ? " and other sizes, as they are to a printer that takes "
                                      "PDF: each page on its own paper"
                                    : " and other sizes, all on the first page's paper (the "
                                      "printer does not take PDF itself)";
    }
    CupsDetails(printer, layout.paperWidth, layout.paperLength);
    return layout;
}

// An image at its resolution keeps its size; on a printer's paper larger
// than it by more than a dot, it goes on a page of the paper's size with
// its top-left corner on the paper's. Without a resolution, or fitted, it
// is scaled to the printer's own paper.
Layout ImageLayout(const DocumentFacts &facts, PrinterInfo &printer, const DocumentOrder &order) {
    Layout layout;
    const bool known = facts.dpiX > 0 && facts.dpiY > 0;
    ImagePlacement &place = layout.placement;
    place.width = facts.width * kPointsPerInch / (known ? facts.dpiX : kScreenDpi);
    place.height = facts.height * kPointsPerInch / (known ? facts.dpiY : kScreenDpi);
    place.pageWidth = place.width;
    place.pageHeight = place.height;
    layout.paperWidth = Tenths(place.width);
    layout.paperLength = Tenths(place.height);
    layout.settings.note = "an image of " + std::to_string(facts.width) + " x " +
                           std::to_string(facts.height) + " pixels";
    if (printer.pdf)
        return layout;
    layout.settings.fit = order.fit || !known;
    CupsDetails(printer, layout.paperWidth, layout.paperLength);
    if (layout.settings.fit || printer.media.empty())
        return layout;
    const bool landscape = place.width > place.height;
    const double paperWidth = Points(landscape ? printer.mediaLength : printer.mediaWidth),
                 paperHeight = Points(landscape ? printer.mediaWidth : printer.mediaLength);
    const double dot = kPointsPerInch / printer.dpi;
    if (paperWidth - place.width > dot || paperHeight - place.height > dot) {
        place.pageWidth = paperWidth;
        place.pageHeight = paperHeight;
    }
    return layout;
}

JobEvent EventOf(JobEvent::Stage stage, const DocumentResult &result, const std::string &title) {
    JobEvent event{stage,        result.jobId, title,       result.printer,
                   result.pages, result.where, result.reason, result.kept};
    event.cupsJob = result.cupsJob;
    event.previewPdf = result.previewPdf;
    event.previewPng = result.previewPng;
    return event;
}

DocumentResult Refused(DocumentResult result, DocumentResult::Refusal refusal, DWORD error,
                       const std::string &why, const std::string &title) {
    result.refusal = refusal;
    result.error = error;
    result.reason = why;
    result.where = "refused: " + why;
    JobRecord record;
    record.printer = result.printer;
    record.where = result.where;
    record.title = title;
    record.failed = true;
    record.error = error;
    JobLog::Append(record, &result.number);
    return result;
}

std::string TitleOf(const std::string &title) {
    return title.empty() ? kDefaultTitle : title;
}

} // namespace

DocumentResult DocumentJob::Refuse(const std::string &printer, const std::string &title,
                                   const std::string &why) {
    DocumentResult result;
    result.printer = printer;
    return Refused(result, DocumentResult::kBadDocument, ERROR_INVALID_DATA, why, TitleOf(title));
}

DocumentResult DocumentJob::Print(const std::string &name, std::string_view bytes,
                                  const DocumentOrder &order) {
    const std::string title = TitleOf(order.title);
    DocumentResult result;
    result.printer = name;
    PrinterInfo printer;
    if (!FindPrinter(name, printer))
        return Refused(result, DocumentResult::kNoPrinter, ERROR_INVALID_PRINTER_NAME,
                       "there is no printer " + name, title);
    result.printer = printer.name;
    DocumentFacts facts;
    std::string why;
    if (!ReadDocumentFacts(bytes, order.format, facts, why))
        return Refused(result, DocumentResult::kBadDocument, ERROR_INVALID_DATA, why, title);
    if (!printer.pdf && CupsRawQueue(printer.name))
        return Refused(result, DocumentResult::kRawQueue, ERROR_NOT_SUPPORTED,
                       printer.name +
                           " is a raw queue: it prints a printer's own commands only; send "
                           "those as raw commands",
                       title);
    const bool pdf = facts.format == DocumentFormat::kPdf;
    result.format = DocumentFormatName(facts.format);
    result.pages = pdf ? static_cast<int>(facts.pages.size()) : 1;
    Layout layout = pdf ? PdfLayout(facts, printer, order) : ImageLayout(facts, printer, order);
    layout.settings.copies = order.copies;

    const std::string &preview = PreviewFolderOfThisThread();
    JobFile file(preview.empty() ? PrintDirectory() : preview);
    bool written = !file.Error();
    if (written && pdf)
        written = file.Write(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    else if (written && !ImagePdf::Write(bytes, facts, layout.placement, file, why) &&
             !file.Error())
        return Refused(result, DocumentResult::kBadDocument, ERROR_INVALID_DATA, why, title);

    result.jobId = NewJobId();
    ReportJob(EventOf(JobEvent::Started, result, title));
    JobHandOver handOver(printer, title, layout.paperWidth, layout.paperLength, layout.settings);
    const JobOutcome outcome = written ? handOver.Deliver(file) : handOver.Failed(file);
    result.error = outcome.error;
    result.where = outcome.where;
    result.reason = outcome.reason;
    result.kept = outcome.kept;
    result.cupsJob = outcome.cupsJob;
    result.number = outcome.number;
    result.previewPdf = outcome.previewPdf;
    result.previewPng = outcome.previewPng;
    if (!outcome.printed) {
        result.refusal = DocumentResult::kNotPrinted;
        ReportJob(EventOf(JobEvent::Failed, result, title));
        return result;
    }
    ReportJob(EventOf(JobEvent::Finished, result, title));
    return result;
}

} // namespace platform::print
