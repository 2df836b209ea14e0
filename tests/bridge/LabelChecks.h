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
// The label's serial ("000042") is in its text and its Code 128 symbol;
// with `pdf417`, the PDF417 symbol is read back too. Empty when right,
// else what is wrong.
std::string CheckLabel(const std::string &pdf, int labelNumber, bool pdf417);
// Whether two PDFs show the same pixels (rasterised at 100 dpi).
bool SamePixels(const std::string &a, const std::string &b);

} // namespace bridge_test
