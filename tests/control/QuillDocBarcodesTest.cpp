// PrintBarCode and GetBarCodeImg.
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "barcode/Pdf417Image.h"
#include "images/JpegDecoder.h"
#include "testing/BarcodeScan.h"
#include "testing/PdfContent.h"
#include "testing/PdfPage.h"
#include "testing/SmallDisk.h"
#include "testing/TestSupport.h"

namespace {

class Barcodes : public QuillDocFixture {
protected:
    void SetUp() override {
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&m_doc)),
                  S_OK);
    }
    void TearDown() override { m_doc->Release(); }

    std::u16string Image(int dimension, const std::u16string &code, HRESULT expected) {
        BSTR url = reinterpret_cast<BSTR>(0xdeadbeef);
        EXPECT_EQ(m_doc->GetBarCodeImg(dimension, Arg(code), &url), expected);
        return Take(url);
    }
    const Picture *Shown() { return static_cast<QuillDoc *>(m_doc)->PictureObject(); }

    // Reads the symbol of an image file back, every pixel repeated
    // scaleX x scaleY times.
    static std::string ScanFile(const std::u16string &url, int scaleX, int scaleY) {
        // After "file://"; the decoder takes ANSI paths, as the system does.
        const std::string path = testing_support::Ansi(platform::WideToUtf8(url.c_str() + 7));
        int width = 0, height = 0;
        unsigned char *rgb = ReadJpegFile(path.c_str(), &width, &height);
        if (!rgb)
            return "(no file)";
        std::vector<unsigned char> grey(static_cast<size_t>(width * height));
        for (size_t i = 0; i < grey.size(); ++i)
            grey[i] = rgb[i * 3 + 1];
        free(rgb);
        return testing_support::ScanGrey(grey, width, height, scaleX, scaleY);
    }

    IQuillDoc *m_doc = nullptr;
};

// Texts for PDF417 that a page can pass: letters of both cases, digit runs
// around the numeric threshold, every punctuation mark, Chinese, long ones
// and ones at the capacity limit.
std::vector<std::string> PdfTexts() {
    std::vector<std::string> texts = {
        "PDF417 标签 No. 2026-12-08",
        "aBcD eFGH ij;<>@[\\]_`~!,:-.$/\"|*()?{}' #&+%=^ xyZ",
        "收货人：张三 电话：13800000000 地址：北京市海淀区中关村大街 1 号",
        "Order 123456789012 / 1234567890123 / 12345678901234",
    };
    std::string longText;
    while (longText.size() < 900)
        longText += "SO-2026-12-0815|打印纸 A4 70g|10|箱; ";
    texts.push_back(longText);
    // At the capacity limit: 2710 digits, and 554 Chinese characters (1108
    // GBK bytes, the longest byte run that fits).
    texts.push_back(std::string(2710, '7'));
    std::string chinese;
    for (int i = 0; i < 554; ++i)
        chinese += i % 2 ? "码" : "条";
    texts.push_back(chinese);
    return texts;
}

} // namespace

TEST_F(Barcodes, ImagesGoToTheTemporaryDirectoryByKind) {
    const std::u16string folder = Wide(getenv("TMPDIR"));
    EXPECT_EQ(Image(1, u"6901234567892", S_OK), u"file://" + folder + u"/tmpbarcode1.jpg");
    BSTR result = nullptr;
    m_doc->GetDBResult(&result);
    EXPECT_EQ(Take(result), u"file://" + folder + u"/tmpbarcode1.jpg");
    EXPECT_EQ(Image(3, u"1234", S_OK), u"file://" + folder + u"/tmpbarcode3.jpg");
    const std::string file = std::string(getenv("TMPDIR")) + "/tmpbarcode3.jpg";
    EXPECT_GT(testing_support::ReadFile(file).size(), 100u);
    EXPECT_EQ(testing_support::ReadFile(file).substr(0, 2), "\xFF\xD8");
}

