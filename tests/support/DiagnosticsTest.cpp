#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "platform/user/UiHost.h"
#include "support/MessageBoxes.h"
#include "support/MessageCollector.h"
#include "testing/TestSupport.h"

namespace {

platform::ScriptedUiHost *InstallHost() {
    auto host = std::make_unique<platform::ScriptedUiHost>();
    platform::ScriptedUiHost *raw = host.get();
    platform::UiHost::Install(std::move(host));
    return raw;
}

} // namespace

TEST(Diagnostics, SilentLogKeepsOnlyTheLastCode) {
    DiagLog log;
    log.WriteCode(5, "x");
    EXPECT_EQ(log.LastCode(), 5);
    log.Write("y");
    EXPECT_EQ(log.LastCode(), 0);
    log.WriteCode(7, nullptr);
    log.Printf("%d", 3);
    EXPECT_EQ(log.LastCode(), 0);
}

TEST(Diagnostics, CollectorJoinsMessages) {
    MessageCollector messages;
    messages.Write("a");
    messages.Write("b");
    messages.Write(nullptr);
    messages.Write("c");
    EXPECT_STREQ(messages.Text().c_str(), "abc");
    AnsiStr taken = messages.TakeText();
    EXPECT_STREQ(taken.c_str(), "abc");
    EXPECT_EQ(messages.Text().Length(), 0u);
    messages.WriteCode(9, "ignored by the collector's text");
    EXPECT_EQ(messages.LastCode(), 9);
    EXPECT_EQ(messages.Text().Length(), 0u);
}

TEST(Diagnostics, WarnBoxCutsLongMessages) {
    platform::ScriptedUiHost *host = InstallHost();
    std::string longText(300, 'w');
    WarnBox("%s", longText.c_str());
    auto shown = host->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, std::string(258, 'w'));
    EXPECT_EQ(shown[0].caption, "错误");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(shown[0].owner, GetFocus());
}

TEST(Diagnostics, WarnBoxFormatsTheDownloadMessage) {
    platform::ScriptedUiHost *host = InstallHost();
    AnsiStr format = AnsiStr::FromUtf8("不能下载图象%s，错误代码：%d");
    WarnBox(format.c_str(), "http://x/logo.gif", 4);
    ASSERT_EQ(host->Shown().size(), 1u);
    EXPECT_EQ(host->Shown()[0].text, "不能下载图象http://x/logo.gif，错误代码：4");
}

TEST(Diagnostics, InfoBoxReturnsTheAnswer) {
    platform::ScriptedUiHost *host = InstallHost();
    host->Queue(IDOK);
    AnsiStr caption = AnsiStr::FromUtf8("Velmora");
    EXPECT_EQ(InfoBox(caption.c_str(), "%s", "text"), IDOK);
    auto shown = host->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Velmora");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_OK));
}
