// Message boxes and choices as dialogs on the user's display, shown by
// zenity (a GTK dialog program), for a host that serves a desktop user
// from the background (the bridge). QUILLBAY_UI_TIMEOUT, when set, closes
// an unanswered dialog after that many seconds. Notices go to the desktop's
// notification service (freedesktop notifications on the session bus,
// through notify-send). The print-setup dialog is GTK's own page-setup
// dialog (quillbay-print-setup).
#pragma once

#include <string>
#include <vector>

#include "UiHost.h"

namespace platform {

class DesktopUiHost : public UiHost {
public:
    explicit DesktopUiHost(std::string zenity, std::string notifySend = FindProgram("notify-send"),
                           std::string printSetup = FindPrintSetup());

    int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                   UINT type) override;
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override;
    bool Ask(const std::string &title, const std::string &prompt, bool secret,
             std::string &answer) override;
    // Sent to the notification service and not waited for; a notice the
    // service did not take (none running, notify-send missing) goes to the
    // headless host's log instead.
    void Notify(const std::string &title, const std::string &text) override;
    // GTK's page-setup dialog, in the helper beside the platform library;
    // not shown where the helper, GTK or the display is missing.
    DialogOutcome PrintSetup(const std::string &title, PrintSetupChoice &choice) override;

    // zenity's path on PATH, or empty.
    static std::string FindZenity();
    // The print-setup helper beside the platform library, or empty.
    static std::string FindPrintSetup();

private:
    struct Outcome {
        bool ran = false;   // the program started and ended
        bool shown = false; // zenity showed the dialog
        int exitCode = -1;  // zenity: 0 OK, 1 Cancel or an extra button, 5 timed out
        std::string output; // what it printed, without the line end
        std::string errors;
    };
    // Runs a dialog program (QUILLBAY_UI_TIMEOUT passed on as --timeout)
    // and waits for it.
    static Outcome Run(std::vector<std::string> args);
    Outcome Zenity(std::vector<std::string> args) const;

    std::string m_zenity;
    std::string m_notifySend;
    std::string m_printSetup;
    HeadlessUiHost m_fallback; // when no dialog could be shown
};

} // namespace platform
