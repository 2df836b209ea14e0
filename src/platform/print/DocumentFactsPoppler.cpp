// A PDF's pages read with poppler's C++ interface.
#include <climits>
#include <memory>
#include <mutex>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include "DocumentFacts.h"

namespace platform::print {
namespace {

// Poppler writes what it finds wrong in a file to the standard error: a
// page's bad PDF is the page's error, answered to it, not the process's.
void Quietly(const std::string &, void *) {}

} // namespace

bool ReadPdfFacts(std::string_view bytes, DocumentFacts &facts, std::string &why) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(Quietly, nullptr); });
    if (bytes.size() > INT_MAX) {
        why = "the PDF is larger than 2 GB";
        return false;
    }
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    if (!document) {
        why = "the PDF is broken: it cannot be read";
        return false;
    }
    if (document->is_locked() || document->is_encrypted()) {
        why = "the PDF is encrypted";
        return false;
    }
    const int count = document->pages();
    for (int index = 0; index < count; ++index) {
        std::unique_ptr<poppler::page> page(document->create_page(index));
        const poppler::rectf box = page ? page->page_rect() : poppler::rectf();
        if (box.width() <= 0 || box.height() <= 0) {
            why = "the PDF is broken: its page " + std::to_string(index + 1) + " has no size";
            return false;
        }
        const auto turn = page->orientation();
        const bool sideways =
            turn == poppler::page::landscape || turn == poppler::page::seascape;
        facts.pages.emplace_back(sideways ? box.height() : box.width(),
                                 sideways ? box.width() : box.height());
    }
    if (facts.pages.empty()) {
        why = "the PDF has no pages";
        return false;
    }
    return true;
}

} // namespace platform::print
