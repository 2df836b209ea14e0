// Where the platform's modal UI goes: message boxes and system dialogs.
//
// QUILLBAY_UI picks the host: "console" asks on the terminal, "desktop"
// shows dialogs on the user's display (zenity), "headless"
// writes what is shown to stderr and answers the default button, "scripted"
// answers from a queue (QUILLBAY_UI_ANSWERS, comma-separated button IDs, or
// Queue() in-process; texts from QUILLBAY_UI_TEXTS, one per line, or
// QueueText()) and records what was shown (and appends it to the file
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

struct ShownNotice {
    std::string title; // UTF-8
    std::string text;
};

struct ShownMessageBox {
    HWND owner;
    std::string text;    // UTF-8
    std::string caption; // UTF-8
    UINT type;
    int answer;
};

// The print-setup dialog's question and its answer: a printer (UTF-8; empty
// is "any printer", the one for portable documents), a paper by its size in
// hundredths of a millimetre (portrait) and the name the dialog gives it,
// and the orientation.
struct PrintSetupChoice {
    std::string printer;
    std::string paper;
    int width = 0;
    int length = 0;
    bool landscape = false;
};

enum class DialogOutcome { Answered, Cancelled, NotShown };

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
    // Asks for a line of text (a secret one is not shown as it is typed);
    // false when the user cancels. A host that cannot ask cancels.
    virtual bool Ask(const std::string &title, const std::string &prompt, bool secret,
                     std::string &answer);
    // Tells the user something that needs no answer (a print job that did
    // not print), without waiting for them: this host writes a line on
    // stderr, as the console does.
    virtual void Notify(const std::string &title, const std::string &text);
    // Shows the desktop's own print-setup dialog, opened on choice and
    // answering into it. A host that has none shows nothing, and the
    // print-setup dialog asks through Choose instead.
    virtual DialogOutcome PrintSetup(const std::string &title, PrintSetupChoice &choice);

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
    // Answers from the text queue; without a text the question is cancelled.
    bool Ask(const std::string &title, const std::string &prompt, bool secret,
             std::string &answer) override;
    void Notify(const std::string &title, const std::string &text) override;

    // Answers for the next boxes or choices, in order; without one a box gets
    // its default button and a choice its preset.
    void Queue(int answer);
    void QueueText(const std::string &text);
    std::vector<ShownMessageBox> Shown() const;
    // The choices and questions put to the user: "title: option|option..."
    // for a choice, "title: prompt" for a question.
    std::vector<std::string> Asked() const;
    std::vector<ShownNotice> Notices() const;
    void Forget();

private:
    void Log(const std::string &line);

    mutable std::mutex m_lock;
    std::deque<int> m_answers;
    std::deque<std::string> m_texts;
    std::vector<std::string> m_asked;
    std::vector<ShownMessageBox> m_shown;
    std::vector<ShownNotice> m_notices;
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
// button, choices their preset, questions are cancelled; what is shown, and
// every notice, goes to stderr, the log of the program it serves.
class HeadlessUiHost : public UiHost {
public:
    int MessageBox(HWND owner, const std::string &text, const std::string &caption,
                   UINT type) override;
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override;
    bool Ask(const std::string &title, const std::string &prompt, bool secret,
             std::string &answer) override;
    void Notify(const std::string &title, const std::string &text) override;
};

// A program's path on PATH, or empty.
std::string FindProgram(const std::string &name);

} // namespace platform
