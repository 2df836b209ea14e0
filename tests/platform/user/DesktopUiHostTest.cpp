// The desktop UI host shows real zenity dialogs on an X display of the
// test's own; dialogs nobody answers time out (QUILLBAY_UI_TIMEOUT).
#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/user/DesktopUiHost.h"
#include "platform/win32.h"
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
}

TEST_F(DesktopDialogs, WithoutADisplayTheyAreAnsweredAsHeadless) {
    setenv("DISPLAY", ":65000", 1); // nothing there
    DesktopUiHost host(m_zenity);
    // The headless answers: the default button, the preset.
    EXPECT_EQ(host.MessageBox(nullptr, "text", "caption", MB_OKCANCEL), IDOK);
    EXPECT_EQ(host.Choose("Print Setup: printer", {"Quillbay PDF", "Office"}, 1), 1);
    std::string answer;
    EXPECT_FALSE(host.Ask("Client certificate", "Password", true, answer));
}
