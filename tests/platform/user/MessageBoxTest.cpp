#include <gtest/gtest.h>
#include <memory>

#include "platform/user/UiHost.h"
#include "platform/win32.h"
#include "testing/TestSupport.h"

using platform::ScriptedUiHost;
using platform::UiHost;

TEST(MessageBox, GoesToTheHostInUtf8AndReturnsItsAnswer) {
    auto host = std::make_unique<ScriptedUiHost>();
    ScriptedUiHost *scripted = host.get();
    UiHost::Install(std::move(host));
    scripted->Queue(IDCANCEL);
    std::string text = testing_support::Ansi("不能下载图象");
    std::string caption = testing_support::Ansi("错误");
    EXPECT_EQ(MessageBoxA(GetFocus(), text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONWARNING),
              IDCANCEL);
    EXPECT_EQ(MessageBoxA(GetDesktopWindow(), "second", "x", MB_YESNO), IDYES); // default button
    auto shown = scripted->Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "不能下载图象");
    EXPECT_EQ(shown[0].caption, "错误");
    EXPECT_EQ(shown[0].type, MB_OKCANCEL | MB_ICONWARNING);
    EXPECT_EQ(shown[1].answer, IDYES);
}

TEST(MessageBox, OwnersMustBeWindows) {
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(0x1234), "t", "c", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(MessageBox, ScriptedChoicesFollowTheQueueThenThePreset) {
    ScriptedUiHost host;
    host.Queue(1);
    EXPECT_EQ(host.Choose("Printer", {"a", "b"}, 0), 1);
    EXPECT_EQ(host.Choose("Printer", {"a", "b"}, 0), 0);
    host.Queue(5);
    EXPECT_EQ(host.Choose("Printer", {"a", "b"}, 0), -1);
}

TEST(UiHost, QuestionsAreAnsweredFromTheTextQueueOrCancelled) {
    setenv("QUILLBAY_UI_TEXTS", "first\n\nthird", 1);
    ScriptedUiHost host;
    unsetenv("QUILLBAY_UI_TEXTS");
    std::string answer = "unchanged";
    EXPECT_TRUE(host.Ask("Title", "One", false, answer));
    EXPECT_EQ(answer, "first");
    EXPECT_TRUE(host.Ask("Title", "Two", true, answer));
    EXPECT_EQ(answer, "");
    host.QueueText("fourth");
    EXPECT_TRUE(host.Ask("Title", "Three", false, answer));
    EXPECT_EQ(answer, "third");
    EXPECT_TRUE(host.Ask("Title", "Four", false, answer));
    EXPECT_EQ(answer, "fourth");
    EXPECT_FALSE(host.Ask("Title", "Five", false, answer));
    std::vector<std::string> asked = host.Asked();
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked[4], "Title: Five");
    host.Choose("Pick", {"a", "b"}, 1);
    EXPECT_EQ(host.Asked().back(), "Pick: a|b");
}
