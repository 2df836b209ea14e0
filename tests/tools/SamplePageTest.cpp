// The sample pages printed through the script host: the label on the
// built-in PDF printer and on a real CUPS server with a driverless IPP
// printer; the order list from an embedded SQLite database and from a
// PostgreSQL server registered for it.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "testing/BarcodeScan.h"
#include "testing/PdfPage.h"
#include "testing/PrivateCups.h"
#include "testing/PrivateOdbc.h"
#include "testing/PrivatePostgres.h"
#include "testing/TestSupport.h"

namespace {

// A page in grey pixels, rows top first.
struct Raster {
    int width = 0, height = 0;
    std::vector<unsigned char> grey;

    // The pixels of a rectangle in millimetres at dpi, white beyond the page.
    std::vector<unsigned char> Area(int dpi, double x, double y, double w, double h, int &pw,
                                    int &ph) const {
        auto px = [dpi](double mm) { return static_cast<int>(mm * dpi / 25.4); };
        const int x0 = px(x), y0 = px(y);
        pw = px(w);
        ph = px(h);
        std::vector<unsigned char> area(static_cast<size_t>(pw) * static_cast<size_t>(ph), 255);
        for (int r = 0; r < ph && y0 + r < height; ++r)
            for (int c = 0; c < pw && x0 + c < width; ++c)
                area[static_cast<size_t>(r) * static_cast<size_t>(pw) + c] =
                    grey[static_cast<size_t>(y0 + r) * static_cast<size_t>(width) + x0 + c];
        return area;
    }
};

// Reads a PBM (P4) or PGM (P5) file, comment lines included.
Raster ReadPnm(const std::string &path) {
    const std::string bytes = testing_support::ReadFile(path);
    std::istringstream in(bytes);
    std::string magic;
    in >> magic;
    auto number = [&in] {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        int n = 0;
        in >> n;
        return n;
    };
    Raster raster;
    raster.width = number();
    raster.height = number();
    if (magic != "P4")
        number(); // the largest value
    in.get();
    const size_t at = static_cast<size_t>(in.tellg());
    raster.grey.resize(static_cast<size_t>(raster.width) * static_cast<size_t>(raster.height));
    const size_t rowBytes = magic == "P4" ? (static_cast<size_t>(raster.width) + 7) / 8
                                          : static_cast<size_t>(raster.width);
    if (bytes.size() < at + rowBytes * static_cast<size_t>(raster.height))
        return Raster{};
    for (int y = 0; y < raster.height; ++y) {
        const unsigned char *row =
            reinterpret_cast<const unsigned char *>(bytes.data()) + at + rowBytes * y;
        for (int x = 0; x < raster.width; ++x)
            raster.grey[static_cast<size_t>(y) * raster.width + x] =
                magic == "P4" ? ((row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255) : row[x];
    }
    return raster;
}

// The first page as a printer's filter rasterises it: poppler in one bit or
// in grey, or ghostscript in grey.
enum class Rasteriser { PopplerMono, PopplerGrey, Ghostscript };

Raster Rasterise(const std::string &pdf, int dpi, Rasteriser how, const std::string &dir) {
    const std::string out = dir + "/page";
    const std::string r = std::to_string(dpi);
    if (how == Rasteriser::Ghostscript) {
        testing_support::Run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                              "-sDEVICE=pgmraw", "-r" + r, "-dFirstPage=1", "-dLastPage=1",
                              "-sOutputFile=" + out + ".pgm", pdf});
        return ReadPnm(out + ".pgm");
    }
    const bool mono = how == Rasteriser::PopplerMono;
    testing_support::Run({"/usr/bin/pdftoppm", "-f", "1", "-l", "1", "-r", r,
                          mono ? "-mono" : "-gray", "-singlefile", pdf, out});
    return ReadPnm(out + (mono ? ".pbm" : ".pgm"));
}

