// The script host's page reader on arbitrary pages: its object tags,
// script blocks and onload handler. Scripts named by src are looked for in
// an empty folder of the run's own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzState.h"
#include "HtmlPage.h"

namespace {

std::string EmptyFolder() {
    static const std::string folder = [] {
        std::string path = fuzz_state::ScratchPath("page");
        mkdir(path.c_str(), 0700);
        return path;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static volatile size_t sink;
    const HtmlPage page =
        ParseHtmlPage(std::string(reinterpret_cast<const char *>(data), size), EmptyFolder());
    size_t sum = page.onload.size();
    for (const PageItem &item : page.items)
        sum += item.classId.size() + item.id.size() + item.code.size() + item.origin.size();
    sink = sum;
    return 0;
}
