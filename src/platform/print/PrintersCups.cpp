// CUPS destinations: listing, their resolution, media and margins, jobs and
// the jobs' final states.
//
// A job's PDF goes to the queue as application/pdf with the media the
// destination itself offers for the page (asked by size, with the PWG names
// libcups knows) and print-scaling=none, so the page comes out at 100 % on
// the paper it was made for, or on the smallest paper that holds it.
#include <cups/cups.h>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../kernel/winerror.h"
#include "CupsDestination.h"
#include "Printers.h"

namespace platform::print {
namespace {

// Hundredths of a millimetre from tenths, the shorter side first.
void PortraitSize(int paperWidth, int paperLength, int &width, int &length) {
    width = 10 * (paperWidth < paperLength ? paperWidth : paperLength);
    length = 10 * (paperWidth < paperLength ? paperLength : paperWidth);
}

// The PWG name of a size when the destination could not be asked (its
// capabilities not loaded yet): the standard size's own name, else a custom
// size named by its dimensions.
std::string PwgName(int width, int length) {
    if (pwg_media_t *media = pwgMediaForSize(width, length))
        return media->pwg;
    char name[IPP_MAX_NAME];
    pwgFormatSizeName(name, sizeof name, "custom", nullptr, width, length, nullptr);
    return name;
}

// Whether a printer's paper is the page's own: printers give a size in
// their own units (points, inches, hundredths of a millimetre rounded), so
// the page's paper may come back a fraction of a millimetre off, and a
// paper listed across (a roll's) is the same paper turned.
bool SamePaper(int paperWidth, int paperLength, int width, int length) {
    constexpr int kTolerance = 100; // 1 mm
    auto close = [](int a, int b) { return std::abs(a - b) <= kTolerance; };
    return (close(paperWidth, width) && close(paperLength, length)) ||
           (close(paperWidth, length) && close(paperLength, width));
}

std::string NameOf(const cups_dest_t &dest) {
    return dest.instance ? std::string(dest.name) + "/" + dest.instance : dest.name;
}

// The destination's custom size limits (its "custom_min_" and
// "custom_max_" media, as libcups names a roll's or a custom range's);
// false when it takes none.
bool CustomLimits(cups_dest_t *dest, cups_dinfo_t *info, pwg_media_t &least, pwg_media_t &most) {
    ipp_attribute_t *media = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA);
    // pwgMediaForPWG answers custom names in one buffer per thread: copy.
    least = most = pwg_media_t{};
    for (int i = 0; media && i < ippGetCount(media); ++i) {
        const char *name = ippGetString(media, i, nullptr);
        pwg_media_t *size = name ? pwgMediaForPWG(name) : nullptr;
        if (size && strncmp(name, "custom_min_", 11) == 0)
            least = *size;
        else if (size && strncmp(name, "custom_max_", 11) == 0)
            most = *size;
    }
    return most.width > 0;
}

// Whether the destination takes custom sizes and the size lies in their range.
bool TakesCustomSize(cups_dest_t *dest, cups_dinfo_t *info, int width, int length) {
    pwg_media_t least{}, most{};
    return CustomLimits(dest, info, least, most) && width >= least.width && width <= most.width &&
           length >= least.length && length <= most.length;
}

// Among the destination's own media: the smallest that holds the page, or
// (for a custom size) the one with the smallest margins.
bool BestListedMedia(cups_dest_t *dest, cups_dinfo_t *info, int width, int length, bool custom,
                     cups_size_t &chosen) {
    bool found = false;
    const int count =
        cupsGetDestMediaCount(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count; ++i) {
        cups_size_t size{};
        if (!cupsGetDestMediaByIndex(CUPS_HTTP_DEFAULT, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT,
                                     &size))
            continue;
        if (!custom && (size.width < width || size.length < length))
            continue;
        const long long key = custom ? size.left + size.right + size.top + size.bottom
                                     : static_cast<long long>(size.width) * size.length;
        const long long best = custom ? chosen.left + chosen.right + chosen.top + chosen.bottom
                                      : static_cast<long long>(chosen.width) * chosen.length;
        if (!found || key < best) {
            chosen = size;
            found = true;
        }
    }
    return found;
}

// The destination's media for a page (hundredths of a millimetre): one of
// its own of that size (libcups finds it by the PWG sizes), else a custom
// size where it takes one of that size, else the smallest of its sizes that
// holds the page.
bool ChooseMedia(cups_dest_t *dest, cups_dinfo_t *info, int width, int length,
                 cups_size_t &chosen) {
    if (cupsGetDestMediaBySize(CUPS_HTTP_DEFAULT, dest, info, width, length,
                               CUPS_MEDIA_FLAGS_DEFAULT, &chosen))
        return true;
    if (!TakesCustomSize(dest, info, width, length))
        return BestListedMedia(dest, info, width, length, false, chosen);
    BestListedMedia(dest, info, width, length, true, chosen);
    pwgFormatSizeName(chosen.media, sizeof chosen.media, "custom", nullptr, width, length, nullptr);
    chosen.width = width;
    chosen.length = length;
    return true;
}

void ReadResolution(cups_dest_t *dest, cups_dinfo_t *info, PrinterInfo &printer) {
    ipp_attribute_t *res = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution");
    if (!res)
        return;
    int y = 0;
    ipp_res_t units;
    const int x = ippGetResolution(res, 0, &y, &units);
    if (x > 0) {
        printer.dpi = units == IPP_RES_PER_CM ? static_cast<int>(x * 2.54 + 0.5) : x;
        printer.dots = true;
    }
}

const char *OptionOf(const cups_dest_t &dest, const char *name) {
    const char *value = cupsGetOption(name, dest.num_options, dest.options);
    return value ? value : "";
}

// "idle", "processing" or "stopped" from printer-state (3, 4, 5).
std::string StateName(int state) {
    return state == IPP_PSTATE_PROCESSING ? "processing"
           : state == IPP_PSTATE_STOPPED  ? "stopped"
                                          : "idle";
}

// Keywords of a comma-separated list (printer-state-reasons as libcups
// gives it in a destination's options), "none" left out.
std::vector<std::string> Keywords(const std::string &list) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string word = list.substr(start, end - start);
        if (!word.empty() && word != "none")
            words.push_back(word);
        start = end + 1;
    }
    return words;
}

