#include "JobHandOver.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "../kernel/FileMove.h"
#include "../kernel/PathRules.h"
#include "../user/UiHost.h"
#include "JobErrors.h"
#include "JobLog.h"
#include "JobPreview.h"

namespace platform::print {
namespace {

// How much of a title goes into a file name: a name of the folder holds at
// most 255 bytes, and the time and serial follow it.
constexpr size_t kTitleInName = 96;

// A file name for a job's document: its title (cut on a character's
// boundary), the time and a serial, and the ending.
std::string OutputName(const std::string &title, const char *ending) {
    std::string safe;
    for (unsigned char c : title) {
        if (c == '/' || c == '\\' || c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"')
            safe += '_';
        else
            safe += static_cast<char>(c);
    }
    if (safe.size() > kTitleInName) {
        size_t cut = kTitleInName;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        safe.resize(cut);
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
           ending;
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

JobOutcome Refused(DWORD error, const std::string &reason) {
    JobOutcome outcome;
    outcome.error = error;
    outcome.reason = reason;
    outcome.where = "not printed: " + reason;
    return outcome;
}

// Tells the user of a job that did not print, and what became of its page;
// the host shows it without holding up the page.
void TellUser(const JobOutcome &outcome, const std::string &printer, const std::string &title) {
    std::string text = printer + ": " + outcome.reason + ".";
    if (!outcome.kept.empty())
        text += " The page is kept, unprinted, as " + outcome.kept + "; quillbay-jobs --reprint " +
                std::to_string(outcome.number) + " prints it.";
    else
        text += " Nothing was printed.";
    UiHost::Current().Notify("Not printed: " + title, text);
}

} // namespace

JobHandOver::JobHandOver(PrinterInfo printer, std::string title, int paperWidth, int paperLength,
                         SubmitSettings settings)
    : m_printer(std::move(printer)), m_title(std::move(title)), m_paperWidth(paperWidth),
      m_paperLength(paperLength), m_settings(std::move(settings)) {}

JobOutcome JobHandOver::Failed(const JobFile &file) {
    JobOutcome outcome;
    outcome.error = file.Error() ? file.Error() : ERROR_WRITE_FAULT;
    outcome.reason = JobErrorText(outcome.error) + ", writing in " + file.Folder();
    outcome.where = "failed: " + outcome.reason;
    return Record(outcome, false, 0);
}

JobOutcome JobHandOver::Deliver(JobFile &file) {
    if (!file.Close())
        return Failed(file);
    if (!PreviewFolderOfThisThread().empty())
        return Preview(file);
    JobOutcome outcome;
    if (m_printer.pdf) {
        outcome.where = file.Folder() + "/" + OutputName(m_title, ".pdf");
        if (!file.Commit(outcome.where))
            return Failed(file);
        outcome.printed = true;
        return Record(outcome, false, 0);
    }
    outcome.printed = CupsSubmit(m_printer, file.Path(), m_title, m_paperWidth, m_paperLength,
                                 outcome.where, outcome.error, &outcome.cupsJob, m_settings);
    if (outcome.printed) {
        file.Discard();
        return Record(outcome, false, 0);
    }
    return Kept(file, Refused(outcome.error, outcome.where));
}

// A previewed job keeps the document it would have sent in the preview
// folder (where its file was written), under the job's own name.
JobOutcome JobHandOver::Preview(JobFile &file) {
    const std::string pdf = file.Folder() + "/" + OutputName(m_title, ".pdf");
    if (!file.Commit(pdf))
        return Failed(file);
    JobOutcome outcome;
    outcome.printed = true;
    outcome.where = "previewed on " + m_printer.name + ": " + pdf;
    outcome.previewPdf = pdf;
    outcome.previewPng = RenderPreviewImage(pdf);
    return outcome;
}

// A job the printer did not take keeps its whole document in the print
// folder under a name that says it is not printed.
JobOutcome JobHandOver::Kept(JobFile &file, JobOutcome outcome) {
    const std::string kept = file.Folder() + "/" + OutputName(m_title, ".not-printed.pdf");
    if (file.Commit(kept)) {
        outcome.kept = kept;
        outcome.where += "; the page is kept as " + kept;
    } else {
        outcome.where += "; the page could not be kept: " + JobErrorText(file.Error());
    }
    return Record(outcome, !outcome.kept.empty(), 0);
}

JobOutcome JobHandOver::Record(JobOutcome outcome, bool keptHere, int reprintOf) {
    JobRecord record;
    record.printer = m_printer.name;
    record.where = outcome.where;
    record.title = m_title;
    record.failed = !outcome.printed;
    record.error = outcome.error;
    record.reprintOf = reprintOf;
    if (keptHere) {
        record.kept = outcome.kept;
        record.paperWidth = m_paperWidth;
        record.paperLength = m_paperLength;
    }
    JobLog::Append(record, &outcome.number);
    if (!outcome.printed && reprintOf == 0)
        TellUser(outcome, m_printer.name, m_title);
    return outcome;
}

JobOutcome JobHandOver::Reprint(int number, const std::string &printerName) {
    JobRecord job;
    for (const JobRecord &entry : JobLog::Read()) {
        if (entry.number == number)
            job = entry;
    }
    if (job.number == 0)
        return Refused(ERROR_INVALID_PARAMETER, "the job log has no job " + std::to_string(number));
    if (job.kept.empty())
        return Refused(ERROR_FILE_NOT_FOUND,
                       "job " + std::to_string(number) + " has no page kept to print again");
    PrinterInfo printer;
    const std::string name = printerName.empty() ? job.printer : printerName;
    if (!FindPrinter(name, printer))
        return Refused(ERROR_INVALID_PRINTER_NAME, "there is no printer " + name);
    // Taking the kept file under a name of its own first: of two reprints at
    // once only one finds it, so the page prints once.
    const std::string sending = job.kept + ".sending";
    if (int error = MoveFileWhole(job.kept, sending, false, false))
        return Refused(error == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(error),
                       "the kept page " + job.kept + " is gone (printed again already?)");
    if (!printer.pdf)
        CupsDetails(printer, job.paperWidth, job.paperLength);
    JobHandOver handOver(printer, job.title, job.paperWidth, job.paperLength);
    JobOutcome outcome = handOver.SendAgain(sending, number);
    if (!outcome.printed) {
        MoveFileWhole(sending, job.kept, false, false); // kept as it was
        outcome.kept = job.kept;
    }
    return handOver.Record(outcome, false, number);
}

// Sends a kept document: to a CUPS queue, or into the print folder as the
// PDF printer's job.
JobOutcome JobHandOver::SendAgain(const std::string &document, int number) {
    JobOutcome outcome;
    if (m_printer.pdf) {
        outcome.where = FolderOf(document) + "/" + OutputName(m_title, ".pdf");
        if (int error = MoveFileWhole(document, outcome.where, false, true))
            return Refused(ErrorFromErrno(error), JobErrorText(ErrorFromErrno(error)));
        outcome.printed = true;
    } else {
        outcome.printed = CupsSubmit(m_printer, document, m_title, m_paperWidth, m_paperLength,
                                     outcome.where, outcome.error, &outcome.cupsJob);
        if (!outcome.printed)
            return Refused(outcome.error, outcome.where);
        unlink(document.c_str());
        SyncFolder(FolderOf(document));
    }
    outcome.where += " (job " + std::to_string(number) + " printed again)";
    return outcome;
}

} // namespace platform::print
