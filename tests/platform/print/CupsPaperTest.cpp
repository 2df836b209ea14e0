// Pages of every size at a private CUPS with two driverless printers: one
// with ippeveprinter's own sizes (Letter, Legal, A4, #10, DL), one that
// takes custom sizes. Each page arrives on the paper chosen for it, at
// 100 %, and each job's final state can be read back.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/print/JobLog.h"
#include "platform/print/Printers.h"
#include "platform/user/UiHost.h"
#include "platform/win32.h"
#include "testing/LabelPrinter.h"
#include "testing/PdfPage.h"
#include "testing/PrivateCups.h"
#include "testing/TestSupport.h"

using platform::print::JobLog;
using platform::print::JobRecord;

namespace {

struct Page {
    const char *name;
    int width, length; // tenths of a millimetre, as the page is made
    bool landscape;
};

// A4, DL, A5 landscape and a 100 x 150 mm label.
constexpr Page kPages[] = {{"A4", 2100, 2970, false},
                           {"DL", 1100, 2200, false},
                           {"A5 landscape", 1480, 2100, true},
                           {"label", 1000, 1500, false}};

// A driver's PPD with two sizes in whole points, as printer makers write
// them.
constexpr const char *kDriverPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "DRIVER.PPD"
*Manufacturer: "Test"
*Product: "(Driver)"
*ModelName: "Driver Printer"
*ShortNickName: "Driver Printer"
*NickName: "Driver Printer"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsFilter2: "application/pdf application/pdf 0 -"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageSize A5/A5: "<</PageSize[420 595]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageRegion A5/A5: "<</PageSize[420 595]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "12 12 583 830"
*ImageableArea A5/A5: "12 12 408 583"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*PaperDimension A5/A5: "420 595"
)PPD";

// What the job log says of the last job.
std::string LastWhere() {
    const std::string log =
        testing_support::ReadFile(std::string(getenv("QUILLBAY_HOME")) + "/print-jobs.log");
    const size_t start = log.rfind('\n', log.size() - 2) + 1;
    const std::string line = log.substr(start == std::string::npos ? 0 : start);
    const size_t b = line.find('\t', line.find('\t') + 1), c = line.find('\t', b + 1);
    return line.substr(b + 1, c - b - 1);
}

// Prints a page with a 50 mm line 4 dots thick at (10, 20) mm from the
// printable area's corner; the device context's offsets and the job log.
std::string PrintPage(const std::string &queue, const Page &page, int &offsetX) {
    DEVMODEA dm{};
    dm.dmPaperWidth = static_cast<SHORT>(page.width);
    dm.dmPaperLength = static_cast<SHORT>(page.length);
    dm.dmPrintQuality = 600;
    dm.dmOrientation = page.landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    HDC dc = CreateDCA("quillbay", queue.c_str(), "", &dm);
    if (!dc)
        return "(no context)";
    offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
    DOCINFOA info{sizeof(DOCINFOA), page.name, nullptr, nullptr, 0};
    StartDocA(dc, &info);
    StartPage(dc);
    HPEN pen = CreatePen(PS_SOLID, 4, 0);
    HGDIOBJ old = SelectObject(dc, pen);
    const int dots = static_cast<int>(10 * 600 / 25.4), end = static_cast<int>(60 * 600 / 25.4);
    MoveToEx(dc, dots, 2 * dots, nullptr);
    LineTo(dc, end, 2 * dots);
    SelectObject(dc, old);
    DeleteObject(pen);
    EndPage(dc);
    const int ended = EndDoc(dc);
    DeleteDC(dc);
    return ended ? LastWhere() : "(refused) " + LastWhere();
}

// The longest dark run of the page, across or down, in millimetres.
double LongestLine(const std::string &pdf) {
    const int dpi = 150;
    testing_support::PdfPage page(pdf, dpi);
    int longest = 0;
    for (int y = 0; y < page.Height(); ++y)
        for (int x = 0, run = 0; x < page.Width(); ++x)
            longest = std::max(longest, run = page.Dark(x, y) ? run + 1 : 0);
    for (int x = 0; x < page.Width(); ++x)
        for (int y = 0, run = 0; y < page.Height(); ++y)
            longest = std::max(longest, run = page.Dark(x, y) ? run + 1 : 0);
    return longest * 25.4 / dpi;
}

double Millimetres(double points) {
    return points / 72 * 25.4;
}

