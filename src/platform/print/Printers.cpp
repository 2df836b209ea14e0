#include "Printers.h"

#include <cstdlib>
#include <strings.h>
#include <sys/stat.h>

#include "../kernel/PathRules.h"

namespace platform::print {
namespace {

PrinterInfo PdfPrinter() {
    PrinterInfo pdf;
    pdf.name = kPdfPrinterName;
    pdf.pdf = true;
    pdf.dpi = 600;
    // A virtual printer has no hardware margin: the printable area is the
    // paper, so device (0, 0) is the paper's corner and a PDF printed later
    // at actual size has everything where the page put it.
    return pdf;
}

thread_local std::string t_printer;
thread_local int t_copies = 1;

} // namespace

void UsePrinterOnThisThread(const std::string &name) {
    t_printer = name;
}

const std::string &PrinterOfThisThread() {
    return t_printer;
}

void UseCopiesOnThisThread(int copies) {
    t_copies = copies > 0 ? copies : 1;
}

int CopiesOfThisThread() {
    return t_copies;
}

std::string PrintDirectory() {
    std::string dir;
    if (const char *env = getenv("QUILLBAY_PRINT_DIR"); env && *env)
        dir = env;
    else
        dir = HomeDirectory() + "/prints";
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/')
            mkdir(dir.substr(0, i).c_str(), 0755);
    }
    return dir;
}

std::vector<PrinterInfo> ListPrinters() {
    std::vector<PrinterInfo> printers{PdfPrinter()};
    std::string cupsDefault;
    CupsPrinters(printers, cupsDefault);
    PrinterInfo chosen = DefaultPrinter();
    for (PrinterInfo &p : printers)
        p.isDefault = p.name == chosen.name;
    return printers;
}

bool FindPrinter(const std::string &name, PrinterInfo &info) {
    if (strcasecmp(name.c_str(), kPdfPrinterName) == 0) {
        info = PdfPrinter();
        return true;
    }
    std::vector<PrinterInfo> printers;
    std::string cupsDefault;
    CupsPrinters(printers, cupsDefault);
    for (const PrinterInfo &p : printers) {
        if (strcasecmp(p.name.c_str(), name.c_str()) == 0) {
            info = p;
            return true;
        }
    }
    return false;
}

std::vector<PrinterDescription> DescribePrinters() {
    PrinterDescription pdf;
    pdf.name = kPdfPrinterName;
    pdf.pdf = true;
    pdf.makeAndModel = "PDF files in " + PrintDirectory();
    pdf.resolutions = {{600, 600}};
    pdf.color = true;
    // It takes any size (a page's PDF is the paper it was made for); these
    // are the sizes the print-setup dialog offers it, A4 its default.
    pdf.papers = {{"iso_a4_210x297mm", 21000, 29700, 0, 0, 0, 0, true, true},
                  {"iso_a5_148x210mm", 14800, 21000, 0, 0, 0, 0, false, true},
                  {"jis_b5_182x257mm", 18200, 25700, 0, 0, 0, 0, false, true},
                  {"na_letter_8.5x11in", 21590, 27940, 0, 0, 0, 0, false, true}};
    std::vector<PrinterDescription> printers{pdf};
    CupsDescriptions(printers);
    // The default as DefaultPrinter() finds it, from the list itself: the
    // thread's printer, else QUILLBAY_PRINTER, else CUPS' default (marked
    // by CupsDescriptions), else the PDF printer.
    auto named = [&printers](const char *name) {
        for (size_t i = 0; name && *name && i < printers.size(); ++i) {
            if (strcasecmp(printers[i].name.c_str(), name) == 0)
                return static_cast<int>(i);
        }
        return -1;
    };
    int chosen = named(t_printer.c_str());
    if (chosen < 0)
        chosen = named(getenv("QUILLBAY_PRINTER"));
    for (size_t i = 1; chosen < 0 && i < printers.size(); ++i) {
        if (printers[i].isDefault)
            chosen = static_cast<int>(i);
    }
    for (size_t i = 0; i < printers.size(); ++i)
        printers[i].isDefault = static_cast<int>(i) == (chosen < 0 ? 0 : chosen);
    return printers;
}

PrinterInfo DefaultPrinter() {
    PrinterInfo info;
    if (!t_printer.empty() && FindPrinter(t_printer, info))
        return info;
    if (const char *env = getenv("QUILLBAY_PRINTER"); env && *env && FindPrinter(env, info))
        return info;
    std::vector<PrinterInfo> printers;
    std::string cupsDefault;
    if (CupsPrinters(printers, cupsDefault) && !cupsDefault.empty() &&
        FindPrinter(cupsDefault, info))
        return info;
    return PdfPrinter();
}

} // namespace platform::print
