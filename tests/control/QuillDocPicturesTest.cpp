// PrintLogo: pictures from files, file addresses and modules' resources,
// placed on the page at millimetre positions.
#include <string>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "platform/print/JobLog.h"
#include "testing/PdfPage.h"
#include "testing/TestSupport.h"

namespace {

std::string PictureFile(const std::string &name) {
    return testing_support::Fixture("pictures/" + name);
}

class Pictures : public QuillDocFixture {
protected:
    void SetUp() override {
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        m_dir = testing_support::MakeTempDir("logo-");
        setenv("QUILLBAY_PRINT_DIR", m_dir.c_str(), 1);
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&m_doc)),
                  S_OK);
        m_doc->SetPaperSize(2100, 2970);
        int n = 0;
        m_doc->SetPrinter(Arg(u"1"), &n);
    }
    void TearDown() override {
        m_doc->Release();
        testing_support::RemoveTree(m_dir);
    }

    HRESULT Logo(const std::string &url, const std::string &file, int x = 10, int y = 10, int w = 0,
                 int h = 0) {
        return m_doc->PrintLogo(Arg(Wide(url)), Arg(Wide(file)), x, y, 5, 0, w, h);
    }
    const Picture *Shown() { return static_cast<QuillDoc *>(m_doc)->PictureObject(); }

    std::string Printed() {
        int n = 0;
        m_doc->SetPrinter(Arg(u"0"), &n);
        std::string name = testing_support::Run({"/bin/ls", m_dir}).output;
        return m_dir + "/" + name.substr(0, name.find('\n'));
    }

    IQuillDoc *m_doc = nullptr;
    std::string m_dir;
};

} // namespace

