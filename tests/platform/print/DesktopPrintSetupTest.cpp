// The print-setup dialog on a desktop is GTK's page-setup dialog: on an X
// display of the test's own, with a private CUPS that has a default printer
// and a label printer, the test chooses the label printer, one of its own
// papers and landscape with the keyboard (xdotool), keeps a screenshot, and
// reads the answer back from DEVMODE and DEVNAMES; then it cancels.
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

#include "platform/user/DesktopUiHost.h"
#include "platform/win32.h"
#include "testing/LabelPrinter.h"
#include "testing/PrivateCups.h"
#include "testing/TestSupport.h"
#include "testing/VirtualDisplay.h"

namespace {

// Presses keys on the focused window, one at a time, giving GTK time to
// open and fill its menus between them.
void Press(std::initializer_list<const char *> keys) {
    for (const char *key : keys) {
        testing_support::Run({"/usr/bin/xdotool", "key", key});
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
}

// Waits for the dialog's window and gives it the keyboard; false when it
// never showed.
bool FocusDialog() {
    for (int tries = 0; tries < 100; ++tries) {
        testing_support::ProcessResult found =
            testing_support::Run({"/usr/bin/xdotool", "search", "--name", "^Print Setup$"});
        if (found.exitCode == 0 && !found.output.empty()) {
            const std::string window = found.output.substr(0, found.output.find('\n'));
            // The printers come from CUPS after the window maps.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return testing_support::Run({"/usr/bin/timeout", "20", "/usr/bin/xdotool",
                                         "windowfocus", "--sync", window})
                       .exitCode == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string Device(HGLOBAL devNames, WORD &isDefault) {
    auto *names = static_cast<DEVNAMES *>(GlobalLock(devNames));
    std::string device = reinterpret_cast<char *>(names) + names->wDeviceOffset;
    isDefault = names->wDefault;
    GlobalUnlock(devNames);
    return device;
}

class DesktopPrintSetup : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNDER_EMULATION("the platform starts its print-setup dialog (quillbay-print-setup, "
                             "a program of the emulated processor) itself, not through the emulator");
        ASSERT_FALSE(platform::DesktopUiHost::FindPrintSetup().empty())
            << "quillbay-print-setup was not built (libgtk-3-dev)";
        ASSERT_FALSE(platform::FindProgram("xdotool").empty()) << "xdotool is not installed";
        std::string why;
        ASSERT_TRUE(m_cups.Ready(why)) << why;
        ASSERT_TRUE(m_cups.AddPrinter("label", testing_support::kLabelPrinterAttributes));
        ASSERT_TRUE(m_display.Ready()) << "Xvfb did not start";
        m_server.emplace("CUPS_SERVER", m_cups.Server());
        m_shown.emplace("DISPLAY", m_display.Name());
        // A dialog the keys did not answer closes by itself, cancelled: the
        // test then fails saying so instead of waiting for ever.
        m_closes.emplace("QUILLBAY_UI_TIMEOUT", "90");
        platform::UiHost::Install(
            std::make_unique<platform::DesktopUiHost>(platform::DesktopUiHost::FindZenity()));
    }
    void TearDown() override { platform::UiHost::Install(nullptr); }

    // Runs the print-setup dialog on a thread of its own while drive()
    // answers it; PrintDlgA's result and extended error.
    template <typename Drive> BOOL Dialog(PRINTDLGA &pd, DWORD &error, Drive drive) {
        BOOL ok = FALSE;
        std::thread dialog([&] {
            ok = PrintDlgA(&pd);
            error = CommDlgExtendedError();
        });
        const bool shown = FocusDialog();
        if (shown)
            drive();
        dialog.join();
        EXPECT_TRUE(shown) << "the dialog did not show";
        return ok;
    }

    testing_support::PrivateCups m_cups;
    testing_support::VirtualDisplay m_display;
    std::optional<testing_support::ScopedEnvironment> m_server, m_shown, m_closes;
};

} // namespace

TEST_F(DesktopPrintSetup, ChoosesThePrinterItsPaperAndTheOrientationOrCancels) {
    PRINTDLGA pd{};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_PRINTSETUP;
    DWORD error = 1;
    const std::string shot = std::string(TEST_OUTPUT_DIR) + "/print-setup.png";
    const BOOL ok = Dialog(pd, error, [&] {
        // "Format for": "Any Printer", the label printer, the default (open).
        Press({"space", "Home", "Down", "Return"});
        std::this_thread::sleep_for(std::chrono::seconds(1)); // its papers arrive
        // "Paper size": its own A4, A6, Letter, then a custom size.
        Press({"Tab", "space", "Home", "Down", "Return"});
        // "Orientation": portrait, then landscape.
        Press({"Tab", "Down"});
        testing_support::Run({"/usr/bin/import", "-window", "root", shot});
        Press({"Return"});
    });
    ASSERT_TRUE(ok) << "error " << error;
    printf("the dialog as answered: %s\n", shot.c_str());
    WORD isDefault = 1;
    EXPECT_EQ(Device(pd.hDevNames, isDefault), "label");
    EXPECT_EQ(isDefault, 0);
    auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
    EXPECT_STREQ(reinterpret_cast<char *>(dm->dmDeviceName), "label");
    EXPECT_EQ(dm->dmPaperWidth, 1050); // A6, tenths of a millimetre
    EXPECT_EQ(dm->dmPaperLength, 1480);
    EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);
    GlobalUnlock(pd.hDevMode);

    // Opened again on that answer and cancelled: FALSE with no error, and
    // the blocks as they were.
    HGLOBAL devMode = pd.hDevMode, devNames = pd.hDevNames;
    EXPECT_FALSE(Dialog(pd, error, [] { Press({"Escape"}); }));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(pd.hDevMode, devMode);
    EXPECT_EQ(pd.hDevNames, devNames);
    EXPECT_EQ(Device(pd.hDevNames, isDefault), "label");
    GlobalFree(pd.hDevMode);
    GlobalFree(pd.hDevNames);
}
