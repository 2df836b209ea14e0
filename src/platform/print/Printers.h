// The printers this system prints to: the built-in PDF printer, which writes
// each job as a PDF file into the print directory, and every CUPS
// destination, which receives the job's PDF.
#pragma once

#include <utility>
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
    // Whether dpi is the printer's own resolution (a CUPS destination that
    // gave one): its pages are then drawn on its dots.
    bool dots = false;
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
    // A queue just added whose driver CUPS had not made yet when
    // CupsDetails gave up waiting for it: its jobs are not sent.
    bool driverPending = false;
};

// A paper a destination offers: its PWG name, its size and unprintable
// margins in hundredths of a millimetre (portrait), and whether it is the
// destination's default and whether it is loaded (media-ready).
struct PaperInfo {
    std::string name;
    int width = 0;
    int length = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool isDefault = false;
    bool loaded = false;
};

// What a destination says of itself: its state ("idle", "processing",
// "stopped") with its reasons (IPP keywords, "none" left out) and message,
// where it is and what it is, its papers, resolutions (dots per inch,
// across x down), whether it prints in colour and on both sides.
struct PrinterDescription {
    std::string name;
    bool pdf = false;
    bool isDefault = false;
    std::string state = "idle";
    std::vector<std::string> stateReasons;
    std::string message;
    std::string location;
    std::string makeAndModel;
    std::vector<PaperInfo> papers;
    std::vector<std::pair<int, int>> resolutions;
    bool color = false;
    bool duplex = false;
    // The copies a job may ask for (copies-supported).
    int copiesMin = 1;
    int copiesMax = 1;
    // The smallest and largest custom (or roll) size it takes, hundredths
    // of a millimetre; zero when it takes none.
    PaperInfo customMin, customMax;
};

std::vector<PrinterInfo> ListPrinters();
// Every destination with what it says of itself, the PDF printer first;
// isDefault marks the one DefaultPrinter() answers.
std::vector<PrinterDescription> DescribePrinters();

// The printer the calling thread's jobs go to in place of the default (a
// bridge session's own choice); empty goes back to the default. Not checked
// here: the caller has found the printer first.
void UsePrinterOnThisThread(const std::string &name);
const std::string &PrinterOfThisThread();
// The copies of each job the calling thread starts from now on (1 unless
// told), as a bridge session sets them.
void UseCopiesOnThisThread(int copies);
int CopiesOfThisThread();
bool FindPrinter(const std::string &name, PrinterInfo &info);
// The calling thread's printer when it has one, else QUILLBAY_PRINTER when
// it names a printer, else the CUPS default when a CUPS
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
// Every CUPS destination with its state and capabilities, as libcups and the
// destination's IPP attributes give them.
void CupsDescriptions(std::vector<PrinterDescription> &printers);
void CupsDetails(PrinterInfo &printer, int paperWidth, int paperLength);
// The destination's own resolution (dpi and dots), where it gives one.
void CupsResolution(PrinterInfo &printer);
// How a job's PDF goes to a CUPS queue besides its paper: its copies;
// scaled to fit the printer's own paper rather than at 100 % on the paper
// of its size (fit); handed to a printer that takes PDF itself as it is,
// past CUPS' filters, which put every page of a job on one paper, so that
// each page keeps its own (unfiltered); and what the job's line in the job
// log adds (note).
struct SubmitSettings {
    int copies = 1;
    bool fit = false;
    bool unfiltered = false;
    std::string note;
};

// Sends a job's PDF to its queue: true with where naming the queue and the
// job (and job, when asked for, its number), or false with where saying why
// and error the platform's code for it.
bool CupsSubmit(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
                int paperWidth, int paperLength, std::string &where, DWORD &error,
                int *job = nullptr, const SubmitSettings &settings = {});
// Whether a queue's printer takes PDF itself: a driverless printer reached
// over IPP that lists application/pdf among its document formats.
bool CupsTakesPdfItself(const std::string &queue);
// Whether a queue has no driver at all (a raw queue): it passes what it
// gets to its device unchanged, so only the printer's own commands print.
bool CupsRawQueue(const std::string &queue);
// Why the server did not take a job for the queue (the last request's
// error): in words, and as the platform's code.
void CupsRefusal(const std::string &queue, std::string &why, DWORD &error);
// A CUPS job's state from the server's job history ("pending", "processing",
// "completed", "canceled", "aborted", ...) and the printer's or the
// server's reason; false when the server does not know the job.
bool CupsJobState(int job, std::string &state, std::string &reason);

} // namespace platform::print