TEST_F(Pictures, PlainPathsAndFileAddressesLoad) {
    EXPECT_EQ(Logo("", PictureFile("basn2c08.png")), S_OK);
    EXPECT_EQ(Shown()->Width(), 32);
    // A non-empty address makes the file argument irrelevant.
    EXPECT_EQ(Logo("file://" + PictureFile("all-reds.gif"), "/nonexistent.png"), S_OK);
    EXPECT_EQ(Shown()->Width(), 16);
    EXPECT_EQ(Logo(PictureFile("testorig.jpg"), ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 227);
}

TEST_F(Pictures, FormatsAreFoundByContentNotName) {
    std::string dir = testing_support::MakeTempDir("named-");
    testing_support::WriteFile(dir + "/really-a-png.gif",
                               testing_support::ReadFile(PictureFile("basn2c08.png")));
    testing_support::WriteFile(dir + "/really-a-jpeg.png",
                               testing_support::ReadFile(PictureFile("testorig.jpg")));
    EXPECT_EQ(Logo(dir + "/really-a-png.gif", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 32);
    EXPECT_EQ(Logo(dir + "/really-a-jpeg.png", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 227);
    testing_support::RemoveTree(dir);
}

TEST_F(Pictures, ResourceAddressesNameModuleTypeAndName) {
    const std::string module = PICTURES_MODULE_PATH;
    EXPECT_EQ(Logo("res://" + module + "/IMG/logo.gif", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 16);
    EXPECT_EQ(Logo("res://" + module + "/img/logo.png", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 32);
    EXPECT_EQ(Logo("res://" + module + "/plain.png", ""), S_OK); // type "HTML"
    // JPEG and BMP have no memory source: their resources do not load.
    EXPECT_EQ(Logo("res://" + module + "/IMG/logo.jpg", ""), S_FALSE);
    EXPECT_EQ(Logo("res://" + module + "/IMG/logo.bmp", ""), S_FALSE);
    EXPECT_EQ(Logo("res://" + module + "/IMG/missing.gif", ""), S_FALSE);
    EXPECT_EQ(Logo("res://nowhere/IMG/logo.gif", ""), S_FALSE); // no .DLL in it
}

TEST_F(Pictures, ChineseNamedPicturesModulesAndPrintFoldersWork) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_GE(trail.size(), 2u);
    int n = 0;
    m_doc->SetPrinter(Arg(u"0"), &n); // the job SetUp began goes to the plain folder
    const std::string prints = m_dir + "/打印" + trail[0];
    setenv("QUILLBAY_PRINT_DIR", prints.c_str(), 1);
    m_doc->SetPrinter(Arg(u"1"), &n);
    const std::string folder = m_dir + "/图片" + trail[0] + trail[1];
    ASSERT_TRUE(testing_support::MakeFolder(folder, 0700));
    const std::string png = folder + "/中文图" + trail[1] + ".png";
    const std::string jpeg = folder + "/表" + trail[0] + ".jpg";
    const std::string module = folder + "/模块" + trail[0] + ".dll";
    testing_support::WriteFile(png, testing_support::ReadFile(PictureFile("basn2c08.png")));
    testing_support::WriteFile(jpeg, testing_support::ReadFile(PictureFile("testorig.jpg")));
    testing_support::WriteFile(module, testing_support::ReadFile(PICTURES_MODULE_PATH));
    EXPECT_EQ(Logo("", png), S_OK);
    EXPECT_EQ(Shown()->Width(), 32);
    EXPECT_EQ(Logo("file://" + jpeg, ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 227);
    EXPECT_EQ(Logo("res://" + module + "/IMG/logo.gif", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 16);
    // The job lands in the Chinese print folder, and the job log names it
    // as the file system does.
    m_doc->SetPrinter(Arg(u"0"), &n);
    setenv("QUILLBAY_PRINT_DIR", m_dir.c_str(), 1);
    const auto pdfs = testing_support::ListFiles(prints, ".pdf");
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_NE(pdfs[0].find("打印控件"), std::string::npos);
    const auto jobs = platform::print::JobLog::Read();
    ASSERT_FALSE(jobs.empty());
    EXPECT_EQ(jobs.back().where, prints + "/" + pdfs[0]);
    EXPECT_TRUE(testing_support::PdfPage(prints + "/" + pdfs[0], 50).Ok());
}

TEST_F(Pictures, OtherAddressesAreFilePaths) {
    EXPECT_EQ(Logo("HTTP://example/logo.gif", ""), S_FALSE); // capitals: a file path
    EXPECT_EQ(Logo("", ""), S_FALSE);
    // Web addresses are downloaded (QuillDocHttpTest.cpp): these fail without
    // any traffic leaving the machine.
    EXPECT_EQ(Logo("https://pictures.invalid/logo.gif", ""), S_FALSE);
    EXPECT_EQ(Logo("http://pictures.invalid/logo.gif", ""), S_FALSE);
}

TEST_F(Pictures, PicturesLandOnTheirDeviceRectangle) {
    // 15 mm from the left at 600 dpi: device x 354; natural size with 0 x 0.
    ASSERT_EQ(Logo("", PictureFile("all-reds.gif"), 10, 20, 0, 0), S_OK);
    ASSERT_EQ(Logo("", PictureFile("all-reds.gif"), 40, 20, 10, 5), S_OK);
    ASSERT_EQ(Logo("", PictureFile("all-reds.gif"), 70, 20, -5, 5), S_OK); // nothing
    testing_support::PdfPage page(Printed(), 600);
    ASSERT_TRUE(page.Ok());
    const int top = static_cast<int>(20 * 600 * 0.03937007874015748);
    int left, t, right, bottom;
    ASSERT_TRUE(page.DarkBox(0, top - 5, 900, top + 200, left, t, right, bottom));
    // Edges within a dot: the rasteriser places the image's edges.
    EXPECT_NEAR(left, 354, 1);
    EXPECT_NEAR(right, 354 + 15, 1); // 16 dots wide
    EXPECT_NEAR(t, top, 1);
    EXPECT_NEAR(bottom, top + 15, 1);
    const int second = static_cast<int>(45 * 600 * 0.03937007874015748);
    ASSERT_TRUE(page.DarkBox(second - 5, top - 5, second + 400, top + 200, left, t, right, bottom));
    EXPECT_NEAR(left, second, 1);
    EXPECT_NEAR(right, second + static_cast<int>(10 * 600 * 0.03937007874015748) - 1, 1);
    EXPECT_NEAR(bottom, top + static_cast<int>(5 * 600 * 0.03937007874015748) - 1, 1);
    const int third = static_cast<int>(75 * 600 * 0.03937007874015748);
    EXPECT_FALSE(page.DarkBox(third - 5, top - 5, third + 400, top + 200, left, t, right, bottom));
}
