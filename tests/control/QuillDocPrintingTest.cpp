// The printer session, text, fonts and lines, down to the printed PDF.
#include <string>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "testing/PdfContent.h"
#include "testing/PdfPage.h"
#include "testing/TestSupport.h"

namespace {

class Printing : public QuillDocFixture {
protected:
    void SetUp() override {
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        m_dir = testing_support::MakeTempDir("prints-");
        setenv("QUILLBAY_PRINT_DIR", m_dir.c_str(), 1);
        // Made directly, so the session's state can be looked at too.
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&m_doc)),
                  S_OK);
    }
    void TearDown() override {
        if (m_doc)
            m_doc->Release();
        testing_support::RemoveTree(m_dir);
    }

    int SetPrinter(const char16_t *flag, HRESULT expected = S_OK) {
        int n = 0xdead;
        EXPECT_EQ(m_doc->SetPrinter(Arg(flag), &n), expected);
        return n;
    }

    // The PDFs printed so far, oldest first.
    std::vector<std::string> Printed() {
        std::string listing = testing_support::Run({"/bin/ls", "-1tr", m_dir}).output;
        std::vector<std::string> files;
        size_t start = 0;
        while (start < listing.size()) {
            size_t end = listing.find('\n', start);
            std::string name = listing.substr(start, end - start);
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0)
                files.push_back(m_dir + "/" + name);
            start = end + 1;
        }
        return files;
    }

    QuillDoc *Object() {
        // The tests reach the object's session state through its class.
        return static_cast<QuillDoc *>(m_doc);
    }

    IQuillDoc *m_doc = nullptr;
    std::string m_dir;
};

} // namespace

TEST_F(Printing, AJobNeedsAPrinterSelectedFirst) {
    EXPECT_EQ(SetPrinter(u"1", S_FALSE), 0xdead); // nRet unwritten
    EXPECT_EQ(m_doc->PrintText(10, 10, Arg(u"x"), 0, 0, 12), S_FALSE);
    EXPECT_EQ(m_doc->PrintText(10, 10, Arg(u""), 0, 0, 12), S_OK); // empty text first
    int ok = 0xdead;
    EXPECT_EQ(m_doc->SetFont(Arg(u"黑体"), 1, &ok), S_FALSE);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Object()->JobDC(), nullptr);
}

TEST_F(Printing, PaperSetsTheScale) {
    EXPECT_EQ(m_doc->SetPaperSize(2100, 2970), S_OK);
    EXPECT_DOUBLE_EQ(Object()->Scale(), 600 * 0.03937007874015748);
    EXPECT_EQ(SetPrinter(u"1"), 1);
    EXPECT_NE(Object()->JobDC(), nullptr);
    EXPECT_EQ(SetPrinter(u"0"), 1);
    EXPECT_EQ(Object()->JobDC(), nullptr);
    EXPECT_EQ(SetPrinter(u"0"), 1); // again: nothing changes
    ASSERT_EQ(Printed().size(), 1u);
    double w = 0, h = 0;
    ASSERT_TRUE(testing_support::PdfPageSize(Printed()[0], w, h));
    EXPECT_NEAR(w / 72 * 25.4, 210, 0.5);
    EXPECT_NEAR(h / 72 * 25.4, 297, 0.5);
}

TEST_F(Printing, OtherFlagsOnlyAnswerOne) {
    m_doc->SetPaperSize(2100, 2970);
    for (const char16_t *flag : {u"x", u"", u"10"}) {
        EXPECT_EQ(SetPrinter(flag), 1);
        EXPECT_EQ(Object()->JobDC(), nullptr);
    }
    EXPECT_TRUE(Printed().empty());
}

TEST_F(Printing, LandscapeStaysForLaterJobsAndPaperChangesWaitForTheNextJob) {
    m_doc->SetPaperSize1(210.07, 297.0);
    SetPrinter(u"2");
    m_doc->SetPaperSize(1480, 2100); // during the job: only the next job sees it
    SetPrinter(u"0");
    SetPrinter(u"1");
    SetPrinter(u"0");
    std::vector<std::string> printed = Printed();
    ASSERT_EQ(printed.size(), 2u);
    double w = 0, h = 0;
    testing_support::PdfPageSize(printed[0], w, h);
    EXPECT_NEAR(w / 72 * 25.4, 297, 0.5); // landscape A4: 2100 truncated from 210.07
    EXPECT_NEAR(h / 72 * 25.4, 210, 0.5);
    testing_support::PdfPageSize(printed[1], w, h);
    EXPECT_NEAR(w / 72 * 25.4, 210, 0.5); // still landscape, now A5
    EXPECT_NEAR(h / 72 * 25.4, 148, 0.5);
}

