// The media types of printer command languages as printers list them in
// document-format-supported (the types LPrint's drivers give, and CUPS'
// raw format, which a print server passes on to its printer unchanged):
// bytes in one of these are the printer's own commands, not a document.
#pragma once

#include <cstring>

namespace platform::print {

inline constexpr const char *kPrinterLanguages[] = {
    "application/vnd.zebra-zpl",  // Zebra Programming Language
    "application/vnd.eltron-epl", // Eltron Programming Language (EPL2)
    "application/vnd.dymo-lw",    // DYMO LabelWriter commands
    "application/vnd.cups-raw",   // a CUPS server's raw jobs
};
static_assert(sizeof kPrinterLanguages / sizeof kPrinterLanguages[0] == 4);

inline bool IsPrinterLanguage(const char *type) {
    for (const char *language : kPrinterLanguages) {
        if (type && strcmp(type, language) == 0)
            return true;
    }
    return false;
}

} // namespace platform::print
