// Raw printer commands at CUPS destinations: which way bytes take to a
// queue's printer, and their jobs, through CUPS or at the printer itself.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "../kernel/winerror.h"
#include "CupsDestination.h"
#include "PrinterLanguages.h"
#include "Printers.h"
#include "RawJob.h"

namespace platform::print {
namespace {

// Whether the queue's driver writes the printer's own language (a filter
// of its own, as CUPS' label driver's rastertolabel), from its PPD: a PPD
// whose filters pass PDF or PostScript on unchanged ("-"), or that has
// none (a PostScript printer's), is for a printer of documents. False
// with `none` set for a queue without a PPD (a raw queue).
bool DriverWritesItsLanguage(const std::string &queue, bool &none) {
    char path[1024] = "";
    const int fd = cupsTempFd(path, sizeof path);
    if (fd < 0)
        return none = false;
    const std::string resource = "/printers/" + queue + ".ppd";
    none = cupsGetFd(CUPS_HTTP_DEFAULT, resource.c_str(), fd) != HTTP_STATUS_OK;
    close(fd);
    bool ownFilter = false;
    if (FILE *ppd = none ? nullptr : fopen(path, "r")) {
        char line[1024];
        while (fgets(line, sizeof line, ppd)) {
            if (strncmp(line, "*cupsFilter", 11) != 0)
                continue;
            // *cupsFilter: "source cost program", *cupsFilter2: "source
            // destination cost program": the program is the last word.
            const std::string value(line);
            const size_t close = value.rfind('"');
            const size_t start = value.rfind(' ', close) + 1;
            ownFilter = ownFilter || value.substr(start, close - start) != "-";
        }
        fclose(ppd);
    }
    unlink(path);
    return ownFilter;
}

std::string Listed(const std::vector<std::string> &formats) {
    std::string list;
    for (const std::string &format : formats)
        list += (list.empty() ? "" : ", ") + format;
    return list;
}

// A queue whose device is a printer reached over IPP (a driverless
// printer, or another server's queue): the printer's own list decides.
RawRoute PrinterRoute(const std::string &device) {
    RawRoute route;
    std::vector<std::string> formats;
    if (!PrinterFormats(device, formats)) {
        route.kind = RawRoute::kDocuments;
        route.why = "the printer at " + device + " does not say which formats it takes";
        return route;
    }
    for (const std::string &format : formats) {
        if (IsPrinterLanguage(format.c_str())) {
            route.kind = RawRoute::kPrinterLanguage;
            route.format = format;
            route.device = device;
            return route;
        }
    }
    route.kind = RawRoute::kDocuments;
    route.why = "the printer takes documents (" + Listed(formats) + "), no printer language";
    return route;
}

// Posts an IPP request with the bytes (copies times over) as its document.
ipp_t *PostDocument(http_t *http, ipp_t *request, const std::string &resource,
                    const std::string &bytes, int copies) {
    // Chunked: LPrint 1.1 answers a Print-Job of a given length "Bad Request".
    if (cupsSendRequest(http, request, resource.c_str(), CUPS_LENGTH_VARIABLE) !=
        HTTP_STATUS_CONTINUE) {
        ippDelete(request);
        return nullptr;
    }
    for (int copy = 0; copy < copies; ++copy) {
        if (cupsWriteRequestData(http, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE)
            break;
    }
    ipp_t *response = cupsGetResponse(http, resource.c_str());
    ippDelete(request);
    return response;
}

} // namespace

RawRoute CupsRawRoute(const std::string &queue) {
    RawRoute route;
    CupsDestination destination(queue);
    if (!destination.Dest())
        return route;
    const std::string device = destination.Option("device-uri");
    if (device.rfind("ipp://", 0) == 0 || device.rfind("ipps://", 0) == 0)
        return PrinterRoute(device);
    bool none = false;
    const std::string name = queue.substr(0, queue.find('/'));
    if (DriverWritesItsLanguage(name, none) || none) {
        route.kind = RawRoute::kCupsRaw;
        return route;
    }
    route.kind = RawRoute::kDocuments;
    route.why = "its driver (" + destination.Option("printer-make-and-model") +
                ") takes documents, not the printer's own commands";
    return route;
}

bool CupsRawQueue(const std::string &queue) {
    CupsDestination destination(queue);
    if (!destination.Dest())
        return false;
    const std::string device = destination.Option("device-uri");
    // CUPS' own name for a queue without a driver: asking it costs no
    // download of the queue's PPD.
    return device.rfind("ipp://", 0) != 0 && device.rfind("ipps://", 0) != 0 &&
           destination.Option("printer-make-and-model") == "Local Raw Printer";
}

bool CupsSubmitRaw(const std::string &queue, const std::string &bytes, const std::string &title,
                   int copies, int &job, std::string &why, DWORD &error) {
    const std::string name = queue.substr(0, queue.find('/'));
    cups_option_t *options = nullptr;
    const int count = cupsAddOption("copies", std::to_string(copies).c_str(), 0, &options);
    job = cupsCreateJob(CUPS_HTTP_DEFAULT, name.c_str(), title.c_str(), count, options);
    cupsFreeOptions(count, options);
    bool sent = job > 0 && cupsStartDocument(CUPS_HTTP_DEFAULT, name.c_str(), job, title.c_str(),
                                             CUPS_FORMAT_RAW, 1) == HTTP_STATUS_CONTINUE;
    sent = sent && cupsWriteRequestData(CUPS_HTTP_DEFAULT, bytes.data(), bytes.size()) ==
                       HTTP_STATUS_CONTINUE;
    sent = sent && cupsFinishDocument(CUPS_HTTP_DEFAULT, name.c_str()) == IPP_STATUS_OK;
    if (!sent) {
        CupsRefusal(name, why, error);
        if (job > 0)
            cupsCancelJob2(CUPS_HTTP_DEFAULT, name.c_str(), job, 0);
        job = 0;
    }
    return sent;
}

bool PrinterSubmitRaw(const RawRoute &route, const std::string &bytes, const std::string &title,
                      int copies, int &job, std::string &why, DWORD &error) {
    std::string resource;
    http_t *http = ConnectPrinter(route.device, resource);
    if (!http) {
        error = RPC_S_SERVER_UNAVAILABLE;
        why = "the printer at " + route.device + " does not answer";
        return false;
    }
    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 route.device.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 route.format.c_str());
    ipp_t *response = PostDocument(http, request, resource, bytes, copies);
    ipp_attribute_t *id =
        response ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    job = id ? ippGetInteger(id, 0) : 0;
    if (job <= 0) {
        error = ERROR_INVALID_PRINTER_STATE;
        why = "the printer at " + route.device +
              " refused the job: " + (cupsLastErrorString() ? cupsLastErrorString() : "no answer");
    }
    ippDelete(response);
    httpClose(http);
    return job > 0;
}

bool PrinterJobState(const std::string &device, int job, std::string &state, std::string &reason) {
    std::string resource;
    http_t *http = ConnectPrinter(device, resource);
    if (!http)
        return false;
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, device.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ipp_t *response = cupsDoRequest(http, request, resource.c_str());
    const bool known = response && JobStateOf(response, state, reason);
    ippDelete(response);
    httpClose(http);
    return known;
}

} // namespace platform::print
