// The desktop's own print-setup dialog: GTK's page-setup dialog, which lists
// the printers CUPS knows, the chosen printer's own papers and the
// orientation. It runs in a helper process of its own on the user's display
// (quillbay-print-setup), so the program it serves never loads GTK; GTK is
// loaded at run time, so a machine without it still runs everything else.
//
//   quillbay-print-setup [--title=TEXT] [--printer=NAME] [--paper=WxL]
//                        [--landscape] [--timeout=SECONDS]
//
// --paper is the preset size in hundredths of a millimetre, portrait. On OK
// it prints the answer, one "key=value" per line (printer, empty for "Any
// Printer"; paper, the paper's name; width and length in hundredths of a
// millimetre, portrait; orientation, portrait or landscape) and exits 0;
// cancelled, closed or timed out it exits 1; bad arguments exit 2; without
// GTK or a display it shows nothing and exits 3.
#pragma once

#include <string>

namespace platform {

class GtkPrintSetup {
public:
    enum ExitCode { kChosen = 0, kCancelled = 1, kBadArguments = 2, kNotShown = 3 };

    // The helper's whole life: the arguments above in, the answer out.
    static int Main(int argc, char **argv);
};

} // namespace platform