bool SameSize(const cups_size_t &a, const PaperInfo &b) {
    return a.width == b.width && a.length == b.length && a.left == b.left && a.top == b.top &&
           a.right == b.right && a.bottom == b.bottom;
}

// The destination's papers: every size it lists, with the default and the
// loaded ones marked.
void ReadPapers(cups_dest_t *dest, cups_dinfo_t *info, PrinterDescription &printer) {
    const int count =
        cupsGetDestMediaCount(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count; ++i) {
        cups_size_t size{};
        if (!cupsGetDestMediaByIndex(CUPS_HTTP_DEFAULT, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT,
                                     &size))
            continue;
        printer.papers.push_back(PaperInfo{size.media, size.width, size.length, size.left, size.top,
                                           size.right, size.bottom, false, false});
    }
    cups_size_t chosen{};
    if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &chosen)) {
        for (PaperInfo &paper : printer.papers)
            paper.isDefault =
                paper.isDefault || (paper.name == chosen.media && SameSize(chosen, paper));
    }
    const int ready = cupsGetDestMediaCount(CUPS_HTTP_DEFAULT, dest, info, CUPS_MEDIA_FLAGS_READY);
    for (int i = 0; i < ready; ++i) {
        cups_size_t size{};
        if (!cupsGetDestMediaByIndex(CUPS_HTTP_DEFAULT, dest, info, i, CUPS_MEDIA_FLAGS_READY,
                                     &size))
            continue;
        for (PaperInfo &paper : printer.papers)
            paper.loaded = paper.loaded || (paper.name == size.media && SameSize(size, paper));
    }
}

// The resolutions of an attribute, in dots per inch.
void AddResolutions(ipp_attribute_t *res, PrinterDescription &printer) {
    for (int i = 0; res && i < ippGetCount(res); ++i) {
        int y = 0;
        ipp_res_t units;
        int x = ippGetResolution(res, i, &y, &units);
        if (units == IPP_RES_PER_CM) {
            x = static_cast<int>(x * 2.54 + 0.5);
            y = static_cast<int>(y * 2.54 + 0.5);
        }
        if (x > 0)
            printer.resolutions.emplace_back(x, y);
    }
}

void ReadResolutions(cups_dest_t *dest, cups_dinfo_t *info, PrinterDescription &printer) {
    AddResolutions(cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution"),
                   printer);
}

