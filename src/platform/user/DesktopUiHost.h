// Message boxes and choices as dialogs on the user's display, shown by
// zenity (a GTK dialog program), for a host that serves a desktop user
// from the background (the bridge). QUILLBAY_UI_TIMEOUT, when set, closes
// an unanswered dialog after that many seconds.
#pragma once

#include <string>
#include <vector>

#include "UiHost.h"

namespace platform {

class DesktopUiHost : public UiHost {
public:
    explicit DesktopUiHost(std::string zenity);

    int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                   UINT type) override;
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override;
    bool Ask(const std::string &title, const std::string &prompt, bool secret,
             std::string &answer) override;

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
    HeadlessUiHost m_fallback; // when no dialog could be shown
};

} // namespace platform