// The symbols zbar reads in grey areas, one per line.
std::string ZbarReads(const std::vector<std::vector<unsigned char>> &areas,
                      const std::vector<std::pair<int, int>> &sizes, const std::string &dir) {
    std::vector<std::string> argv = {"/usr/bin/zbarimg", "-q", "--raw"};
    for (size_t i = 0; i < areas.size(); ++i) {
        const std::string file = dir + "/area" + std::to_string(i) + ".pgm";
        testing_support::WriteFile(file, "P5\n" + std::to_string(sizes[i].first) + " " +
                                             std::to_string(sizes[i].second) + "\n255\n" +
                                             std::string(areas[i].begin(), areas[i].end()));
        argv.push_back(file);
    }
    return testing_support::Run(argv).output;
}

class SamplePage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH}).exitCode, 0);
    }
    void SetUp() override {
        m_dir = testing_support::MakeTempDir("sample-");
        setenv("QUILLBAY_PRINT_DIR", m_dir.c_str(), 1);
        setenv("QUILLBAY_UI", "headless", 1);
    }
    void TearDown() override {
        unsetenv("QUILLBAY_PRINTER");
        testing_support::RemoveTree(m_dir);
    }
    // The one job's PDF in the print folder.
    std::string OnlyJob() {
        std::string listing = testing_support::Run({"/bin/ls", "-1", m_dir}).output;
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << listing;
        return m_dir + "/" + listing.substr(0, listing.find('\n'));
    }
    // Prints the order list on the PDF printer and checks what the page says.
    void PrintOrderList() {
        testing_support::PrivateOdbc::Shared(); // the SQLite driver, for the page's own database
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        auto result = testing_support::Run({SCRIPT_HOST_PATH, ORDER_LIST_PAGE_PATH});
        ASSERT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, "printed 1 page of 4 orders\n");
        std::string pdf = OnlyJob();
        std::string text = testing_support::PdfText(pdf);
        for (const char *expected :
             {"订单清单", "20260001", "张三", "上海市浦东新区", "￥240.25", "赵六"})
            EXPECT_NE(text.find(expected), std::string::npos) << expected << " in " << text;
        // The first order's barcode, wherever the printer's margin puts it:
        // a band across the right of the page around its row.
        const int dpi = 300;
        auto mm = [dpi](double v) { return static_cast<int>(v * dpi / 25.4); };
        testing_support::PdfPage band(pdf, dpi, mm(120), mm(14), mm(90), mm(24));
        ASSERT_TRUE(band.Ok());
        EXPECT_EQ(testing_support::ScanGrey(band.Region(0, 0, band.Width() - 1, band.Height() - 1),
                                            band.Width(), band.Height(), 1, 1),
                  "20260001");
    }
    std::string m_dir;
};

} // namespace

TEST_F(SamplePage, PrintsTwoPagesOnThePdfPrinter) {
    setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
    auto result = testing_support::Run({SCRIPT_HOST_PATH, SAMPLE_PAGE_PATH});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "printed 2 pages\n");
    std::string listing = testing_support::Run({"/bin/ls", "-1tr", m_dir}).output;
    size_t newline = listing.find('\n');
    ASSERT_NE(newline, std::string::npos);
    std::string first = m_dir + "/" + listing.substr(0, newline);
    std::string second =
        m_dir + "/" + listing.substr(newline + 1, listing.find('\n', newline + 1) - newline - 1);
    double w = 0, h = 0;
    ASSERT_TRUE(testing_support::PdfPageSize(first, w, h));
    EXPECT_NEAR(w / 72 * 25.4, 210, 0.5);
    EXPECT_NEAR(h / 72 * 25.4, 297, 0.5);
    ASSERT_TRUE(testing_support::PdfPageSize(second, w, h));
    EXPECT_NEAR(w / 72 * 25.4, 297, 0.5);
    EXPECT_NEAR(h / 72 * 25.4, 210, 0.5);
    std::string text = testing_support::PdfText(first);
    EXPECT_NE(text.find("发货单"), std::string::npos);
    EXPECT_NE(text.find("收货人：张三"), std::string::npos);
    std::string fonts = testing_support::PdfFonts(first);
    EXPECT_NE(fonts.find("UMingCN"), std::string::npos) << fonts;
}