// Whether any value of an attribute is one of those given.
bool AnyValueOf(ipp_attribute_t *attr, std::initializer_list<const char *> values) {
    for (int i = 0; attr && i < ippGetCount(attr); ++i) {
        const char *value = ippGetString(attr, i, nullptr);
        for (const char *wanted : values) {
            if (value && strcmp(value, wanted) == 0)
                return true;
        }
    }
    return false;
}

// Whether any value of a supported attribute is one of those given.
bool Supports(cups_dest_t *dest, cups_dinfo_t *info, const char *attribute,
              std::initializer_list<const char *> values) {
    return AnyValueOf(cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, attribute), values);
}

// copies-supported: a range (1-999).
void ReadCopies(ipp_attribute_t *copies, PrinterDescription &printer) {
    if (copies && ippGetValueTag(copies) == IPP_TAG_RANGE) {
        int most = 1;
        printer.copiesMin = ippGetRange(copies, 0, &most);
        printer.copiesMax = most;
    }
}

PrinterDescription DescriptionOf(cups_dest_t &dest) {
    PrinterDescription printer;
    printer.name = NameOf(dest);
    printer.state = StateName(atoi(OptionOf(dest, "printer-state")));
    printer.stateReasons = Keywords(OptionOf(dest, "printer-state-reasons"));
    printer.message = OptionOf(dest, "printer-state-message");
    printer.location = OptionOf(dest, "printer-location");
    printer.makeAndModel = OptionOf(dest, "printer-make-and-model");
    if (cups_dinfo_t *info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, &dest)) {
        ReadPapers(&dest, info, printer);
        ReadResolutions(&dest, info, printer);
        printer.color = Supports(&dest, info, "print-color-mode", {"color"});
        printer.duplex =
            Supports(&dest, info, "sides", {"two-sided-long-edge", "two-sided-short-edge"});
        ReadCopies(cupsFindDestSupported(CUPS_HTTP_DEFAULT, &dest, info, CUPS_COPIES), printer);
        pwg_media_t least{}, most{};
        if (CustomLimits(&dest, info, least, most)) {
            printer.customMin.width = least.width;
            printer.customMin.length = least.length;
            printer.customMax.width = most.width;
            printer.customMax.length = most.length;
        }
        cupsFreeDestInfo(info);
    }
    return printer;
}

// A media-col collection's size: its x-dimension and y-dimension, integers
// for a size, ranges for a custom size's limits; false without them.
bool DimensionsOf(ipp_t *col, ipp_tag_t tag, ipp_attribute_t *&x, ipp_attribute_t *&y) {
    ipp_attribute_t *size =
        col ? ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION) : nullptr;
    ipp_t *dimensions = size ? ippGetCollection(size, 0) : nullptr;
    x = dimensions ? ippFindAttribute(dimensions, "x-dimension", tag) : nullptr;
    y = dimensions ? ippFindAttribute(dimensions, "y-dimension", tag) : nullptr;
    return x && y;
}

// A media-col collection's size and margins, and its name as libcups names
// it (its media-key, else the PWG name of its size); false for a range (a
// custom size's limits).
bool SizeOf(ipp_t *col, PaperInfo &paper) {
    ipp_attribute_t *x = nullptr, *y = nullptr;
    if (!DimensionsOf(col, IPP_TAG_INTEGER, x, y))
        return false;
    paper.width = ippGetInteger(x, 0);
    paper.length = ippGetInteger(y, 0);
    auto margin = [col](const char *name) {
        ipp_attribute_t *attr = ippFindAttribute(col, name, IPP_TAG_INTEGER);
        return attr ? ippGetInteger(attr, 0) : 0;
    };
    paper.left = margin("media-left-margin");
    paper.right = margin("media-right-margin");
    paper.top = margin("media-top-margin");
    paper.bottom = margin("media-bottom-margin");
    ipp_attribute_t *key = ippFindAttribute(col, "media-key", IPP_TAG_ZERO);
    const char *name = key ? ippGetString(key, 0, nullptr) : nullptr;
    if (name && *name) {
        paper.name = name;
    } else {
        paper.name = PwgName(paper.width, paper.length);
        if (!paper.left && !paper.right && !paper.top && !paper.bottom)
            paper.name += "_borderless";
    }
    return true;
}

bool SamePaper(const PaperInfo &a, const PaperInfo &b) {
    return a.width == b.width && a.length == b.length && a.left == b.left && a.top == b.top &&
           a.right == b.right && a.bottom == b.bottom;
}

