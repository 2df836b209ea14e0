// Label printers as Linux users have them, at a private CUPS, each printing
// to a listener of its own that keeps what the printer would have received:
// LPrint's ZPL printers at 203 and 300 dpi behind driverless queues
// ("zpl203", "zpl300"), a printer on CUPS' own ZPL driver ("zpldriver",
// drv:///sample.drv/zebra.ppd) and a raw queue ("rawlabel").
#pragma once

#include <map>
#include <memory>
#include <string>

#include "testing/LabelListener.h"
#include "testing/LprintServer.h"
#include "testing/PrivateCups.h"

namespace testing_support {

class LabelPrinters {
public:
    explicit LabelPrinters(PrivateCups &cups);
    LabelPrinters(const LabelPrinters &) = delete;
    LabelPrinters &operator=(const LabelPrinters &) = delete;

    bool Ready(std::string &why) const;
    // The listener of a queue's printer.
    LabelListener &Listener(const std::string &queue) { return *m_listeners.at(queue); }
    // Another driverless queue for the 203-dpi printer, as lpadmin adds it:
    // not waited for, so that its first job comes while CUPS still makes
    // its driver.
    bool AddFreshQueue(const std::string &queue);
    LprintServer &Lprint() { return m_lprint; }

private:
    PrivateCups &m_cups;
    LprintServer m_lprint;
    std::map<std::string, std::unique_ptr<LabelListener>> m_listeners;
    std::map<std::string, std::string> m_uris; // LPrint's printers, by queue
    std::string m_why;
};

} // namespace testing_support
