// PrintLogo: pictures from files, file addresses and modules' resources,
// placed on the page at millimetre positions.
#include <cstdint>
#include <functional>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "platform/print/JobLog.h"
#include "testing/PdfContent.h"
#include "testing/PdfPage.h"
#include "testing/TestSupport.h"

namespace {

std::string PictureFile(const std::string &name) {
    return testing_support::Fixture("pictures/" + name);
}

// Writes a PNG file whose pixel (x, y) (top-left origin) is colour(x, y),
// 0xRRGGBB.
void WritePng(const std::string &path, int width, int height,
              const std::function<uint32_t(int, int)> &colour) {
    std::vector<png_byte> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            png_byte *p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3];
            p[0] = static_cast<png_byte>(c >> 16);
            p[1] = static_cast<png_byte>(c >> 8);
            p[2] = static_cast<png_byte>(c);
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr), 0) << path;
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

TEST_F(Pictures, ResourceAddressesReadModulesAsDataAndNeverRunThem) {
    const std::string mark = m_dir + "/mark";
    testing_support::ScopedEnvironment marking("QUILLBAY_TEST_MARK", mark);
    auto loaded = [](const std::string &path) {
        return GetModuleHandleA(testing_support::Ansi(path).c_str()) != nullptr;
    };
    // A library with no resource table: nothing of it loads or runs.
    const std::string evil = MARKING_MODULE_PATH;
    EXPECT_EQ(Logo("res://" + evil + "/IMG/logo.gif", ""), S_FALSE);
    EXPECT_EQ(Logo("res://" + evil + "/logo.gif", ""), S_FALSE);
    // The pictures of a module with code of its own print; its code stays
    // unrun, the module unloaded.
    const std::string pictures = MARKED_PICTURES_PATH;
    EXPECT_EQ(Logo("res://" + pictures + "/IMG/logo.gif", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 16);
    EXPECT_EQ(Logo("res://" + pictures + "/plain.png", ""), S_OK);
    EXPECT_EQ(Shown()->Width(), 32);
    EXPECT_FALSE(loaded(evil));
    EXPECT_FALSE(loaded(pictures));
    EXPECT_EQ(access(mark.c_str(), F_OK), -1);
    // Files that are no module at all: a picture, a FIFO (refused, not
    // waited on), a module cut short in its resources.
    const std::string gif = m_dir + "/picture.dll";
    testing_support::WriteFile(gif, testing_support::ReadFile(PictureFile("all-reds.gif")));
    EXPECT_EQ(Logo("res://" + gif + "/IMG/logo.gif", ""), S_FALSE);
    const std::string fifo = m_dir + "/fifo.dll";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Logo("res://" + fifo + "/IMG/logo.gif", ""), S_FALSE);
    const std::string whole = testing_support::ReadFile(pictures);
    const std::string cut = m_dir + "/cut.dll";
    testing_support::WriteFile(cut, whole.substr(0, whole.find("GIF8") + 20));
    EXPECT_EQ(Logo("res://" + cut + "/IMG/logo.gif", ""), S_FALSE);
    // The test module does run when it is loaded as code: the mark is its.
    HMODULE code = LoadLibraryA(evil.c_str());
    ASSERT_NE(code, nullptr);
    FreeLibrary(code);
    EXPECT_EQ(access(mark.c_str(), F_OK), 0);
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

TEST_F(Pictures, PicturesBeyondTheImageLimitPrintAtTheDotsTheyCover) {
    // 40000 x 2 and 2 x 40000: dark grey in their first half, red in the rest.
    const std::string wide = m_dir + "/wide.png", tall = m_dir + "/tall.png";
    WritePng(wide, 40000, 2, [](int x, int) { return x < 20000 ? 0x202020u : 0xFF0000u; });
    WritePng(tall, 2, 40000, [](int, int y) { return y < 20000 ? 0x202020u : 0xFF0000u; });
    ASSERT_EQ(Logo("", wide, 10, 20, 100, 10), S_OK);
    ASSERT_EQ(Logo("", tall, 150, 20, 10, 100), S_OK);
    const std::string pdf = Printed();
    // No more pixels than the 2362 dots of 100 mm at 600 dpi.
    const std::string list = testing_support::Run({"/usr/bin/pdfimages", "-list", pdf}).output;
    EXPECT_EQ(list.find("40000"), std::string::npos) << list;
    testing_support::PdfContent content(pdf);
    ASSERT_EQ(content.Images().size(), 2u);
    EXPECT_NEAR(content.Images()[0].width, 100 / 25.4 * 72, 0.5);
    EXPECT_NEAR(content.Images()[1].height, 100 / 25.4 * 72, 0.5);
    testing_support::PdfPage page(pdf, 100);
    ASSERT_TRUE(page.Ok());
    auto grey = [&](double xMm, double yMm) {
        const int x = static_cast<int>((xMm + 5) / 25.4 * 100),
                  y = static_cast<int>(yMm / 25.4 * 100);
        return static_cast<int>(page.Region(x, y, x, y)[0]);
    };
    EXPECT_NEAR(grey(30, 25), 32, 12); // dark grey
    EXPECT_NEAR(grey(90, 25), 76, 20); // red, as grey
    EXPECT_NEAR(grey(155, 50), 32, 12);
    EXPECT_NEAR(grey(155, 100), 76, 20);
}

TEST_F(Pictures, ThinRulesAndSmallMarksAllPrint) {
    // 200 x 2 red and 200 x 3 black, at their own size, at 25 heights each.
    const std::string red = m_dir + "/red.png", black = m_dir + "/black.png";
    WritePng(red, 200, 2, [](int, int) { return 0xFF0000u; });
    WritePng(black, 200, 3, [](int, int) { return 0x000000u; });
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(Logo("", red, 10, 20 + 3 * i), S_OK);
        ASSERT_EQ(Logo("", black, 60, 20 + 3 * i), S_OK);
    }
    const std::string pdf = Printed();
    testing_support::PdfContent content(pdf);
    EXPECT_EQ(content.Images().size(), 50u);
    testing_support::PdfPage page(pdf, 600);
    ASSERT_TRUE(page.Ok());
    const double dots = 600 * 0.03937007874015748;
    for (int i = 0; i < 25; ++i) {
        const int y = static_cast<int>((20 + 3 * i) * dots);
        int left, top, right, bottom;
        for (int x : {static_cast<int>(15 * dots), static_cast<int>(65 * dots)})
            EXPECT_TRUE(page.DarkBox(x, y - 3, x + 199, y + 6, left, top, right, bottom))
                << "mark " << i << " at x " << x;
    }
}
