// Previews: the jobs of a thread that previews are rendered, not printed.
// Each job's PDF (the document printing would send) is kept in the
// thread's preview folder with a PNG of its first page beside it.
#pragma once

#include <string>

namespace platform::print {

// Previews the calling thread's jobs from now on into folder (made when
// missing, mode 0700); empty prints them again.
void PreviewJobsOnThisThread(const std::string &folder);
const std::string &PreviewFolderOfThisThread();

// Renders the first page of a PDF as a PNG at 96 dpi beside it (the same
// name ending in .png); the PNG's path, or empty when it could not be made
// (pdftoppm of poppler-utils is not installed).
std::string RenderPreviewImage(const std::string &pdf);

} // namespace platform::print
