#include "testing/PrivateCups.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <cups/cups.h>
#include <unistd.h>

#include "platform/print/Printers.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

namespace testing_support {
namespace {

bool WaitForPath(const std::string &path, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        usleep(20000);
    }
    return false;
}

// cupsd loads a new queue's capabilities after lpadmin returns: waits until
// the queue answers with its media, as a queue a user prints to does (on a
// busy machine that takes a while: up to 30 s). libcups remembers the server
// a thread first asked: this server is asked by name, and afterwards the
// thread asks whichever CUPS_SERVER names again.
bool WaitForMedia(const std::string &queue, const std::string &socket) {
    cupsSetServer(socket.c_str());
    bool found = false;
    for (int attempt = 0; attempt < 600 && !found; ++attempt) {
        platform::print::PrinterInfo printer;
        if (platform::print::FindPrinter(queue, printer)) {
            // A label's size: label printers have no paper of A4's.
            platform::print::CupsDetails(printer, 1000, 1500);
            found = !printer.media.empty();
        }
        if (!found)
            usleep(50000);
    }
    cupsSetServer(nullptr);
    return found;
}

// Subscribes to the server's printer events for as long as it runs.
bool TakeTheOnlySubscription(const std::string &socket) {
    cupsSetServer(socket.c_str());
    ipp_t *request = ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                 "ippget");
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", nullptr,
                 "printer-state-changed");
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", 0);
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    const bool taken = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
    cupsSetServer(nullptr);
    return taken;
}

// cupsd's programs (filters, backends, its helpers): the machine's, through
// a folder of the server's own, so that a test can add a device of its own.
bool MakeServerBin(const std::string &lib) {
    const std::string machine = "/usr/lib/cups";
    if (!MakeFolder(lib, 0755) || !MakeFolder(lib + "/backend", 0755))
        return false;
    for (const std::string &entry : FolderEntries(machine)) {
        if (entry != "backend" &&
            symlink((machine + "/" + entry).c_str(), (lib + "/" + entry).c_str()) != 0)
            return false;
    }
    for (const std::string &entry : FolderEntries(machine + "/backend")) {
        if (symlink((machine + "/backend/" + entry).c_str(), (lib + "/backend/" + entry).c_str()) !=
            0)
            return false;
    }
    return true;
}

} // namespace

PrivateCups::PrivateCups(Events events) {
    // Filters run as another user: the root and every folder on the way must
    // be open to it.
    m_root = MakeServerRoot("cups-", m_why);
    if (m_root.empty())
        return;
    for (const char *dir : {"/etc", "/spool", "/tmp", "/cache", "/state", "/log"})
        MakeFolder(m_root + dir, 0755);
    // Programs the server runs as its own user write their files here (the
    // D-Bus notifier its lock, filters that rasterise a label printer's pages
    // their temporary files), as in cupsd's own temporary folder.
    chmod((m_root + "/tmp").c_str(), 01777);
    // cupsd's D-Bus notifier announces events on this bus; it runs as the
    // server's user.
    m_bus = std::make_unique<PrivateBus>(m_root, PrivateBus::kEveryAccount);
    m_busVariable.emplace("DBUS_SYSTEM_BUS_ADDRESS", m_bus->Address());
    if (!m_bus->Ready()) {
        m_why = "dbus-daemon did not start";
        return;
    }
    if (!MakeServerBin(m_root + "/lib")) {
        m_why = "cannot make the server's folder of programs";
        return;
    }
    m_socket = m_root + "/cups.sock";
    m_port = FreePort();
    WriteFile(m_root + "/etc/cupsd.conf",
              "LogLevel warn\nListen 127.0.0.1:" + std::to_string(m_port) + "\nListen " + m_socket +
                  "\nBrowsing Off\nDefaultAuthType None\nWebInterface No\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n" +
                  (events == kNoSubscriptions ? "MaxSubscriptions 1\n" : "") +
                  "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    WriteFile(m_root + "/etc/cups-files.conf",
              "ServerRoot " + m_root + "/etc\nRequestRoot " + m_root + "/spool\nTempDir " + m_root +
                  "/tmp\nServerBin " + m_root + "/lib\nCacheDir " + m_root + "/cache\nStateDir " +
                  m_root + "/state\nAccessLog " + m_root + "/log/access_log\nErrorLog " + m_root +
                  "/log/error_log\nPageLog " + m_root + "/log/page_log\nPrintcap " + m_root +
                  "/printcap\nSystemGroup root\nPassEnv DBUS_SYSTEM_BUS_ADDRESS\n");
    WriteFile(m_root + "/printcap", "# private\n");
    if (!StartServer()) {
        m_why = "cupsd did not start";
        return;
    }
    // Root's requests pass every policy: a server that takes no more
    // subscriptions is one whose only one is taken.
    if (events == kNoSubscriptions && !TakeTheOnlySubscription(m_socket)) {
        m_why = "cupsd took no subscription";
        return;
    }
    m_serverVariable.emplace("CUPS_SERVER", m_socket);
    cupsSetServer(nullptr); // this thread asks the new server from now on
    if (AddPrinter(m_queue, ""))
        Run({"/usr/sbin/lpadmin", "-h", m_socket, "-d", m_queue});
}

