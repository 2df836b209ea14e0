// The printers this system prints to: the built-in PDF printer, which writes
// each job as a PDF file into the print directory, and every CUPS
// destination, which receives the job's PDF.
#pragma once

#include <string>
#include <vector>

namespace platform::print {

// The built-in PDF printer's name.
inline constexpr const char *kPdfPrinterName = "Quillbay PDF";

struct PrinterInfo {
    std::string name; // UTF-8
    bool pdf = false; // the built-in PDF printer
    bool isDefault = false;
    int dpi = 600;
    // Unprintable margins, hundredths of a millimetre.
    int marginLeft = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
};

std::vector<PrinterInfo> ListPrinters();
bool FindPrinter(const std::string &name, PrinterInfo &info);
// QUILLBAY_PRINTER when it names a printer, else the CUPS default when a CUPS
// server answers, else the PDF printer.
PrinterInfo DefaultPrinter();

// Hands a finished job's PDF to the printer; `where` tells where it went
// (the file written, or the queue and job). The paper is in tenths of a
// millimetre, as the page was made.
bool SubmitJob(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
               int paperWidth, int paperLength, std::string &where);

// Where the built-in printer writes: QUILLBAY_PRINT_DIR, else
// $QUILLBAY_HOME/prints (made when missing).
std::string PrintDirectory();

// CUPS (PrintersCups.cpp).
bool CupsPrinters(std::vector<PrinterInfo> &printers, std::string &defaultName);
void CupsDetails(PrinterInfo &printer, int paperWidth, int paperLength);
bool CupsSubmit(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
                int paperWidth, int paperLength, std::string &where);

} // namespace platform::print
