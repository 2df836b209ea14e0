#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "platform/user/UiHost.h"
#include "platform/win32.h"
#include "testing/PdfPage.h"
#include "testing/TestSupport.h"

namespace {

class Print : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        auto host = std::make_unique<platform::ScriptedUiHost>();
        m_ui = host.get();
        platform::UiHost::Install(std::move(host));
        memset(&m_pd, 0, sizeof m_pd);
        m_pd.lStructSize = sizeof(PRINTDLGA);
    }
    void TearDown() override {
        GlobalFree(m_pd.hDevMode);
        GlobalFree(m_pd.hDevNames);
        if (m_pd.hDC)
            DeleteDC(m_pd.hDC);
    }

    std::string Device() {
        auto *names = static_cast<DEVNAMES *>(GlobalLock(m_pd.hDevNames));
        std::string device = reinterpret_cast<char *>(names) + names->wDeviceOffset;
        GlobalUnlock(m_pd.hDevNames);
        return device;
    }

    std::string LastJob() {
        std::string log =
            testing_support::ReadFile(std::string(getenv("QUILLBAY_HOME")) + "/print-jobs.log");
        size_t end = log.rfind('\n', log.size() - 2);
        std::string line = log.substr(end == std::string::npos ? 0 : end + 1);
        size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
        return line.substr(b + 1, c - b - 1);
    }

    PRINTDLGA m_pd;
    platform::ScriptedUiHost *m_ui = nullptr;
};

} // namespace

TEST_F(Print, DefaultQueryFillsMovableBlocksOnce) {
    m_pd.Flags = PD_RETURNDEFAULT;
    ASSERT_TRUE(PrintDlgA(&m_pd));
    ASSERT_NE(m_pd.hDevMode, nullptr);
    auto *dm = static_cast<DEVMODEA *>(GlobalLock(m_pd.hDevMode));
    ASSERT_NE(dm, nullptr);
    EXPECT_NE(static_cast<void *>(dm), m_pd.hDevMode);
    EXPECT_EQ(dm->dmPrintQuality, 600);
    EXPECT_EQ(dm->dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(dm->dmOrientation, DMORIENT_PORTRAIT);
    GlobalUnlock(m_pd.hDevMode);
    EXPECT_EQ(Device(), "Quillbay PDF");
    EXPECT_FALSE(PrintDlgA(&m_pd)); // only while both blocks are null
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));
    m_pd.lStructSize = 66;
    EXPECT_FALSE(PrintDlgA(&m_pd));
}

TEST_F(Print, SetupDialogChoosesPrinterAndPaperOrCancels) {
    m_pd.Flags = PD_PRINTSETUP;
    m_ui->Queue(-1);
    EXPECT_FALSE(PrintDlgA(&m_pd));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(m_pd.hDevMode, nullptr);
    m_ui->Queue(0); // the PDF printer
    m_ui->Queue(1); // A5
    m_pd.Flags = PD_PRINTSETUP | PD_RETURNDC;
    ASSERT_TRUE(PrintDlgA(&m_pd));
    auto *dm = static_cast<DEVMODEA *>(GlobalLock(m_pd.hDevMode));
    EXPECT_EQ(dm->dmPaperWidth, 1480);
    EXPECT_EQ(dm->dmPaperLength, 2100);
    GlobalUnlock(m_pd.hDevMode);
    ASSERT_NE(m_pd.hDC, nullptr);
    EXPECT_EQ(GetDeviceCaps(m_pd.hDC, PHYSICALWIDTH), 3496); // 148 mm at 600 dpi
}

TEST_F(Print, PrinterContextsMeasureTheirPaper) {
    DEVMODEA dm{};
    dm.dmPaperWidth = 2100;
    dm.dmPaperLength = 2970;
    dm.dmPrintQuality = 600;
    HDC dc = CreateDCA("quillbay", "Quillbay PDF", "", &dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 600);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALWIDTH), 4961);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALHEIGHT), 7016);
    // A virtual printer prints to the paper's edge.
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALOFFSETX), 0);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALOFFSETY), 0);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 4961);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 7016);
    DeleteDC(dc);
    dm.dmOrientation = DMORIENT_LANDSCAPE;
    dc = CreateDCA("quillbay", "Quillbay PDF", "", &dm);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALWIDTH), 7016);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALHEIGHT), 4961);
    DeleteDC(dc);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateDCA("quillbay", "No Such Printer", "", &dm), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(Print, AJobBecomesAPdfInThePrintDirectory) {
    DEVMODEA dm{};
    dm.dmPaperWidth = 1000;
    dm.dmPaperLength = 1500;
    dm.dmPrintQuality = 300;
    HDC dc = CreateDCA("quillbay", "Quillbay PDF", "", &dm);
    DOCINFOA info{sizeof(DOCINFOA), "Test document", nullptr, nullptr, 0};
    EXPECT_GT(StartDocA(dc, &info), 0);
    EXPECT_EQ(StartPage(dc), 1);
    HPEN pen = CreatePen(PS_SOLID, 6, 0);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, 100, 200, nullptr);
    LineTo(dc, 400, 200);
    SelectObject(dc, old);
    DeleteObject(pen);
    EXPECT_EQ(EndPage(dc), 1);
    EXPECT_EQ(EndDoc(dc), 1);
    DeleteDC(dc);

    std::string pdf = LastJob();
    ASSERT_NE(pdf.find(getenv("QUILLBAY_PRINT_DIR")), std::string::npos) << pdf;
    double width = 0, height = 0;
    ASSERT_TRUE(testing_support::PdfPageSize(pdf, width, height));
    EXPECT_NEAR(width, 100 / 25.4 * 72, 0.5);
    EXPECT_NEAR(height, 150 / 25.4 * 72, 0.5);
    testing_support::PdfPage page(pdf, 300);
    ASSERT_TRUE(page.Ok());
    int left, top, right, bottom;
    ASSERT_TRUE(page.DarkBox(0, 0, page.Width() - 1, page.Height() - 1, left, top, right, bottom));
    EXPECT_EQ(left, 100);
    EXPECT_EQ(right, 399);
    EXPECT_EQ(top, 197);
    EXPECT_EQ(bottom, 202);
}

TEST_F(Print, AContextDeletedMidJobLeavesNoDocument) {
    std::string dir = testing_support::MakeTempDir("prints-");
    setenv("QUILLBAY_PRINT_DIR", dir.c_str(), 1);
    HDC dc = CreateDCA("quillbay", "Quillbay PDF", "", nullptr);
    DOCINFOA info{sizeof(DOCINFOA), "Never printed", nullptr, nullptr, 0};
    StartDocA(dc, &info);
    StartPage(dc);
    DeleteDC(dc);
    std::string listing = testing_support::Run({"/bin/ls", "-A", dir}).output;
    EXPECT_EQ(listing, "");
    testing_support::RemoveTree(dir);
}