class CupsPaper : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_cups = new testing_support::PrivateCups;
        std::string why;
        if (s_cups->Ready(why))
            s_cups->AddPrinter("label", testing_support::kLabelPrinterAttributes);
    }
    static void TearDownTestSuite() {
        delete s_cups;
        s_cups = nullptr;
    }
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(s_cups->Ready(why)) << why;
    }

    // Prints every page on a queue and checks where each arrived: the
    // media named in the log (empty: the page's own), the paper the
    // printer received (portrait, millimetres) and the 50 mm line.
    void PrintsEveryPage(const std::string &queue, const std::vector<std::string> &notes,
                         const std::vector<std::pair<double, double>> &papers) {
        const size_t before = s_cups->Documents(queue).size();
        for (size_t i = 0; i < std::size(kPages); ++i) {
            int offset = -1;
            const std::string where = PrintPage(queue, kPages[i], offset);
            EXPECT_EQ(where.rfind("CUPS queue " + queue + ", job ", 0), 0u) << where;
            if (notes[i].empty())
                EXPECT_EQ(where.find(", on "), std::string::npos) << where;
            else
                EXPECT_NE(where.find(", on " + notes[i]), std::string::npos) << where;
        }
        const std::vector<std::string> documents =
            s_cups->WaitForDocuments(queue, before + std::size(kPages), 60);
        ASSERT_EQ(documents.size(), before + std::size(kPages));
        for (size_t i = 0; i < std::size(kPages); ++i) {
            const std::string &pdf = documents[before + i];
            double w = 0, h = 0;
            ASSERT_TRUE(testing_support::PdfPageSize(pdf, w, h)) << pdf;
            EXPECT_NEAR(std::min(Millimetres(w), Millimetres(h)), papers[i].first, 0.5)
                << kPages[i].name;
            EXPECT_NEAR(std::max(Millimetres(w), Millimetres(h)), papers[i].second, 0.5)
                << kPages[i].name;
            EXPECT_NEAR(LongestLine(pdf), 50, 0.5) << kPages[i].name; // at 100 %
        }
    }

    static inline testing_support::PrivateCups *s_cups = nullptr;
};

} // namespace

TEST_F(CupsPaper, APrinterWithItsOwnSizesTakesTheSmallestThatHoldsThePage) {
    // A4 and DL as they are; A5 on Letter, the smallest that holds it;
    // the label on DL.
    PrintsEveryPage(s_cups->QueueName(), {"", "", "na_letter_8.5x11in", "iso_dl_110x220mm"},
                    {{210, 297}, {110, 220}, {215.9, 279.4}, {110, 220}});
}

TEST_F(CupsPaper, APrinterWithCustomSizesTakesEachPageAsItIs) {
    PrintsEveryPage("label", {"", "", "", ""}, {{210, 297}, {110, 220}, {148, 210}, {100, 150}});
}

TEST_F(CupsPaper, MarginsComeFromTheMediaEntry) {
    int offset = -1;
    PrintPage(s_cups->QueueName(), kPages[0], offset); // A4: 3.4 mm at the sides
    EXPECT_EQ(offset, 80);
    PrintPage(s_cups->QueueName(), kPages[1], offset); // DL: a quarter inch
    EXPECT_EQ(offset, 150);
    PrintPage("label", kPages[3], offset); // borderless
    EXPECT_EQ(offset, 0);
}

TEST_F(CupsPaper, EveryJobsFinalStateIsReadBack) {
    // A job held in a stopped queue, then cancelled: the job log and
    // quillbay-jobs show it pending, then cancelled with the reason.
    const auto stopped = testing_support::Run({"/usr/sbin/cupsdisable", "label"});
    ASSERT_EQ(stopped.exitCode, 0) << stopped.output;
    int offset = 0;
    const std::string where = PrintPage("label", kPages[0], offset);
    const int job = atoi(where.c_str() + where.find(", job ") + 6);
    ASSERT_GT(job, 0) << where;
    std::string listing = testing_support::Run({JOBS_TOOL_PATH}).output;
    EXPECT_NE(listing.find("job " + std::to_string(job) + "\tpending"), std::string::npos)
        << listing;
    testing_support::Run({"/usr/bin/cancel", "label-" + std::to_string(job)});
    testing_support::Run({"/usr/sbin/cupsenable", "label"});
    listing = testing_support::Run({JOBS_TOOL_PATH, "1"}).output;
    EXPECT_NE(listing.find("job " + std::to_string(job) + "\tcanceled: "), std::string::npos)
        << listing;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1);
}