TEST_F(Printing, TheSampleLayoutLandsOnTheRightDots) {
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    m_doc->DrawLine(0, 0, 100, 0, 0, 0, 3, 0);
    m_doc->PrintText(10, 20, Arg(u"中文 Text"), 5, 0, 12);
    SetPrinter(u"0");
    ASSERT_EQ(Printed().size(), 1u);
    const std::string pdf = Printed()[0];
    testing_support::PdfPage page(pdf, 600);
    ASSERT_TRUE(page.Ok());
    const int lineEnd = static_cast<int>(100 * Object()->Scale()); // 2362
    int left, top, right, bottom;
    ASSERT_TRUE(page.DarkBox(0, 0, page.Width() - 1, 10, left, top, right, bottom));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, lineEnd - 1);
    // The pen covers a dot above y 0 too, which is off the paper: two rows show.
    EXPECT_EQ(top, 0);
    EXPECT_EQ(bottom, 1);
    // Text at (10 + 5) mm starts at device x 354.
    const int textTop = static_cast<int>(20 * Object()->Scale());
    ASSERT_TRUE(
        page.DarkBox(0, textTop, page.Width() - 1, textTop + 120, left, top, right, bottom));
    EXPECT_GE(left, 354);
    EXPECT_LE(left, 354 + 20); // the glyph's own side bearing
    EXPECT_GE(top, textTop);
    std::string text = testing_support::PdfText(pdf);
    EXPECT_NE(text.find("中文 Text"), std::string::npos) << text;
    std::string fonts = testing_support::PdfFonts(pdf);
    EXPECT_NE(fonts.find("UMingCN"), std::string::npos) << fonts; // 宋体 reached the Song font
    EXPECT_EQ(fonts.find(" no "), std::string::npos) << fonts;    // every font embedded
}

TEST_F(Printing, FirstTextIsSongAtTwelvePointsOfThePrinter) {
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    m_doc->PrintText(10, 10, Arg(u"x"), 0, 0, 12);
    EXPECT_EQ(Object()->Font().Logical().lfHeight, -100);
    EXPECT_EQ(std::string(Object()->Font().Logical().lfFaceName), testing_support::Ansi("宋体"));
    SetPrinter(u"0");
}

TEST_F(Printing, BoldAppliesAtTheNextSizeChange) {
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    m_doc->PrintText(10, 10, Arg(u"a"), 0, 0, 12);
    int ok = 0;
    m_doc->SetFont(Arg(u""), 1, &ok);
    EXPECT_EQ(ok, 1);
    m_doc->PrintText(10, 20, Arg(u"b"), 0, 0, 12);
    EXPECT_EQ(Object()->Font().Logical().lfWeight, 0); // same size: not rebuilt
    m_doc->PrintText(10, 30, Arg(u"c"), 0, 0, 14);
    EXPECT_EQ(Object()->Font().Logical().lfWeight, FW_BOLD);
    SetPrinter(u"0");
}

TEST_F(Printing, NamingAFontBuildsItAtNinePoints) {
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    int ok = 0;
    EXPECT_EQ(m_doc->SetFont(Arg(u"黑体"), 1, &ok), S_OK);
    EXPECT_EQ(Object()->Font().Logical().lfHeight, -75); // 9 points at 600 dpi
    EXPECT_EQ(Object()->Font().Logical().lfWeight, FW_BOLD);
    std::u16string longName(40, u'F');
    m_doc->SetFont(Arg(longName), 0, &ok);
    EXPECT_EQ(std::string(Object()->Font().Logical().lfFaceName), std::string(31, 'F'));
    SetPrinter(u"0");
}

TEST_F(Printing, ColourThroughTheFlagLeavesTheStyle) {
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    int ok = 0;
    m_doc->SetFont(Arg(u""), 4, &ok);         // underline
    m_doc->SetFont(Arg(u""), -16776961, &ok); // 0xFF0000FF: red
    EXPECT_EQ(GetTextColor(Object()->JobDC()), 0x0000FFu);
    m_doc->PrintText(10, 10, Arg(u"红色"), 0, 0, 20);
    EXPECT_EQ(Object()->Font().Logical().lfUnderline, 4);
    SetPrinter(u"0");
    // The next job starts black again.
    SetPrinter(u"1");
    EXPECT_EQ(GetTextColor(Object()->JobDC()), 0u);
    SetPrinter(u"0");
}

