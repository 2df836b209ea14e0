#include <gtest/gtest.h>

#include "HtmlPage.h"
#include "testing/TestSupport.h"

TEST(HtmlPage, FindsObjectsAndScriptsInOrder) {
    const char *html = R"html(<html><head>
<OBJECT ID="doc" CLASSID="clsid:AE9D5D26-B784-4C47-8830-86B5D0CA1F7C" width=0></OBJECT>
<script language="javascript">var a = 1 < 2;</script>
<!-- <script>never()</script> -->
<script type="text/vbscript">MsgBox "x"</script>
</head><body onload="start(&quot;x&quot;)"><script>b();</script></body></html>)html";
    HtmlPage page = ParseHtmlPage(html, "/base/");
    ASSERT_EQ(page.items.size(), 3u);
    EXPECT_EQ(page.items[0].kind, PageItem::Object);
    EXPECT_EQ(page.items[0].id, "doc");
    EXPECT_EQ(page.items[0].classId, "clsid:AE9D5D26-B784-4C47-8830-86B5D0CA1F7C");
    EXPECT_EQ(page.items[1].code, "var a = 1 < 2;");
    EXPECT_EQ(page.items[2].code, "b();");
    EXPECT_EQ(page.onload, "start(\"x\")");
}

TEST(HtmlPage, ReadsScriptsFromTheirSource) {
    std::string dir = testing_support::MakeTempDir("html-");
    testing_support::WriteFile(dir + "/lib.js", "var fromFile = 3;");
    HtmlPage page = ParseHtmlPage("<script src='lib.js'></script>", dir + "/");
    ASSERT_EQ(page.items.size(), 1u);
    EXPECT_EQ(page.items[0].code, "var fromFile = 3;");
    EXPECT_EQ(page.items[0].origin, dir + "/lib.js");
    testing_support::RemoveTree(dir);
}