// The default paper: media-col-default's entry (by size and margins, else
// by size), else the paper media-default names; none for a printer that
// names none ("unknown").
PaperInfo *DefaultPaper(ipp_t *printer, std::vector<PaperInfo> &papers) {
    ipp_attribute_t *col = ippFindAttribute(printer, "media-col-default", IPP_TAG_BEGIN_COLLECTION);
    PaperInfo wanted;
    if (col && SizeOf(ippGetCollection(col, 0), wanted)) {
        for (PaperInfo &paper : papers) {
            if (SamePaper(paper, wanted))
                return &paper;
        }
        for (PaperInfo &paper : papers) {
            if (paper.width == wanted.width && paper.length == wanted.length)
                return &paper;
        }
    }
    ipp_attribute_t *keyword = ippFindAttribute(printer, "media-default", IPP_TAG_ZERO);
    const char *name = keyword ? ippGetString(keyword, 0, nullptr) : nullptr;
    pwg_media_t *size = name ? pwgMediaForPWG(name) : nullptr;
    for (PaperInfo &paper : papers) {
        if (name && (paper.name.rfind(name, 0) == 0 ||
                     (size && paper.width == size->width && paper.length == size->length)))
            return &paper;
    }
    return nullptr;
}

// A media-col-database entry of ranges: the custom (or roll) sizes'
// limits; false for an entry of one size.
bool CustomRangeOf(ipp_t *col, PrinterDescription &description) {
    ipp_attribute_t *x = nullptr, *y = nullptr;
    if (!DimensionsOf(col, IPP_TAG_RANGE, x, y))
        return false;
    description.customMin.width = ippGetRange(x, 0, &description.customMax.width);
    description.customMin.length = ippGetRange(y, 0, &description.customMax.length);
    return true;
}

// The custom sizes' limits among media names (CUPS gives a queue's as
// "custom_min_..." and "custom_max_...").
void CustomRangeOf(ipp_attribute_t *media, PrinterDescription &description) {
    for (int i = 0; media && i < ippGetCount(media); ++i) {
        const char *name = ippGetString(media, i, nullptr);
        const bool least = name && strncmp(name, "custom_min_", 11) == 0,
                   most = name && strncmp(name, "custom_max_", 11) == 0;
        pwg_media_t *size = least || most ? pwgMediaForPWG(name) : nullptr;
        if (!size)
            continue;
        PaperInfo &limit = least ? description.customMin : description.customMax;
        limit.width = size->width;
        limit.length = size->length;
    }
}

void ReadMediaCollections(ipp_t *printer, PrinterDescription &description) {
    ipp_attribute_t *database =
        ippFindAttribute(printer, "media-col-database", IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0; database && i < ippGetCount(database); ++i) {
        PaperInfo paper;
        if (SizeOf(ippGetCollection(database, i), paper))
            description.papers.push_back(paper);
        else
            CustomRangeOf(ippGetCollection(database, i), description);
    }
    if (PaperInfo *chosen = DefaultPaper(printer, description.papers))
        chosen->isDefault = true;
    ipp_attribute_t *ready = ippFindAttribute(printer, "media-col-ready", IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0; ready && i < ippGetCount(ready); ++i) {
        PaperInfo loaded;
        if (!SizeOf(ippGetCollection(ready, i), loaded))
            continue;
        for (PaperInfo &paper : description.papers)
            paper.loaded = paper.loaded || SamePaper(paper, loaded);
    }
}

bool HasKeyword(ipp_t *printer, const char *attribute, std::initializer_list<const char *> values) {
    return AnyValueOf(ippFindAttribute(printer, attribute, IPP_TAG_KEYWORD), values);
}

std::string TextOf(ipp_t *printer, const char *name) {
    ipp_attribute_t *attr = ippFindAttribute(printer, name, IPP_TAG_ZERO);
    const char *text = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    return text ? text : "";
}

