// A private CUPS for tests: its own D-Bus, driverless IPP printers that
// keep every job's document, and a cupsd with a queue for each (the first,
// "testq", made the default), all on loopback and in a folder of their own.
// Stopped on destruction.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/PrivateBus.h"
#include "testing/TestSupport.h"

namespace testing_support {

class PrivateCups {
public:
    // Without subscriptions the server takes no event subscriptions, as a
    // print server at its limit does.
    enum Events { kSubscriptions, kNoSubscriptions };
    explicit PrivateCups(Events events = kSubscriptions);
    ~PrivateCups();
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;

    // False (with the reason) when the server could not be started.
    bool Ready(std::string &why) const;
    // The socket to set CUPS_SERVER to.
    const std::string &Server() const { return m_socket; }
    const std::string &QueueName() const { return m_queue; }
    // Waits for the default printer to hold a job's document; its path or "".
    std::string WaitForDocument(int seconds) const;

    // Another driverless printer and its queue; attributes, when given, is
    // an ippeveprinter attributes file (media, sizes, document formats).
    bool AddPrinter(const std::string &queue, const std::string &attributes);
    // The same with the command the printer runs for each job (a command
    // that exits non-zero makes the printer abort its jobs).
    bool AddPrinter(const std::string &queue, const std::string &attributes,
                    const std::string &command);
    // A queue whose device fails every job the same way: it takes the job,
    // says `error` ("ERROR: error" on its standard error) and fails, and
    // CUPS aborts the job (the queue's error policy is abort-job). Its
    // sizes are the default queue's.
    bool AddFailingQueue(const std::string &queue, const std::string &error);
    // Gives a queue a driver's PPD of its own in place of the one CUPS made
    // from the printer's answers (its sizes then are the PPD's, in points).
    bool UsePpd(const std::string &queue, const std::string &ppd);
    // A queue for a printer of another server (a print server's queue),
    // ready once it has the media the other server gives it.
    bool AddServerQueue(const std::string &queue, const PrivateCups &server,
                        const std::string &serverQueue);
    // A queue for a driverless printer at an IPP address (made as lpadmin
    // -m everywhere makes it), ready once it has the printer's media.
    bool AddQueue(const std::string &queue, const std::string &uri);
    // A queue with one of CUPS' drivers ("drv:///sample.drv/zebra.ppd"), or
    // none ("raw"), for a device.
    bool AddDriverQueue(const std::string &queue, const std::string &model,
                        const std::string &device);
    // The server's port on 127.0.0.1.
    int Port() const { return m_port; }
    // The documents a queue's printer received, oldest first; waiting until
    // there are count of them, for at most the seconds given.
    std::vector<std::string> Documents(const std::string &queue) const;
    std::vector<std::string> WaitForDocuments(const std::string &queue, size_t count,
                                              int seconds) const;

    // Stops the server (its printers stay), as a server that goes away
    // mid-job; Start starts it again with its queues and waits until the
    // default queue answers.
    void Stop();
    bool Start();
    // Between the two: the server forgets the event subscriptions it keeps
    // across a restart, as one that comes back new.
    void ForgetSubscriptions();

private:
    bool StartServer();

    std::string m_root, m_socket, m_queue = "testq", m_why;
    int m_port = 0;
    std::unique_ptr<PrivateBus> m_bus;
    int m_cupsd = -1;
    std::vector<int> m_printers;
    // CUPS_SERVER and DBUS_SYSTEM_BUS_ADDRESS while the server runs.
    std::optional<ScopedEnvironment> m_serverVariable, m_busVariable;
};

} // namespace testing_support
