// The label of tests/fixtures/bridge/label.js, checked in its PDF as the
// printing tests check theirs: its text, and its barcodes read back by an
// independent reader, in regions that hold whatever the printer's margin.
#pragma once

#include <string>
#include <vector>

namespace bridge_test {

// The label's script, and the page that runs it after the bridge's client.
std::string LabelScript();
std::string LabelPage(const std::string &bridge, int labelNumber);

// The PDF files in a folder, oldest first.
std::vector<std::string> PdfFiles(const std::string &dir);
// How much of a label to check: its text (the serial "000042" and the
// fixed lines), then its Code 128 symbol, then its PDF417 symbol.
enum class LabelCheck { Text, Code128, Pdf417 };
// Empty when the label is right, else what is wrong.
std::string CheckLabel(const std::string &pdf, int labelNumber,
                       LabelCheck depth = LabelCheck::Pdf417);
// Whether two PDFs show the same pixels (rasterised at 100 dpi).
bool SamePixels(const std::string &a, const std::string &b);

} // namespace bridge_test
