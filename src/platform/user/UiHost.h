// Where the platform's modal UI goes: message boxes and system dialogs.
//
// QUILLBAY_UI picks the host: "console" asks on the terminal, "desktop"
// shows dialogs on the user's display (zenity), "headless"
// writes what is shown to stderr and answers the default button, "scripted"
// answers from a queue (QUILLBAY_UI_ANSWERS, comma-separated button IDs, or
// Queue() in-process) and records what was shown (and appends it to the file
// QUILLBAY_UI_LOG when set). Without the variable: console on a terminal,
// headless otherwise.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "winuser.h"

namespace platform {

struct ShownMessageBox {
    HWND owner;
    std::string text;    // UTF-8
    std::string caption; // UTF-8
    UINT type;
    int answer;
};

class UiHost {
public:
    virtual ~UiHost() = default;

    // Shows a message box and returns the button chosen (IDOK, IDCANCEL...).
    virtual int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                           UINT type) = 0;
    // Asks for one choice among options (printer setup and the like); returns
    // the index chosen, or -1 when the user cancels.
    virtual int Choose(const std::string &title, const std::vector<std::string> &options,
                       int preset) = 0;

    // The host in use, made from QUILLBAY_UI on first use.
    static UiHost &Current();
    // Replaces the host (tests install a scripted one).
    static void Install(std::unique_ptr<UiHost> host);
};

class ScriptedUiHost : public UiHost {
public:
    ScriptedUiHost();

    int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                   UINT type) override;
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override;

    // Answers for the next boxes or choices, in order; without one a box gets
    // its default button and a choice its preset.
    void Queue(int answer);
    std::vector<ShownMessageBox> Shown() const;
    void Forget();

private:
    mutable std::mutex m_lock;
    std::deque<int> m_answers;
    std::vector<ShownMessageBox> m_shown;
    std::string m_logPath;
};

// The desktop host (DesktopUiHost.cpp), or the headless host where zenity is
// not installed.
std::unique_ptr<UiHost> MakeDesktopUiHost();

// The buttons of a box of the given type, the default first.
struct MessageBoxButton {
    int id;
    char key;
    const char *label;
};
std::vector<MessageBoxButton> MessageBoxButtons(UINT type);
// The default button of a box of the given type.
int DefaultButton(UINT type);
// The icon of a box: "error", "question", "warning", "information", "message".
const char *MessageBoxIcon(UINT type);

// Answers as a host without a person answers: boxes get their default
// button, choices their preset; what is shown goes to stderr.
class HeadlessUiHost : public UiHost {
public:
    int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                   UINT type) override;
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override;
};

} // namespace platform