// One printer's group of a CUPS-Get-Printers answer.
PrinterDescription DescriptionOf(ipp_t *printer) {
    PrinterDescription description;
    description.name = TextOf(printer, "printer-name");
    ipp_attribute_t *state = ippFindAttribute(printer, "printer-state", IPP_TAG_ENUM);
    description.state = StateName(state ? ippGetInteger(state, 0) : IPP_PSTATE_IDLE);
    ipp_attribute_t *reasons = ippFindAttribute(printer, "printer-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; reasons && i < ippGetCount(reasons); ++i) {
        const char *reason = ippGetString(reasons, i, nullptr);
        if (reason && strcmp(reason, "none") != 0)
            description.stateReasons.push_back(reason);
    }
    description.message = TextOf(printer, "printer-state-message");
    description.location = TextOf(printer, "printer-location");
    description.makeAndModel = TextOf(printer, "printer-make-and-model");
    ReadMediaCollections(printer, description);
    AddResolutions(ippFindAttribute(printer, "printer-resolution-supported", IPP_TAG_RESOLUTION),
                   description);
    description.color = HasKeyword(printer, "print-color-mode-supported", {"color"});
    description.duplex =
        HasKeyword(printer, "sides-supported", {"two-sided-long-edge", "two-sided-short-edge"});
    ReadCopies(ippFindAttribute(printer, "copies-supported", IPP_TAG_RANGE), description);
    if (!description.customMax.width)
        CustomRangeOf(ippFindAttribute(printer, "media-supported", IPP_TAG_ZERO), description);
    return description;
}

// Every queue of the server with what a description needs, in one
// CUPS-Get-Printers request.
void AskAllPrinters(std::map<std::string, PrinterDescription> &printers) {
    static const char *const kWanted[] = {"printer-name",
                                          "printer-state",
                                          "printer-state-reasons",
                                          "printer-state-message",
                                          "printer-location",
                                          "printer-make-and-model",
                                          "media-col-database",
                                          "media-col-default",
                                          "media-col-ready",
                                          "media-default",
                                          "printer-resolution-supported",
                                          "print-color-mode-supported",
                                          "sides-supported",
                                          "copies-supported",
                                          "media-supported"};
    ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    ipp_attribute_t *attr = response ? ippFirstAttribute(response) : nullptr;
    while (attr) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER) {
            attr = ippNextAttribute(response);
            continue;
        }
        // A printer's group, copied into a message of its own to be read.
        ipp_t *printer = ippNew();
        for (; attr && ippGetGroupTag(attr) == IPP_TAG_PRINTER; attr = ippNextAttribute(response))
            ippCopyAttribute(printer, attr, 0);
        PrinterDescription description = DescriptionOf(printer);
        if (!description.name.empty())
            printers[description.name] = description;
        ippDelete(printer);
    }
    ippDelete(response);
}

} // namespace

// Why the server did not take a job, in words and as the platform's code:
// a server that does not answer (stopped, its socket gone), a queue it does
// not know (deleted meanwhile), or a refusal of its own. libcups answers the
// first two alike, so the server is asked again.
void CupsRefusal(const std::string &queue, std::string &why, DWORD &error) {
    const std::string message = cupsLastErrorString() ? cupsLastErrorString() : "";
    http_t *server = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                  5000, nullptr);
    cups_dest_t *dest = server ? cupsGetNamedDest(server, queue.c_str(), nullptr) : nullptr;
    if (!server) {
        error = RPC_S_SERVER_UNAVAILABLE;
        why = "the print server does not answer (" + message + ")";
    } else if (!dest) {
        error = ERROR_INVALID_PRINTER_NAME;
        why = "the print server has no printer " + queue;
    } else {
        error = ERROR_INVALID_PRINTER_STATE;
        why = "CUPS refused the job: " + message;
    }
    cupsFreeDests(dest ? 1 : 0, dest);
    httpClose(server);
}

void CupsDescriptions(std::vector<PrinterDescription> &printers) {
    // One request for every queue's state and capabilities; a queue whose
    // answer has no media database is asked on its own through libcups.
    std::map<std::string, PrinterDescription> answered;
    AskAllPrinters(answered);
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < count; ++i) {
        auto found = dests[i].instance ? answered.end() : answered.find(dests[i].name);
        if (found != answered.end() && !found->second.papers.empty()) {
            found->second.name = NameOf(dests[i]);
            printers.push_back(found->second);
        } else {
            printers.push_back(DescriptionOf(dests[i]));
        }
        printers.back().isDefault = dests[i].is_default; // CUPS' default, until told otherwise
    }
    cupsFreeDests(count, dests);
}

bool CupsPrinters(std::vector<PrinterInfo> &printers, std::string &defaultName) {
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < count; ++i) {
        PrinterInfo info;
        info.name = NameOf(dests[i]);
        if (dests[i].is_default)
            defaultName = info.name;
        printers.push_back(info);
    }
    cupsFreeDests(count, dests);
    return count > 0;
}