TEST_F(SamplePage, TheLabelsSymbolsScanHoweverThePrinterRasterisesThem) {
    setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
    ASSERT_EQ(testing_support::Run({SCRIPT_HOST_PATH, SAMPLE_PAGE_PATH}).exitCode, 0);
    std::string listing = testing_support::Run({"/bin/ls", "-1tr", m_dir}).output;
    const std::string pdf = m_dir + "/" + listing.substr(0, listing.find('\n'));
    const std::string work = testing_support::MakeTempDir("raster-");
    const bool zbar = access("/usr/bin/zbarimg", X_OK) == 0;
    // Where the label puts its symbols (millimetres, with room around them).
    struct Symbol {
        const char *name;
        double x, y, w, h;
        std::string text;
    };
    const Symbol symbols[] = {
        {"Code 128", 5, 90, 90, 34, "20261208150815"},
        {"EAN-13", 5, 121, 60, 24, "6901234567892"},
        {"PDF417", 100, 90, 100, 50,
         testing_support::Ansi("SO-2026-12-0815|张三|13800000000|北京市海淀区中关村大街 1 号")}};
    const char *names[] = {"poppler mono", "poppler grey", "ghostscript"};
    for (int dpi : {150, 180, 200, 203, 240, 300, 360, 400, 600}) {
        for (Rasteriser how :
             {Rasteriser::PopplerMono, Rasteriser::PopplerGrey, Rasteriser::Ghostscript}) {
            const Raster page = Rasterise(pdf, dpi, how, work);
            const std::string where =
                std::string(names[static_cast<int>(how)]) + " at " + std::to_string(dpi) + " dpi";
            ASSERT_GT(page.width, 0) << where;
            std::vector<std::vector<unsigned char>> linear;
            std::vector<std::pair<int, int>> sizes;
            for (const Symbol &symbol : symbols) {
                int w = 0, h = 0;
                std::vector<unsigned char> area =
                    page.Area(dpi, symbol.x, symbol.y, symbol.w, symbol.h, w, h);
                EXPECT_EQ(testing_support::ScanGrey(area, w, h, 1, 1), symbol.text)
                    << symbol.name << ", " << where;
                if (symbol.text.size() < 20) {
                    linear.push_back(std::move(area));
                    sizes.emplace_back(w, h);
                }
            }
            if (zbar) {
                const std::string read = ZbarReads(linear, sizes, work);
                EXPECT_NE(read.find("20261208150815"), std::string::npos) << "zbar, " << where;
                EXPECT_NE(read.find("6901234567892"), std::string::npos) << "zbar, " << where;
            }
        }
    }
    testing_support::RemoveTree(work);
}

TEST_F(SamplePage, ReachesARealCupsServer) {
    testing_support::PrivateCups cups;
    std::string why;
    ASSERT_TRUE(cups.Ready(why)) << why;
    unsetenv("QUILLBAY_PRINTER"); // the CUPS default, as a user's machine has it
    auto result = testing_support::Run({SCRIPT_HOST_PATH, SAMPLE_PAGE_PATH});
    ASSERT_EQ(result.exitCode, 0);
    std::string document = cups.WaitForDocument(30);
    ASSERT_FALSE(document.empty()) << "the printer received no document";
    std::string text = testing_support::PdfText(document);
    EXPECT_TRUE(text.find("发货单") != std::string::npos ||
                text.find("出库单") != std::string::npos)
        << text;
    // Nothing went to the PDF printer.
    EXPECT_EQ(testing_support::Run({"/bin/ls", "-A", m_dir}).output, "");
}

TEST_F(SamplePage, PrintsTheOrderListFromItsOwnSqliteDatabase) {
    PrintOrderList();
}

TEST_F(SamplePage, PrintsTheOrderListFromAPostgresConnectionRegisteredForIt) {
    testing_support::PrivatePostgres server;
    std::string why;
    ASSERT_TRUE(server.Ready(why)) << why;
    // As the README says: the connection string registered under ID 7.
    ASSERT_EQ(testing_support::Run({REGTOOL_PATH, "set", "HKCU\\Software\\ostrel\\tarnbox", "conn7",
                                    "REG_SZ", server.ConnectionString()})
                  .exitCode,
              0);
    PrintOrderList();
    EXPECT_TRUE(server.Superuser("select 1 / (count(*) - 3) from quill_orders",
                                 testing_support::PrivatePostgres::kDatabase))
        << "4 rows there";
    testing_support::Run({REGTOOL_PATH, "delete", "HKCU\\Software\\ostrel\\tarnbox", "conn7"});
}
