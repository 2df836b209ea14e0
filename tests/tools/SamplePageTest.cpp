// The sample pages printed through the script host: the label on the
// built-in PDF printer and on a real CUPS server with a driverless IPP
// printer; the order list from an embedded SQLite database and from a
// PostgreSQL server registered for it.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "testing/BarcodeScan.h"
#include "testing/PdfPage.h"
#include "testing/PrivateCups.h"
#include "testing/PrivateOdbc.h"
#include "testing/PrivatePostgres.h"
#include "testing/TestSupport.h"

namespace {

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
