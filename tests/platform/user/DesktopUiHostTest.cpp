// The desktop UI host shows real zenity dialogs on an X display of the
// test's own; dialogs nobody answers time out (QUILLBAY_UI_TIMEOUT).
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/user/DesktopUiHost.h"
#include "platform/win32.h"
#include "testing/PrivateBus.h"
#include "testing/TestSupport.h"
#include "testing/VirtualDisplay.h"

using platform::DesktopUiHost;

namespace {

class DesktopDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        m_zenity = DesktopUiHost::FindZenity();
        ASSERT_FALSE(m_zenity.empty()) << "zenity is not installed";
        setenv("QUILLBAY_UI_TIMEOUT", "1", 1);
    }
    void TearDown() override {
        unsetenv("QUILLBAY_UI_TIMEOUT");
        unsetenv("DISPLAY");
    }
    std::string m_zenity;
};

} // namespace

TEST_F(DesktopDialogs, UnansweredDialogsOnTheDisplayAreClosedOrCancelled) {
    SKIP_UNDER_EMULATION("the platform starts its print-setup dialog (quillbay-print-setup, "
                         "a program of the emulated processor) itself, not through the emulator");
    testing_support::VirtualDisplay display;
    ASSERT_TRUE(display.Ready()) << "Xvfb did not start";
    setenv("DISPLAY", display.Name().c_str(), 1);
    DesktopUiHost host(m_zenity);
    // Shown, then closed unanswered: Cancel where the box has it.
    EXPECT_EQ(host.MessageBox(nullptr, "保存成功？", "错误", MB_OKCANCEL | MB_ICONWARNING),
              IDCANCEL);
    EXPECT_EQ(host.MessageBox(nullptr, "<b>not markup</b>", "x", MB_YESNOCANCEL), IDCANCEL);
    // A choice nobody made is cancelled, whatever its preset; so is a question.
    EXPECT_EQ(host.Choose("Print Setup: printer", {"Quillbay PDF", "Office"}, 1), -1);
    std::string answer = "untouched";
    EXPECT_FALSE(host.Ask("Client certificate", "Password", true, answer));
    EXPECT_EQ(answer, "untouched");
    // GTK's print-setup dialog, unanswered, is cancelled and changes nothing.
    platform::PrintSetupChoice choice{"testq", "iso_a4", 21000, 29700, true};
    EXPECT_EQ(host.PrintSetup("Print Setup", choice), platform::DialogOutcome::Cancelled);
    EXPECT_EQ(choice.printer, "testq");
}

TEST_F(DesktopDialogs, WithoutADisplayTheyAreAnsweredAsHeadless) {
    setenv("DISPLAY", ":65000", 1); // nothing there
    DesktopUiHost host(m_zenity);
    // The headless answers: the default button, the preset.
    EXPECT_EQ(host.MessageBox(nullptr, "text", "caption", MB_OKCANCEL), IDOK);
    EXPECT_EQ(host.Choose("Print Setup: printer", {"Quillbay PDF", "Office"}, 1), 1);
    std::string answer;
    EXPECT_FALSE(host.Ask("Client certificate", "Password", true, answer));
    // GTK's dialog is not shown either: the plain choices ask instead.
    platform::PrintSetupChoice choice;
    EXPECT_EQ(host.PrintSetup("Print Setup", choice), platform::DialogOutcome::NotShown);
}

TEST_F(DesktopDialogs, NoticesGoToTheDesktopsNotificationService) {
    const std::string notifySend = platform::FindProgram("notify-send");
    ASSERT_FALSE(notifySend.empty()) << "notify-send is not installed (libnotify-bin)";
    const std::string dir = testing_support::MakeTempDir("notices-");
    {
        testing_support::PrivateBus bus(dir);
        ASSERT_TRUE(bus.Ready()) << "dbus-daemon did not start";
        testing_support::ScopedEnvironment session("DBUS_SESSION_BUS_ADDRESS", bus.Address());
        const std::string record = dir + "/notices";
        const int service = testing_support::Spawn(
            {"/usr/bin/python3", NOTIFICATION_SERVICE_PATH, bus.Address(), record}, nullptr);
        for (int waited = 0; waited < 500 && access((record + ".ready").c_str(), F_OK) != 0;
             ++waited)
            usleep(20000);
        DesktopUiHost host(m_zenity, notifySend);
        host.Notify("Not printed: 发货单", "testq: the print server does not answer.");
        std::string shown;
        for (int waited = 0; waited < 500 && shown.empty(); ++waited) {
            usleep(20000);
            shown = testing_support::ReadFile(record);
        }
        EXPECT_EQ(shown, "quillbay\tdialog-warning\tNot printed: 发货单\t"
                         "testq: the print server does not answer.\n");
        kill(service, SIGTERM);
        testing_support::Wait(service);
    }
    testing_support::RemoveTree(dir);
}