bool PrivateCups::StartServer() {
    unlink(m_socket.c_str()); // a stopped server's socket may stay behind
    m_cupsd = Spawn({"/usr/sbin/cupsd", "-f", "-c", m_root + "/etc/cupsd.conf", "-s",
                     m_root + "/etc/cups-files.conf"},
                    nullptr);
    return WaitForPath(m_socket, 10000);
}

void PrivateCups::Stop() {
    if (m_cupsd > 0) {
        kill(m_cupsd, SIGTERM);
        Wait(m_cupsd);
        m_cupsd = -1;
    }
}

void PrivateCups::ForgetSubscriptions() {
    // cupsd reads its backup when the file is missing.
    unlink((m_root + "/etc/subscriptions.conf").c_str());
    unlink((m_root + "/etc/subscriptions.conf.O").c_str());
}

bool PrivateCups::Start() {
    return StartServer() && WaitForMedia(m_queue, m_socket);
}

bool PrivateCups::AddPrinter(const std::string &queue, const std::string &attributes) {
    return AddPrinter(queue, attributes, "/bin/true");
}

bool PrivateCups::AddServerQueue(const std::string &queue, const PrivateCups &server,
                                 const std::string &serverQueue) {
    return AddQueue(queue, "ipp://127.0.0.1:" + std::to_string(server.Port()) + "/printers/" +
                               serverQueue);
}

bool PrivateCups::AddPrinter(const std::string &queue, const std::string &attributes,
                             const std::string &command) {
    const std::string spool = m_root + "/ipp-" + queue;
    mkdir(spool.c_str(), 0755);
    const std::string port = std::to_string(FreePort());
    std::vector<std::string> argv = {"/usr/sbin/ippeveprinter",
                                     "-p",
                                     port,
                                     "-n",
                                     "localhost",
                                     "-r",
                                     "off",
                                     "-k",
                                     "-d",
                                     spool,
                                     "-c",
                                     command};
    if (attributes.empty()) {
        argv.insert(argv.end(), {"-f", "application/pdf"});
    } else { // the file names the document formats too
        WriteFile(m_root + "/etc/" + queue + ".conf", attributes);
        argv.insert(argv.end(), {"-a", m_root + "/etc/" + queue + ".conf"});
    }
    argv.push_back(queue + " printer");
    m_printers.push_back(Spawn(argv, nullptr));
    return AddQueue(queue, "ipp://localhost:" + port + "/ipp/print");
}

