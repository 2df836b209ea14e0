#include "testing/LabelPrinters.h"

#include "testing/TestSupport.h"

namespace testing_support {

LabelPrinters::LabelPrinters(PrivateCups &cups) : m_cups(cups) {
    if (!m_cups.Ready(m_why) || !m_lprint.Ready(m_why))
        return;
    for (const auto &[queue, dpi] : {std::pair<std::string, int>{"zpl203", 203},
                                     {"zpl300", 300},
                                     {"zpldriver", 203},
                                     {"rawlabel", 203}}) {
        m_listeners[queue] = std::make_unique<LabelListener>(dpi);
        if (!m_listeners[queue]->Ready())
            m_why = "no listener for " + queue;
    }
    if (!m_why.empty())
        return;
    for (const auto &[queue, driver] :
         {std::pair<std::string, std::string>{"zpl203", "zpl_4inch-203dpi-dt"},
          {"zpl300", "zpl_4inch-300dpi-dt"}}) {
        m_uris[queue] = m_lprint.AddPrinter(queue, driver, m_listeners[queue]->Uri());
        if (m_uris[queue].empty()) {
            m_why = "LPrint did not add its printer " + queue;
            return;
        }
        if (!m_cups.AddQueue(queue, m_uris[queue])) {
            m_cups.Ready(m_why);
            m_why = "no queue for LPrint's printer " + queue + ": " + m_why;
            return;
        }
    }
    if (!m_cups.AddDriverQueue("zpldriver", "drv:///sample.drv/zebra.ppd",
                               m_listeners["zpldriver"]->Uri()) ||
        !m_cups.AddDriverQueue("rawlabel", "raw", m_listeners["rawlabel"]->Uri()))
        m_cups.Ready(m_why);
}

bool LabelPrinters::AddFreshQueue(const std::string &queue) {
    return Run({"/usr/sbin/lpadmin", "-h", m_cups.Server(), "-p", queue, "-E", "-v",
                m_uris["zpl203"], "-m", "everywhere"})
               .exitCode == 0;
}

bool LabelPrinters::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

} // namespace testing_support