TEST_F(CupsPaper, ARefusedJobIsLoggedAndReported) {
    // The queue goes away while the page is being made: the end of the
    // document fails and the job log says why.
    ASSERT_TRUE(s_cups->AddPrinter("gone", ""));
    DEVMODEA dm{};
    dm.dmPaperWidth = 2100;
    dm.dmPaperLength = 2970;
    HDC dc = CreateDCA("quillbay", "gone", "", &dm);
    ASSERT_NE(dc, nullptr);
    DOCINFOA info{sizeof(DOCINFOA), "Refused", nullptr, nullptr, 0};
    StartDocA(dc, &info);
    StartPage(dc);
    testing_support::Run({"/usr/sbin/lpadmin", "-x", "gone"});
    EndPage(dc);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(EndDoc(dc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    DeleteDC(dc);
    EXPECT_EQ(LastWhere().rfind("not printed: the print server has no printer gone", 0), 0u)
        << LastWhere();
    const JobRecord job = JobLog::Read().back();
    EXPECT_NE(LastWhere().find("; the page is kept as " + job.kept), std::string::npos);
    double w = 0, h = 0;
    EXPECT_TRUE(testing_support::PdfPageSize(job.kept, w, h)) << job.kept;
}

TEST_F(CupsPaper, AJobOfAServerThatWentIsKeptAndPrintedAgainOnceItIsBack) {
    const std::string queue = s_cups->QueueName();
    DEVMODEA dm{};
    dm.dmPaperWidth = 2100;
    dm.dmPaperLength = 2970;
    dm.dmPrintQuality = 600;
    HDC dc = CreateDCA("quillbay", queue.c_str(), "", &dm);
    ASSERT_NE(dc, nullptr);
    DOCINFOA info{sizeof(DOCINFOA), "Kept", nullptr, nullptr, 0};
    ASSERT_GT(StartDocA(dc, &info), 0);
    StartPage(dc);
    HPEN pen = CreatePen(PS_SOLID, 24, 0);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, 600, 900, nullptr);
    LineTo(dc, 3000, 1500);
    SelectObject(dc, old);
    DeleteObject(pen);
    s_cups->Stop();
    EndPage(dc);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(EndDoc(dc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    DeleteDC(dc);

    // The page is kept whole in the print folder, marked as not printed,
    // the user is told how to print it, and quillbay-jobs lists it.
    const JobRecord job = JobLog::Read().back();
    ASSERT_TRUE(job.failed);
    EXPECT_EQ(job.kept.rfind(std::string(getenv("QUILLBAY_PRINT_DIR")) + "/Kept-", 0), 0u)
        << job.kept;
    EXPECT_EQ(job.kept.substr(job.kept.size() - 16), ".not-printed.pdf");
    const testing_support::PdfPage kept(job.kept, 100);
    ASSERT_TRUE(kept.Ok()) << job.kept;
    EXPECT_EQ(kept.Width(), 827); // A4
    const auto *ui = dynamic_cast<platform::ScriptedUiHost *>(&platform::UiHost::Current());
    ASSERT_NE(ui, nullptr);
    ASSERT_FALSE(ui->Notices().empty());
    EXPECT_NE(
        ui->Notices().back().text.find("quillbay-jobs --reprint " + std::to_string(job.number)),
        std::string::npos)
        << ui->Notices().back().text;
    const std::string number = std::to_string(job.number);
    std::string listing = testing_support::Run({JOBS_TOOL_PATH, "1"}).output;
    EXPECT_EQ(listing.rfind(number + "\t", 0), 0u) << listing;
    EXPECT_NE(listing.find("\tnot printed, kept: " + job.kept + "\n"), std::string::npos)
        << listing;

    // Once the server is back the kept page prints, once, as it was made.
    ASSERT_TRUE(s_cups->Start());
    const auto reprint = testing_support::Run({JOBS_TOOL_PATH, "--reprint", number});
    EXPECT_EQ(reprint.exitCode, 0) << reprint.output;
    // The printer names the documents it keeps after their job's title.
    std::vector<std::string> documents;
    for (int waited = 0; documents.empty() && waited < 600; ++waited) {
        for (const std::string &document : s_cups->Documents(queue)) {
            if (document.size() > 9 && document.substr(document.size() - 9) == "-kept.pdf")
                documents.push_back(document);
        }
        usleep(100000);
    }
    ASSERT_EQ(documents.size(), 1u);
    // The server's filters rewrite the file: the page is compared as printed.
    const testing_support::PdfPage printed(documents.back(), 100);
    ASSERT_EQ(printed.Width(), kept.Width());
    ASSERT_EQ(printed.Height(), kept.Height());
    int box[2][4];
    for (int i = 0; i < 2; ++i) {
        const testing_support::PdfPage &page = i ? printed : kept;
        ASSERT_TRUE(page.DarkBox(0, 0, page.Width() - 1, page.Height() - 1, box[i][0], box[i][1],
                                 box[i][2], box[i][3]));
    }
    for (int side = 0; side < 4; ++side)
        EXPECT_NEAR(box[1][side], box[0][side], 1) << side;
    EXPECT_NE(access(job.kept.c_str(), F_OK), 0);
    EXPECT_NE(testing_support::Run({JOBS_TOOL_PATH, "--reprint", number}).exitCode, 0);
    listing = testing_support::Run({JOBS_TOOL_PATH}).output;
    EXPECT_NE(("\n" + listing).find("\n" + number + "\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\tprinted again: job "), std::string::npos) << listing;
}

// A printer that has A4 with margins and borderless, as printers give its
// size in their own units (20990 x 29704): a page made for A4 is logged as
// on its paper, whichever of the two the printer gives it.
TEST_F(CupsPaper, AJobOnThePaperItWasMadeForNamesNoOtherPaper) {
    ASSERT_TRUE(
        s_cups->AddPrinter("photo", R"(ATTR mimeMediaType document-format-supported application/pdf
ATTR mimeMediaType document-format-default application/pdf
ATTR keyword media-supported iso_a4_210x297mm,iso_a5_148x210mm
ATTR keyword media-default iso_a4_210x297mm
ATTR collection media-col-database {
  MEMBER collection media-size { MEMBER integer x-dimension 20990 MEMBER integer y-dimension 29704 }
  MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0 MEMBER integer media-bottom-margin 0
},{
  MEMBER collection media-size { MEMBER integer x-dimension 20990 MEMBER integer y-dimension 29704 }
  MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300 MEMBER integer media-bottom-margin 300
},{
  MEMBER collection media-size { MEMBER integer x-dimension 14800 MEMBER integer y-dimension 21000 }
  MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300 MEMBER integer media-bottom-margin 300
}
)"));
    int offset = -1;
    for (const Page &page : {kPages[0], Page{"A4 landscape", 2100, 2970, true}}) {
        const std::string where = PrintPage("photo", page, offset);
        EXPECT_EQ(where.rfind("CUPS queue photo, job ", 0), 0u) << where;
        EXPECT_EQ(where.find(", on "), std::string::npos) << where;
    }
    // A5 landscape on A5: its own paper too; a label on A5, the smallest
    // that holds it, is named.
    EXPECT_EQ(PrintPage("photo", kPages[2], offset).find(", on "), std::string::npos);
    EXPECT_NE(PrintPage("photo", kPages[3], offset).find(", on iso_a5_148x210mm"),
              std::string::npos);

    // A driver's PPD gives its sizes in whole points: its A4 is 209.9 x
    // 297.04 mm, and still the A4 page's own paper.
    ASSERT_TRUE(s_cups->AddPrinter("driver", ""));
    ASSERT_TRUE(s_cups->UsePpd("driver", kDriverPpd));
    platform::print::PrinterInfo driver;
    ASSERT_TRUE(platform::print::FindPrinter("driver", driver));
    platform::print::CupsDetails(driver, 2100, 2970);
    EXPECT_EQ(driver.media, "iso_a4_210x297mm");
    EXPECT_NE(driver.mediaWidth, 21000); // as the PPD has it, not as A4 is
    for (const Page &page : {kPages[0], Page{"A4 landscape", 2100, 2970, true}}) {
        const std::string where = PrintPage("driver", page, offset);
        EXPECT_EQ(where.rfind("CUPS queue driver, job ", 0), 0u) << where;
        EXPECT_EQ(where.find(", on "), std::string::npos) << where;
    }
}

// The print-setup dialog opens on the thread's own printer and offers that
// printer's own papers; the one chosen comes back in DEVMODE by its size.
TEST_F(CupsPaper, TheSetupDialogOffersTheChosenPrintersOwnPapers) {
    auto *ui = dynamic_cast<platform::ScriptedUiHost *>(&platform::UiHost::Current());
    ASSERT_NE(ui, nullptr);
    ui->Forget();
    platform::print::UsePrinterOnThisThread("label");
    PRINTDLGA pd{};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_PRINTSETUP;
    const BOOL shown = PrintDlgA(&pd); // each choice answered with its preset
    platform::print::UsePrinterOnThisThread("");
    ASSERT_TRUE(shown);
    const std::vector<std::string> asked = ui->Asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[1].find("iso_a6_105x148mm_borderless, 105 x 148 mm"), std::string::npos)
        << asked[1];
    EXPECT_EQ(asked[1].find("B5"), std::string::npos) << asked[1]; // not the fixed four
    auto *names = static_cast<DEVNAMES *>(GlobalLock(pd.hDevNames));
    EXPECT_STREQ(reinterpret_cast<char *>(names) + names->wDeviceOffset, "label");
    GlobalUnlock(pd.hDevNames);
    auto *dm = static_cast<DEVMODEA *>(GlobalLock(pd.hDevMode));
    EXPECT_GT(dm->dmPaperWidth, 0);
    GlobalUnlock(pd.hDevMode);
    GlobalFree(pd.hDevMode);
    GlobalFree(pd.hDevNames);
}
