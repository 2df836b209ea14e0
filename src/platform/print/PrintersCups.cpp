// CUPS destinations: listing, their resolution and margins, and jobs.
//
// A job's PDF goes to the queue as application/pdf, always with its media
// size, so the queue prints it on the paper it was made for instead of
// rescaling it to its own default paper.
#include <cups/cups.h>
#include <cstdio>
#include <string>

#include "Printers.h"

namespace platform::print {
namespace {

// The IPP media name for a paper in tenths of a millimetre.
std::string MediaName(int paperWidth, int paperLength) {
    int w = paperWidth < paperLength ? paperWidth : paperLength;
    int h = paperWidth < paperLength ? paperLength : paperWidth;
    if (w == 2100 && h == 2970)
        return "iso_a4_210x297mm";
    if (w == 1480 && h == 2100)
        return "iso_a5_148x210mm";
    char name[64];
    if (w % 10 == 0 && h % 10 == 0)
        snprintf(name, sizeof name, "custom_%dx%dmm", w / 10, h / 10);
    else
        snprintf(name, sizeof name, "custom_%d.%dx%d.%dmm", w / 10, w % 10, h / 10, h % 10);
    return name;
}

std::string NameOf(const cups_dest_t &dest) {
    return dest.instance ? std::string(dest.name) + "/" + dest.instance : dest.name;
}

} // namespace

bool CupsPrinters(std::vector<PrinterInfo> &printers, std::string &defaultName) {
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < count; ++i) {
        PrinterInfo info;
        info.name = NameOf(dests[i]);
        if (dests[i].is_default)
            defaultName = info.name;
        printers.push_back(info);
    }
    cupsFreeDests(count, dests);
    return count > 0;
}

void CupsDetails(PrinterInfo &printer, int paperWidth, int paperLength) {
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::string name = printer.name.substr(0, printer.name.find('/'));
    std::string instance = printer.name.find('/') == std::string::npos
                               ? ""
                               : printer.name.substr(printer.name.find('/') + 1);
    cups_dest_t *dest = cupsGetDest(name.c_str(), instance.empty() ? nullptr : instance.c_str(),
                                    count, dests);
    cups_dinfo_t *info = dest ? cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest) : nullptr;
    if (info) {
        if (ipp_attribute_t *res = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info,
                                                       "printer-resolution")) {
            int y = 0;
            ipp_res_t units;
            int x = ippGetResolution(res, 0, &y, &units);
            if (x > 0)
                printer.dpi = units == IPP_RES_PER_CM ? static_cast<int>(x * 2.54 + 0.5) : x;
        }
        cups_size_t size{};
        std::string media = MediaName(paperWidth, paperLength);
        if (cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest, info, media.c_str(),
                                   CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
            printer.marginLeft = size.left;
            printer.marginRight = size.right;
            printer.marginTop = size.top;
            printer.marginBottom = size.bottom;
        }
        cupsFreeDestInfo(info);
    }
    cupsFreeDests(count, dests);
}

bool CupsSubmit(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
                int paperWidth, int paperLength, std::string &where) {
    cups_option_t *options = nullptr;
    int count = 0;
    std::string media = MediaName(paperWidth, paperLength);
    count = cupsAddOption(CUPS_MEDIA, media.c_str(), count, &options);
    count = cupsAddOption("document-format", CUPS_FORMAT_PDF, count, &options);
    std::string queue = printer.name.substr(0, printer.name.find('/'));
    int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.c_str(), pdfPath.c_str(), title.c_str(),
                             count, options);
    cupsFreeOptions(count, options);
    if (job <= 0) {
        where = std::string("CUPS refused the job: ") + cupsLastErrorString();
        return false;
    }
    where = "CUPS queue " + printer.name + ", job " + std::to_string(job);
    return true;
}

} // namespace platform::print
