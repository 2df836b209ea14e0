#include "Printers.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A file name for the document: its title, the time and a serial.
std::string OutputName(const std::string &title) {
    std::string safe;
    for (unsigned char c : title) {
        if (c == '/' || c == '\\' || c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"')
            safe += '_';
        else
            safe += static_cast<char>(c);
    }
    if (safe.empty())
        safe = "document";
    char stamp[64];
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    static std::atomic<int> serial{0}; // jobs of several threads end at once
    return safe + "-" + stamp + "-" + std::to_string(getpid()) + "-" + std::to_string(++serial) +
           ".pdf";
}

std::string JobLog() {
    return HomeDirectory() + "/print-jobs.log";
}

void RecordJob(const std::string &printer, const std::string &where, const std::string &title) {
    if (FILE *file = fopen(JobLog().c_str(), "a")) {
        fprintf(file, "%ld\t%s\t%s\t%s\n", static_cast<long>(time(nullptr)), printer.c_str(),
                where.c_str(), title.c_str());
        fclose(file);
    }
}

} // namespace

std::vector<JobRecord> RecordedJobs() {
    std::vector<JobRecord> jobs;
    FILE *file = fopen(JobLog().c_str(), "r");
    if (!file)
        return jobs;
    char *line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, file) > 0) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        const size_t a = text.find('\t'), b = text.find('\t', a + 1), c = text.find('\t', b + 1);
        if (c == std::string::npos)
            continue;
        JobRecord job;
        job.time = strtol(text.c_str(), nullptr, 10);
        job.printer = text.substr(a + 1, b - a - 1);
        job.where = text.substr(b + 1, c - b - 1);
        job.title = text.substr(c + 1);
        const size_t number = job.where.find(", job ");
        if (job.where.rfind("CUPS queue ", 0) == 0 && number != std::string::npos)
            job.cupsJob = atoi(job.where.c_str() + number + 6);
        jobs.push_back(job);
    }
    free(line);
    fclose(file);
    return jobs;
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

PrinterInfo DefaultPrinter() {
    PrinterInfo info;
    if (const char *env = getenv("QUILLBAY_PRINTER"); env && *env && FindPrinter(env, info))
        return info;
    std::vector<PrinterInfo> printers;
    std::string cupsDefault;
    if (CupsPrinters(printers, cupsDefault) && !cupsDefault.empty() &&
        FindPrinter(cupsDefault, info))
        return info;
    return PdfPrinter();
}

bool SubmitJob(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
               int paperWidth, int paperLength, std::string &where) {
    bool ok;
    if (printer.pdf) {
        where = PrintDirectory() + "/" + OutputName(title);
        ok = rename(pdfPath.c_str(), where.c_str()) == 0;
        if (!ok)
            where = "not written to " + where + ": " + strerror(errno);
    } else {
        ok = CupsSubmit(printer, pdfPath, title, paperWidth, paperLength, where);
        unlink(pdfPath.c_str());
    }
    // Every job is recorded, refused ones too: none vanishes silently.
    RecordJob(printer.name, where, title);
    return ok;
}

} // namespace platform::print
