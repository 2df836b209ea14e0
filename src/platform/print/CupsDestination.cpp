#include "CupsDestination.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform::print {

CupsDestination::CupsDestination(const std::string &name) {
    m_count = cupsGetDests2(CUPS_HTTP_DEFAULT, &m_dests);
    const size_t slash = name.find('/');
    const std::string queue = name.substr(0, slash);
    const std::string instance = slash == std::string::npos ? "" : name.substr(slash + 1);
    m_dest =
        cupsGetDest(queue.c_str(), instance.empty() ? nullptr : instance.c_str(), m_count, m_dests);
    m_info = m_dest ? cupsCopyDestInfo(CUPS_HTTP_DEFAULT, m_dest) : nullptr;
}

CupsDestination::~CupsDestination() {
    if (m_info)
        cupsFreeDestInfo(m_info);
    cupsFreeDests(m_count, m_dests);
}

namespace {
constexpr int kConnectMilliseconds = 5000;
constexpr const char *kNoDriver = "Local Raw Printer"; // CUPS' model of a queue without one
// How long a job waits for the driver of a queue just added, and how often
// it asks.
constexpr auto kDriverWait = std::chrono::seconds(30);
constexpr auto kDriverPoll = std::chrono::milliseconds(100);
} // namespace

std::unique_ptr<CupsDestination> CupsDestination::WithDriver(const std::string &name,
                                                             bool &pending) {
    auto destination = std::make_unique<CupsDestination>(name);
    const auto end = std::chrono::steady_clock::now() + kDriverWait;
    while ((pending = destination->DriverPending()) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kDriverPoll);
        destination = std::make_unique<CupsDestination>(name);
    }
    return destination;
}

bool CupsDestination::DriverPending() const {
    const std::string device = Option("device-uri");
    if (Option("printer-make-and-model") != kNoDriver ||
        (device.rfind("ipp://", 0) != 0 && device.rfind("ipps://", 0) != 0))
        return false;
    std::vector<std::string> formats;
    return !PrinterFormats(device, formats) ||
           std::find(formats.begin(), formats.end(), CUPS_FORMAT_PDF) == formats.end();
}

http_t *ConnectPrinter(const std::string &uri, std::string &resource) {
    char scheme[32], user[256], host[256], path[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, path, sizeof path) < HTTP_URI_STATUS_OK)
        return nullptr;
    const bool secure = strcmp(scheme, "ipps") == 0;
    if (!secure && strcmp(scheme, "ipp") != 0)
        return nullptr;
    resource = path;
    return httpConnect2(host, port ? port : 631, nullptr, AF_UNSPEC,
                        secure ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED, 1,
                        kConnectMilliseconds, nullptr);
}

bool PrinterFormats(const std::string &uri, std::vector<std::string> &formats) {
    std::string resource;
    http_t *http = ConnectPrinter(uri, resource);
    if (!http)
        return false;
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "document-format-supported");
    ipp_t *response = cupsDoRequest(http, request, resource.c_str());
    ipp_attribute_t *supported =
        response ? ippFindAttribute(response, "document-format-supported", IPP_TAG_MIMETYPE)
                 : nullptr;
    for (int i = 0; supported && i < ippGetCount(supported); ++i)
        formats.push_back(ippGetString(supported, i, nullptr));
    ippDelete(response);
    httpClose(http);
    return supported != nullptr;
}

bool JobStateOf(ipp_t *response, std::string &state, std::string &reason) {
    ipp_attribute_t *attr = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
    if (!attr)
        return false;
    state = ippEnumString("job-state", ippGetInteger(attr, 0));
    reason.clear();
    if (ipp_attribute_t *message =
            ippFindAttribute(response, "job-printer-state-message", IPP_TAG_TEXT))
        reason = ippGetString(message, 0, nullptr) ? ippGetString(message, 0, nullptr) : "";
    if (ipp_attribute_t *reasons =
            ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(reasons); ++i) {
            const char *keyword = ippGetString(reasons, i, nullptr);
            if (keyword && strcmp(keyword, "none") != 0)
                reason += std::string(reason.empty() ? "" : "; ") + keyword;
        }
    }
    return true;
}

std::string CupsDestination::Option(const char *name) const {
    const char *value =
        m_dest ? cupsGetOption(name, m_dest->num_options, m_dest->options) : nullptr;
    return value ? value : "";
}

} // namespace platform::print
