// The printers this system prints to: the built-in PDF printer, which writes
// each job as a PDF file into the print directory, and every CUPS
// destination, which receives the job's PDF.
#pragma once

#include <string>
#include <vector>

#include "../kernel/windef.h"

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
    // A CUPS destination's media for the job's page (its PWG name and size in
    // hundredths of a millimetre, portrait), once CupsDetails chose it.
    std::string media;
    int mediaWidth = 0;
    int mediaLength = 0;
};

std::vector<PrinterInfo> ListPrinters();
bool FindPrinter(const std::string &name, PrinterInfo &info);
// QUILLBAY_PRINTER when it names a printer, else the CUPS default when a CUPS
// server answers, else the PDF printer.
PrinterInfo DefaultPrinter();

// Where the built-in printer writes: QUILLBAY_PRINT_DIR, else
// $QUILLBAY_HOME/prints (made when missing).
std::string PrintDirectory();

// CUPS (PrintersCups.cpp). CupsDetails asks the destination for its
// resolution and for the media that takes a page of the given size (tenths
// of a millimetre): its own media of that size, else a custom size in its
// range, else the smallest of its sizes that holds the page; the margins
// come from that media entry.
bool CupsPrinters(std::vector<PrinterInfo> &printers, std::string &defaultName);
void CupsDetails(PrinterInfo &printer, int paperWidth, int paperLength);
// Sends a job's PDF to its queue: true with where naming the queue and the
// job, or false with where saying why and error the platform's code for it.
bool CupsSubmit(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
                int paperWidth, int paperLength, std::string &where, DWORD &error);
// A CUPS job's state from the server's job history ("pending", "processing",
// "completed", "canceled", "aborted", ...) and the printer's or the
// server's reason; false when the server does not know the job.
bool CupsJobState(int job, std::string &state, std::string &reason);

} // namespace platform::print
