// What a printer device context holds of its printer and of its job.
#pragma once

#include <memory>
#include <string>

#include "../gdi/wingdi.h"
#include "Printers.h"

namespace platform::print {
class JobFile;
}

namespace platform::gdi {

struct PrinterState {
    print::PrinterInfo printer;
    DEVMODEA devmode{};
    int paperWidth = 0; // tenths of a millimetre, as the paper lies for the job
    int paperLength = 0;
    std::string title; // the document's name, UTF-8
    // The PDF being written, until the job is handed over; a job that never
    // ends leaves nothing of it.
    std::unique_ptr<print::JobFile> file;
    bool documentOpen = false;
    bool pageOpen = false;
    int jobId = 0;
    int pagesDone = 0; // pages ended in this job
    int copies = 1;    // asked for when the job started

    ~PrinterState();
};

} // namespace platform::gdi