TEST_F(Barcodes, TheImagesPartFileLeavesWhatIsAtItsNameAsItWas) {
    // A link at the name the image is first written under (beside the
    // image, with this thread's numbers), to a file of the user's.
    const std::string tmp = getenv("TMPDIR");
    const std::string victim = tmp + "/victim.txt";
    testing_support::WriteFile(victim, "the user's own text\n");
    const std::string part = tmp + "/tmpbarcode1.jpg." + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(GetCurrentThreadId()) + "-0.part";
    ASSERT_EQ(symlink(victim.c_str(), part.c_str()), 0);
    EXPECT_EQ(Image(1, u"6901234567892", S_OK), u"file://" + Wide(tmp) + u"/tmpbarcode1.jpg");
    EXPECT_EQ(testing_support::ReadFile(tmp + "/tmpbarcode1.jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(testing_support::ReadFile(victim), "the user's own text\n");
    char target[4096] = {};
    ASSERT_GT(readlink(part.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), victim);
    unlink(part.c_str());
    unlink(victim.c_str());
}

TEST_F(Barcodes, AnImageThatCannotBeWrittenFailsAndLeavesThePreviousFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a file system of its own";
    testing_support::SmallDisk disk(256 << 10);
    std::string why;
    ASSERT_TRUE(disk.Ready(why)) << why;
    testing_support::ScopedEnvironment tmp("TMPDIR", disk.Path());
    const std::u16string url = u"file://" + Wide(disk.Path()) + u"/tmpbarcode2.jpg";
    EXPECT_EQ(Image(2, u"the first symbol", S_OK), url);
    const std::string file = disk.Path() + "/tmpbarcode2.jpg";
    const std::string first = testing_support::ReadFile(file);
    disk.Fill();
    // No address for a file that was not written, and the result slot empty.
    EXPECT_EQ(Image(2, u"a second symbol, not the first one", S_FALSE), u"");
    BSTR result = reinterpret_cast<BSTR>(0xdeadbeef);
    m_doc->GetDBResult(&result);
    EXPECT_EQ(Take(result), u"");
    EXPECT_TRUE(testing_support::ReadFile(file) == first);
    EXPECT_EQ(testing_support::ListFiles(disk.Path(), ".part").size(), 0u);
    disk.Free();
    EXPECT_EQ(ScanFile(Image(2, u"a second symbol", S_OK), 4, 12), "a second symbol");
}

TEST_F(Barcodes, AddressesOfImagesInAChineseTemporaryFolderOpen) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_FALSE(trail.empty());
    const std::string saved = getenv("TMPDIR");
    const std::string dir = saved + "/临时" + trail[0];
    ASSERT_TRUE(testing_support::MakeFolder(dir, 0700));
    setenv("TMPDIR", dir.c_str(), 1);
    const std::u16string url = Image(3, u"20261208", S_OK);
    setenv("TMPDIR", saved.c_str(), 1);
    // The address names the file that was written, as a browser opens it.
    EXPECT_EQ(url, u"file://" + Wide(dir) + u"/tmpbarcode3.jpg");
    EXPECT_EQ(testing_support::ReadFile(dir + "/tmpbarcode3.jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ScanFile(url, 3, 3), "20261208");
    testing_support::RemoveTree(dir);
}

TEST_F(Barcodes, RefusedTextsAndUnknownKindsGiveNoImage) {
    EXPECT_EQ(Image(1, u"123", S_FALSE), u"(null)");
    EXPECT_EQ(Image(4, u"1234", S_FALSE), u"(null)");
    EXPECT_EQ(Image(3, u"12AB", S_FALSE), u"(null)");
    EXPECT_EQ(m_doc->PrintBarCode(4, Arg(u"1234"), 10, 10, 0, 0, 0, 0), S_FALSE);
    EXPECT_EQ(m_doc->PrintBarCode(1, Arg(u"12"), 10, 10, 0, 0, 0, 0), S_FALSE);
}

TEST_F(Barcodes, PlacementFollowsTheScale) {
    m_doc->SetPaperSize(2100, 2970);
    int n = 0;
    m_doc->SetPrinter(Arg(u"1"), &n);
    // 10 and 20 mm at 23.622 units per millimetre; 40 mm wide, height by the
    // symbol's proportions: 944 x trunc(40 x 23.622 x 40 / 123) = 307.
    EXPECT_EQ(m_doc->PrintBarCode(1, Arg(u"6901234567892"), 10, 20, 0, 0, 40, 0), S_OK);
    const RECT &dest = Shown()->DestRect();
    EXPECT_EQ(dest.left, 236);
    EXPECT_EQ(dest.top, 472);
    EXPECT_EQ(dest.right - dest.left, 944);
    EXPECT_EQ(dest.bottom - dest.top, 307);
    // Both sizes 0: one symbol pixel per millimetre.
    EXPECT_EQ(m_doc->PrintBarCode(3, Arg(u"1234"), 0, 0, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(Shown()->DestRect().right, static_cast<int>(114 * 600 * 0.03937007874015748));
    m_doc->SetPrinter(Arg(u"0"), &n);
}

TEST_F(Barcodes, ImageFilesReadBack) {
    EXPECT_EQ(ScanFile(Image(1, u"6901234567892", S_OK), 3, 3), "6901234567892");
    EXPECT_EQ(ScanFile(Image(3, u"20261208", S_OK), 3, 3), "20261208");
    EXPECT_EQ(ScanFile(Image(3, u"123", S_OK), 3, 3), "123");
    // PDF417: one pixel per module and per row; the reader wants taller rows.
    // Each call overwrites the one file of its kind.
    const std::u16string first = Image(2, u"quillbay", S_OK);
    for (const std::string &text : PdfTexts()) {
        const std::u16string url = Image(2, Wide(text), S_OK);
        EXPECT_EQ(url, first);
        EXPECT_EQ(ScanFile(url, 4, 12), testing_support::Ansi(text)) << text.substr(0, 40);
    }
    EXPECT_EQ(Image(2, u"", S_FALSE), u"(null)"); // an empty text makes no symbol
    EXPECT_EQ(m_doc->PrintBarCode(2, nullptr, 10, 10, 0, 0, 0, 0), S_FALSE);
}

TEST_F(Barcodes, PrintedSymbolsReadBackFromThePage) {
    const std::string dir = testing_support::MakeTempDir("barcodes-");
    setenv("QUILLBAY_PRINT_DIR", dir.c_str(), 1);
    m_doc->SetPaperSize(2100, 2970);
    int n = 0;
    // One symbol on a page of its own, read back from the page rasterised
    // at the printer's 600 dpi.
    auto printed = [&](int kind, const std::string &code, int width, int height) {
        m_doc->SetPrinter(Arg(u"1"), &n);
        EXPECT_EQ(m_doc->PrintBarCode(kind, Arg(Wide(code)), 20, 20, 0, 0, width, height), S_OK);
        const RECT dest = Shown()->DestRect();
        m_doc->SetPrinter(Arg(u"0"), &n);
        const std::string listing = testing_support::Run({"/bin/ls", dir}).output;
        const std::string pdf = dir + "/" + listing.substr(0, listing.find('\n'));
        const int margin = 60;
        const int x = dest.left - margin, y = dest.top - margin;
        const int areaWidth = dest.right - dest.left + 2 * margin,
                  areaHeight = dest.bottom - dest.top + 2 * margin;
        testing_support::PdfPage area(pdf, 600, x, y, areaWidth, areaHeight);
        testing_support::RemoveTree(pdf);
        return testing_support::ScanGrey(area.Region(0, 0, areaWidth - 1, areaHeight - 1),
                                         areaWidth, areaHeight, 1, 1);
    };
    EXPECT_EQ(printed(1, "6901234567892", 50, 0), "6901234567892");
    EXPECT_EQ(printed(3, "2026120812345", 80, 25), "2026120812345");
    // PDF417 170 mm wide, rows three modules tall.
    for (const std::string &text : PdfTexts()) {
        Pdf417Image symbol;
        const std::string ansi = testing_support::Ansi(text);
        ASSERT_NE(symbol.EncodeText(ansi.c_str()), nullptr);
        const int height = 170 * 3 * symbol.Height() / symbol.Width();
        EXPECT_EQ(printed(2, text, 170, height), ansi) << text.substr(0, 40);
    }
    m_doc->SetPrinter(Arg(u"1"), &n);
    // Both sizes 0: a W x r symbol becomes W x r millimetres.
    EXPECT_EQ(m_doc->PrintBarCode(2, Arg(u"ABC"), 0, 0, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(Shown()->DestRect().right - Shown()->DestRect().left,
              static_cast<int>(86 * 600 * 0.03937007874015748));
    EXPECT_EQ(Shown()->DestRect().bottom - Shown()->DestRect().top,
              static_cast<int>(11 * 600 * 0.03937007874015748));
    testing_support::RemoveTree(dir);
}

TEST_F(Barcodes, StencilsCostThePageLittleMoreThanImages) {
    const std::string dir = testing_support::MakeTempDir("label-size-");
    setenv("QUILLBAY_PRINT_DIR", dir.c_str(), 1);
    m_doc->SetPaperSize(2100, 2970);
    // The sample label's symbols where it puts them.
    struct Symbol {
        int kind;
        std::string code;
        int x, y, width, height;
        RECT placed;
    };
    Symbol label[] = {
        {3, "20261208150815", 15, 99, 70, 20, {}},
        {1, "6901234567892", 15, 125, 40, 0, {}},
        {2, "SO-2026-12-0815|张三|13800000000|北京市海淀区中关村大街 1 号", 110, 99, 80, 36, {}}};
    int n = 0;
    std::vector<std::string> seen = testing_support::FolderEntries(dir);
    auto printed = [&] {
        m_doc->SetPrinter(Arg(u"0"), &n);
        return testing_support::NewEntry(dir, seen);
    };
    m_doc->SetPrinter(Arg(u"1"), &n);
    for (Symbol &s : label) {
        EXPECT_EQ(m_doc->PrintBarCode(s.kind, Arg(Wide(s.code)), s.x, s.y, 0, 0, s.width, s.height),
                  S_OK);
        s.placed = Shown()->DestRect();
    }
    const std::string stencils = printed();
    // The same pictures at the same places, each as one image.
    m_doc->SetPrinter(Arg(u"1"), &n);
    for (const Symbol &s : label) {
        Image(s.kind, Wide(s.code), S_OK);
        auto *picture = const_cast<Picture *>(Shown());
        picture->SetDestRect(s.placed.left, s.placed.top, s.placed.right - s.placed.left,
                             s.placed.bottom - s.placed.top);
        picture->Draw(static_cast<QuillDoc *>(m_doc)->JobDC(), TRUE, DDF_HALFTONE | DDF_JUSTDRAWIT);
    }
    const std::string images = printed();
    const size_t a = testing_support::ReadFile(stencils).size();
    const size_t b = testing_support::ReadFile(images).size();
    // What a stencil adds: a white ground under each symbol, and an image of
    // its own for the smoothed caption of Code 128 (about 250 bytes here).
    EXPECT_LE(a, b + 300) << "stencils " << a << " bytes, images " << b;
    testing_support::PdfContent content(stencils);
    EXPECT_EQ(content.Images().size(), 4u); // three stencils and the caption

    testing_support::RemoveTree(dir);
}