void CupsDetails(PrinterInfo &printer, int paperWidth, int paperLength) {
    auto destination = CupsDestination::WithDriver(printer.name, printer.driverPending);
    cups_dest_t *dest = destination->Dest();
    cups_dinfo_t *info = destination->Info();
    if (!info)
        return;
    ReadResolution(dest, info, printer);
    int width, length;
    PortraitSize(paperWidth, paperLength, width, length);
    cups_size_t size{};
    if (ChooseMedia(dest, info, width, length, size)) {
        printer.media = size.media;
        printer.mediaWidth = size.width;
        printer.mediaLength = size.length;
        printer.marginLeft = size.left;
        printer.marginRight = size.right;
        printer.marginTop = size.top;
        printer.marginBottom = size.bottom;
    }
}

void CupsResolution(PrinterInfo &printer) {
    auto destination = CupsDestination::WithDriver(printer.name, printer.driverPending);
    if (destination->Info())
        ReadResolution(destination->Dest(), destination->Info(), printer);
}

bool CupsSubmit(const PrinterInfo &printer, const std::string &pdfPath, const std::string &title,
                int paperWidth, int paperLength, std::string &where, DWORD &error, int *jobNumber,
                const SubmitSettings &settings) {
    if (printer.driverPending) {
        error = ERROR_INVALID_PRINTER_STATE;
        where = "CUPS has no driver yet for " + printer.name +
                " (a queue just added gets it from its printer; one whose printer does not "
                "answer gets none): retry: the printer was just added";
        return false;
    }
    int width, length;
    PortraitSize(paperWidth, paperLength, width, length);
    const std::string media = printer.media.empty() ? PwgName(width, length) : printer.media;
    // Fitted, a page goes on the printer's own paper; unfiltered, each page
    // on its own: neither names a paper.
    const bool ownPaper = !settings.fit && !settings.unfiltered;
    cups_option_t *options = nullptr;
    int count = 0;
    if (ownPaper)
        count = cupsAddOption(CUPS_MEDIA, media.c_str(), count, &options);
    count = cupsAddOption("print-scaling", settings.fit ? "fit" : "none", count, &options);
    // CUPS' own type for a PDF made ready for its printer: its filters pass
    // it on to a printer that takes PDF as it is.
    count = cupsAddOption("document-format",
                          settings.unfiltered ? "application/vnd.cups-pdf" : CUPS_FORMAT_PDF,
                          count, &options);
    if (settings.copies > 1)
        count = cupsAddOption("copies", std::to_string(settings.copies).c_str(), count, &options);
    const std::string queue = printer.name.substr(0, printer.name.find('/'));
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.c_str(), pdfPath.c_str(), title.c_str(),
                                   count, options);
    cupsFreeOptions(count, options);
    if (job <= 0) {
        CupsRefusal(queue, where, error);
        return false;
    }
    if (jobNumber)
        *jobNumber = job;
    where = "CUPS queue " + printer.name + ", job " + std::to_string(job);
    if (settings.copies > 1)
        where += ", " + std::to_string(settings.copies) + " copies";
    if (ownPaper && !printer.media.empty() &&
        !SamePaper(printer.mediaWidth, printer.mediaLength, width, length)) {
        char note[160];
        snprintf(note, sizeof note, ", on %s (the page is %g x %g mm)", media.c_str(),
                 paperWidth / 10.0, paperLength / 10.0);
        where += note;
    }
    if (!settings.note.empty())
        where += ", " + settings.note;
    return true;
}

bool CupsTakesPdfItself(const std::string &queue) {
    CupsDestination destination(queue);
    const std::string device = destination.Dest() ? destination.Option("device-uri") : "";
    std::vector<std::string> formats;
    if ((device.rfind("ipp://", 0) != 0 && device.rfind("ipps://", 0) != 0) ||
        !PrinterFormats(device, formats))
        return false;
    for (const std::string &format : formats) {
        if (format == CUPS_FORMAT_PDF)
            return true;
    }
    return false;
}

bool CupsJobState(int job, std::string &state, std::string &reason) {
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    const char *wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  wanted);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    const bool known = response && JobStateOf(response, state, reason);
    ippDelete(response);
    return known;
}

} // namespace platform::print