bool PrivateCups::AddFailingQueue(const std::string &queue, const std::string &error) {
    const std::string backend = m_root + "/lib/backend/quillbay-fail";
    std::string message = error;
    message.erase(std::remove(message.begin(), message.end(), '\''), message.end());
    // Run without arguments, a backend lists its devices: none. With a job,
    // it reads the job to its end (a filter before it never meets a closed
    // pipe), then fails as a device that cannot print does.
    WriteFile(backend, "#!/bin/sh\n[ $# -ge 5 ] || exit 0\ncat ${6:+\"$6\"} >/dev/null\n"
                       "echo 'ERROR: " +
                           message + "' >&2\nexit 1\n");
    chmod(backend.c_str(), 0755);
    // The default queue's driver, so that the queue has its sizes.
    const std::string ppd = m_root + "/etc/" + queue + "-device.ppd";
    WriteFile(ppd, ReadFile(m_root + "/etc/ppd/" + m_queue + ".ppd"));
    const auto added = Run({"/usr/sbin/lpadmin", "-h", m_socket, "-p", queue, "-E", "-v",
                            "quillbay-fail:/", "-P", ppd, "-o", "printer-error-policy=abort-job"});
    if (added.exitCode != 0)
        return m_why = "lpadmin could not add the queue " + queue, false;
    return WaitForMedia(queue, m_socket) || (m_why = "the queue " + queue + " has no media", false);
}

bool PrivateCups::UsePpd(const std::string &queue, const std::string &ppd) {
    const std::string path = m_root + "/etc/" + queue + "-driver.ppd";
    WriteFile(path, ppd);
    return Run({"/usr/sbin/lpadmin", "-h", m_socket, "-p", queue, "-P", path}).exitCode == 0 &&
           WaitForMedia(queue, m_socket);
}

bool PrivateCups::AddDriverQueue(const std::string &queue, const std::string &model,
                                 const std::string &device) {
    if (Run({"/usr/sbin/lpadmin", "-h", m_socket, "-p", queue, "-E", "-v", device, "-m", model})
            .exitCode != 0)
        return (m_why = "lpadmin could not add the queue " + queue, false);
    return model == "raw" || WaitForMedia(queue, m_socket) ||
           (m_why = "the queue " + queue + " has no media", false);
}

bool PrivateCups::AddQueue(const std::string &queue, const std::string &uri) {
    // The printer answers once it listens; lpadmin asks it for its attributes.
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto added = Run({"/usr/sbin/lpadmin", "-h", m_socket, "-p", queue, "-E", "-v", uri, "-m",
                          "everywhere"});
        // lpadmin may answer success before the printer told it its sizes:
        // then the queue has no PPD yet, and asking again makes it.
        if (added.exitCode == 0 &&
            access((m_root + "/etc/ppd/" + queue + ".ppd").c_str(), R_OK) == 0)
            return WaitForMedia(queue, m_socket) ||
                   (m_why = "the queue " + queue + " has no media", false);
        usleep(100000);
    }
    m_why = "lpadmin could not add the queue " + queue;
    return false;
}

PrivateCups::~PrivateCups() {
    std::vector<int> pids = {m_cupsd};
    pids.insert(pids.end(), m_printers.begin(), m_printers.end());
    for (int pid : pids) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            Wait(pid);
        }
    }
    m_bus.reset();
    // The server the run asked before this one, none of the account's.
    m_serverVariable.reset();
    m_busVariable.reset();
    cupsSetServer(nullptr);
    RemoveServerRoot(m_root);
}

bool PrivateCups::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

std::vector<std::string> PrivateCups::Documents(const std::string &queue) const {
    std::vector<std::string> documents;
    for (const std::string &name : ListFiles(m_root + "/ipp-" + queue, ".pdf"))
        documents.push_back(m_root + "/ipp-" + queue + "/" + name);
    // Named "<job>-<title>.pdf": in the order the printer received them.
    std::sort(documents.begin(), documents.end(), [](const std::string &a, const std::string &b) {
        return atoi(a.c_str() + a.rfind('/') + 1) < atoi(b.c_str() + b.rfind('/') + 1);
    });
    return documents;
}

std::vector<std::string> PrivateCups::WaitForDocuments(const std::string &queue, size_t count,
                                                       int seconds) const {
    for (int waited = 0; waited < seconds * 10; ++waited) {
        std::vector<std::string> documents = Documents(queue);
        if (documents.size() >= count)
            return documents;
        usleep(100000);
    }
    return Documents(queue);
}

std::string PrivateCups::WaitForDocument(int seconds) const {
    std::vector<std::string> documents = WaitForDocuments(m_queue, 1, seconds);
    return documents.empty() ? "" : documents.back();
}

} // namespace testing_support