TEST_F(Printing, EqualLinesShareOnePen) {
    m_doc->DrawLine(0, 0, 10, 0, 0, 0, 2, 0); // no job: the pen is still made
    HPEN first = Object()->Pen();
    ASSERT_NE(first, nullptr);
    m_doc->DrawLine(0, 5, 10, 5, 0, 0, 2, 0);
    EXPECT_EQ(Object()->Pen(), first);
    m_doc->DrawLine(0, 5, 10, 5, 0, 0, 2, 255);
    LOGPEN pen{};
    ASSERT_EQ(GetObjectA(Object()->Pen(), sizeof pen, &pen), static_cast<int>(sizeof pen));
    EXPECT_EQ(pen.lopnColor, 255u);
    EXPECT_EQ(pen.lopnWidth.x, 2);
}

namespace {

// A 16 x 16 black bitmap file (24 bits, bottom-up).
std::string BlackBitmap(const std::string &dir) {
    std::string bmp = "BM" + std::string(12, '\0');
    bmp[10] = 54;
    const unsigned char info[40] = {40, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 1, 0, 24, 0};
    bmp += std::string(reinterpret_cast<const char *>(info), 40) + std::string(16 * 16 * 3, '\0');
    testing_support::WriteFile(dir + "/black.bmp", bmp);
    return dir + "/black.bmp";
}

// Millimetres from the paper's edge in points, and one printer dot.
constexpr double Points(double mm) {
    return mm * 72 / 25.4;
}
constexpr double kDot = 72.0 / 600;

} // namespace

TEST_F(Printing, EverythingLandsAtItsMillimetresFromThePapersCorner) {
    const std::string picture = BlackBitmap(m_dir);
    m_doc->SetPaperSize(2100, 2970);
    SetPrinter(u"1");
    m_doc->DrawLine(10, 30, 60, 30, 0, 0, 3, 0);
    m_doc->PrintText(20, 40, Arg(u"Mark"), 0, 0, 12);
    ASSERT_EQ(m_doc->PrintLogo(Arg(u""), Arg(Wide(picture)), 10, 10, 0, 0, 0, 0), S_OK);
    SetPrinter(u"0");
    std::string pdf;
    for (const std::string &file : Printed())
        pdf = file;
    ASSERT_FALSE(pdf.empty());

    // The drawing itself: the line's rectangle, the text's origin, the picture
    // (black and white: a stencil over a white ground, the second rectangle).
    testing_support::PdfContent content(pdf);
    ASSERT_TRUE(content.Ok());
    ASSERT_EQ(content.Rectangles().size(), 2u);
    const testing_support::PdfBox line = content.Rectangles()[0];
    EXPECT_NEAR(line.left, Points(10), kDot);
    EXPECT_NEAR(line.left + line.width, Points(60), kDot);
    EXPECT_NEAR(line.top + line.height / 2, Points(30), kDot);
    ASSERT_EQ(content.Texts().size(), 1u);
    EXPECT_NEAR(content.Texts()[0].x, Points(20), kDot);
    ASSERT_EQ(content.Images().size(), 1u);
    EXPECT_NEAR(content.Images()[0].left, Points(10), kDot);
    EXPECT_NEAR(content.Images()[0].top, Points(10), kDot);
    EXPECT_NEAR(content.Images()[0].width, 16 * kDot, 0.01);

    // The same on the page rasterised at the printer's resolution: the
    // picture's top-left corner is dot (236, 236).
    testing_support::PdfPage page(pdf, 600);
    ASSERT_TRUE(page.Ok());
    int left, top, right, bottom;
    ASSERT_TRUE(page.DarkBox(0, 0, 1000, 400, left, top, right, bottom));
    EXPECT_EQ(left, 236);
    EXPECT_EQ(top, 236);
    EXPECT_NEAR(right, 236 + 15, 1); // the far edges as the rasteriser rounds them
    EXPECT_NEAR(bottom, 236 + 15, 1);
    ASSERT_TRUE(page.DarkBox(0, 600, 2000, 800, left, top, right, bottom));
    EXPECT_EQ(left, 236);       // 10 mm
    EXPECT_EQ(right, 1417 - 1); // 60 mm, the end point not painted
    EXPECT_EQ(top, 708 - 1);    // 30 mm, 3 dots from one before
    EXPECT_EQ(bottom, 708 + 1);
    ASSERT_TRUE(page.DarkBox(0, 900, 2000, 1100, left, top, right, bottom));
    EXPECT_NEAR(left, 472, 12); // 20 mm, less the glyph's side bearing
    EXPECT_GE(top, 944);        // 40 mm: the top of the text's cell
}
