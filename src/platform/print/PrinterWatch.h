// The live states of CUPS' printers and jobs, for hosts that show them as
// they change (the bridge's job and printer events). One thread watches for
// the whole process: it holds one IPP subscription on the CUPS server for
// every printer and job, read as soon as the server's D-Bus notifier
// announces an event (every 100 ms where nothing announces), and, where the
// server gives no subscription, asks for the states every half second and
// reports what changed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform::print {

struct PrinterEvent {
    enum Kind { Job, Printer };
    Kind kind = Job;
    std::string printer; // the queue's name
    int job = 0;         // Job: the CUPS job
    // Job: CUPS' own names ("pending", "pending-held", "processing",
    // "processing-stopped", "canceled", "aborted", "completed"), as
    // quillbay-jobs shows them; Printer: "idle", "processing", "stopped".
    std::string state;
    std::vector<std::string> reasons; // IPP keywords, "none" left out
    std::string message;              // the printer's or the server's words
};

class PrinterWatch {
public:
    using Listener = std::function<void(const PrinterEvent &)>;

    // Adds a listener (called on the watch's thread) and starts the watch
    // when it is the first: its subscription is made before Listen returns,
    // so a job sent afterwards is seen from its start. Gives the listener's
    // number.
    static int Listen(Listener listener);
    // Removes a listener; the last one ends the watch and its subscription.
    static void Unlisten(int number);
    // Whether the watch reads a subscription (false: it polls).
    static bool Subscribed();

    // The state of a job or a printer now, as an event of its kind; false
    // when the server does not know it.
    static bool JobNow(int job, PrinterEvent &event);
    static bool PrinterNow(const std::string &printer, PrinterEvent &event);
};

// A job state's name (IPP's keyword) and whether the job ends in it.
std::string JobStateName(int state);
bool IsFinalJobState(const std::string &state);

} // namespace platform::print
