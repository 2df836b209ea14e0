// Message boxes and choices as dialogs on the user's display, shown by
// zenity (a GTK dialog program), for a host that serves a desktop user
// from the background (the bridge). QUILLBAY_UI_TIMEOUT, when set, closes
// an unanswered dialog after that many seconds. Notices go to the desktop's
// notification service (freedesktop notifications on the session bus,
// through notify-send).
#pragma once

#include <string>
#include <vector>

#include "UiHost.h"

namespace platform {

class DesktopUiHost : public UiHost {
public:
    explicit DesktopUiHost(std::string zenity, std::string notifySend = FindProgram("notify-send"));

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

    // zenity's path on PATH, or empty.
    static std::string FindZenity();

private:
    struct Outcome {
        bool shown;         // zenity ran and showed the dialog
        int exitCode;       // 0 OK, 1 Cancel or an extra button, 5 timed out
        std::string output; // what it printed, without the line end
    };
    Outcome Run(std::vector<std::string> args) const;

    std::string m_zenity;
    std::string m_notifySend;
    HeadlessUiHost m_fallback; // when no dialog could be shown
};

} // namespace platform
