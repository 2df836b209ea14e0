// Label printers as Linux users have them (LPrint's ZPL printers at 203 and
// 300 dpi behind driverless queues, CUPS' own ZPL driver, a raw queue), at
// a private CUPS, each printing to a listener that keeps what the printer
// received: the symbols of a page land on the printers' dots, raw commands
// arrive byte for byte, copies give that many labels, and a queue added a
// moment ago prints its first label.
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

#include "BridgeFixture.h"
#include "testing/BarcodeScan.h"
#include "testing/LabelPrinters.h"
#include "testing/ZplGraphic.h"

namespace bridge_test {
namespace {

using nlohmann::json;
using testing_support::LabelCount;
using testing_support::ZplGraphic;
using Clock = std::chrono::steady_clock;

constexpr const char *kEan = "6901234567892";
constexpr const char *kCode128 = "20260000421234";
constexpr const char *kPdf417 = "SO-000042|ZHANG SAN|BEIJING HAIDIAN";

// A symbol of the test page: where it is (millimetres from the paper's top),
// the width asked, its modules across, and for PDF417 its rows.
struct Symbol {
    int dimension;
    const char *text;
    int top, width, height;
    int modules;
};

// EAN-13 40 mm wide (2.6 dots a module at 203 dpi), Code 128 of 7 digit
// pairs 61 mm wide, PDF417 70 mm wide: fractional dots per module at each
// printer's resolution.
constexpr Symbol kSymbols[] = {
    {1, kEan, 5, 40, 15, 123}, {3, kCode128, 30, 61, 15, 112}, {2, kPdf417, 55, 70, 30, 0}};

class BridgeLabelPrinters : public BridgeFixture {
protected:
    static void SetUpTestSuite() {
        BridgeFixture::SetUpTestSuite();
        s_cups = new testing_support::PrivateCups;
        s_labels = new testing_support::LabelPrinters(*s_cups);
    }
    static void TearDownTestSuite() {
        delete s_labels;
        s_labels = nullptr;
        delete s_cups;
        s_cups = nullptr;
    }
    void SetUp() override {
        BridgeFixture::SetUp();
        std::string why;
        ASSERT_TRUE(s_labels->Ready(why)) << why;
        unsetenv("QUILLBAY_PRINTER");
        Start();
    }

    // A job's final state, as the events of the socket tell it.
    static std::function<bool(const json &)> Ended(const std::string &key, int job) {
        return [key, job](const json &e) {
            const std::string state = e.value("state", "");
            return e.value(key, 0) == job &&
                   (state == "completed" || state == "aborted" || state == "canceled");
        };
    }

    // Prints the test page (100 x 150 mm, its three symbols) on a queue.
    static json PrintSymbols(BridgeSocket &socket, const std::string &queue) {
        socket.Request({{"op", "set"}, {"printer", queue}});
        const int object =
            socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"];
        socket.Call(object, "SetPaperSize", {1000, 1500});
        EXPECT_EQ(socket.Call(object, "SetPrinter", {"1"}), 1);
        for (const Symbol &symbol : kSymbols)
            socket.Call(
                object, "PrintBarCode",
                {symbol.dimension, symbol.text, 5, symbol.top, 0, 0, symbol.width, symbol.height});
        EXPECT_EQ(socket.Call(object, "SetPrinter", {"0"}), 1);
        socket.Request({{"op", "release"}, {"object", object}});
        // The job's end as the page heard it; CUPS' states of the job may
        // already have come after it.
        const std::vector<json> events = socket.Events();
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            const std::string stage = it->value("stage", "");
            if (stage == "finished" || stage == "failed")
                return *it;
        }
        return json();
    }

    static inline testing_support::PrivateCups *s_cups = nullptr;
    static inline testing_support::LabelPrinters *s_labels = nullptr;
};

// The dots per module the page gets, as a label designer sizes a symbol:
// the whole number nearest to the width asked, one less when that is more
// than a tenth too wide.
int ExpectedDots(int dpi, int widthMm, int modules) {
    const double asked = std::floor(widthMm * dpi / 25.4);
    int dots = static_cast<int>(std::lround(asked / modules));
    return dots * modules > 1.1 * asked ? dots - 1 : dots;
}

// Every edge-to-similar-edge distance (a bar and the next space, a space
// and the next bar) as a multiple of the module's dots; "" when all are.
std::string CheckEdges(const std::vector<std::pair<int, int>> &bars, int module) {
    std::string wrong;
    for (size_t i = 1; i < bars.size(); ++i) {
        const int leading = bars[i].first - bars[i - 1].first,
                  trailing = bars[i].second - bars[i - 1].second;
        if (leading % module || trailing % module)
            wrong += " " + std::to_string(leading) + "/" + std::to_string(trailing);
    }
    return wrong;
}

// A region of the graphic scanned with zbarimg, each dot 4 x 4 pixels (a
// scanner sees a label's dots larger than one pixel each).
std::string Scan(const ZplGraphic &label, int top, int bottom, const std::string &dir) {
    constexpr int kScale = 4, kMargin = 20;
    const std::string path = dir + "/symbol.pgm";
    const int width = label.Width() + 2 * kMargin, height = bottom - top + 2 * kMargin;
    std::string pgm =
        "P5\n" + std::to_string(width * kScale) + " " + std::to_string(height * kScale) + "\n255\n";
    for (int y = 0; y < height * kScale; ++y)
        for (int x = 0; x < width * kScale; ++x)
            pgm += static_cast<char>(
                label.Dot(x / kScale - kMargin, y / kScale - kMargin + top) ? 0 : 255);
    testing_support::WriteFile(path, pgm);
    std::string text = testing_support::Run({"/usr/bin/zbarimg", "-q", "--raw", path}).output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string ScanPdf417(const ZplGraphic &label, int top, int bottom) {
    std::vector<unsigned char> grey;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < label.Width(); ++x)
            grey.push_back(label.Dot(x, y) ? 0 : 255);
    return testing_support::ScanGrey(grey, label.Width(), bottom - top, 1, 1);
}

// The rows of a band grouped as the printer prints them: the heights of
// the runs of identical dot rows that hold black.
std::vector<int> RowHeights(const ZplGraphic &label, int top, int bottom) {
    std::vector<int> heights;
    std::vector<std::pair<int, int>> previous;
    for (int y = top; y < bottom; ++y) {
        auto runs = label.Runs(y);
        if (runs.empty()) {
            previous.clear();
            continue;
        }
        if (runs == previous)
            ++heights.back();
        else
            heights.push_back(1);
        previous = runs;
    }
    return heights;
}

} // namespace

TEST_F(BridgeLabelPrinters, SymbolsLandOnThePrintersWholeDots) {
    BridgeSocket socket(Port(), Local());
    for (const auto &[queue, dpi] :
         {std::pair<std::string, int>{"zpl203", 203}, {"zpl300", 300}, {"zpldriver", 203}}) {
        SCOPED_TRACE(queue);
        testing_support::LabelListener &listener = s_labels->Listener(queue);
        const int before = LabelCount(listener.Received());
        PrintSymbols(socket, queue);
        const std::string zpl = listener.WaitForLabels(before + 1, 60);
        const std::vector<ZplGraphic> graphics = ZplGraphic::Decode(zpl);
        ASSERT_FALSE(graphics.empty())
            << zpl.substr(0, 400) << json(socket.Events())
            << testing_support::Run({"/usr/bin/lpstat", "-W", "all", "-l", "-o"}).output;
        const ZplGraphic &label = graphics.back();
        // The label at its size: 100 x 150 mm in the printer's dots.
        EXPECT_NEAR(label.Height(), 150 * dpi / 25.4, 2);
        for (const Symbol &symbol : kSymbols) {
            SCOPED_TRACE(symbol.text);
            const int top = static_cast<int>(symbol.top * dpi / 25.4) - 2,
                      // PDF417's rows of whole dots may make it a little taller.
                bottom = static_cast<int>((symbol.top + 1.15 * symbol.height) * dpi / 25.4);
            // A row through the bars, above a linear symbol's caption.
            const auto bars =
                label.Runs(static_cast<int>((symbol.top + 0.3 * symbol.height) * dpi / 25.4));
            ASSERT_GT(bars.size(), 10u);
            const int modules =
                symbol.modules ? symbol.modules : bars.back().second - bars.front().first;
            // PDF417's modules across: the dark extent is the whole symbol.
            const int module = symbol.modules
                                   ? ExpectedDots(dpi, symbol.width, modules)
                                   : (bars.front().second - bars.front().first) / 8; // start bar
            EXPECT_EQ(CheckEdges(bars, module), "") << module << " dots a module";
            if (symbol.dimension == 2) {
                const int columns = (bars.back().second - bars.front().first) / module;
                EXPECT_EQ(module, ExpectedDots(dpi, symbol.width, columns)) << columns;
                const std::vector<int> rows = RowHeights(label, top, bottom);
                for (int height : rows)
                    EXPECT_EQ(height, rows.front()) << testing::PrintToString(rows);
                EXPECT_EQ(ScanPdf417(label, top, bottom), kPdf417);
                EXPECT_EQ(ScanPdf417(label.Widened(), top, bottom), kPdf417) << "dot gain";
            } else {
                EXPECT_EQ(Scan(label, top, bottom, m_dir), symbol.text);
                EXPECT_EQ(Scan(label.Widened(), top, bottom, m_dir), symbol.text) << "dot gain";
            }
        }
    }
}

TEST_F(BridgeLabelPrinters, RawCommandsReachThePrinterByteForByte) {
    BridgeSocket socket(Port(), Local());
    // UTF-8 text with Chinese in a field, and a receipt printer's binary
    // ESC/POS (initialise, GBK text, feed and cut) sent as base64.
    const std::string zpl =
        "^XA^CI28^FO40,40^A@N,40,40,E:SIMSUN.TTF^FD发货单 张三 SO-000042^FS^XZ\n";
    const std::string escpos(
        "\x1b\x40\x1b\x74\x00\xb7\xa2\xbb\xf5\xb5\xa5\x0a\x00\xff\x1d\x56\x41\x10", 18);
    const std::string escposBase64 = "G0AbdAC3orv1taUKAP8dVkEQ";
    struct Case {
        std::string queue;
        json request;
        std::string bytes, format;
    };
    const Case cases[] = {
        {"rawlabel", {{"data", zpl}}, zpl, "application/vnd.cups-raw"},
        {"rawlabel", {{"base64", escposBase64}}, escpos, "application/vnd.cups-raw"},
        {"zpldriver", {{"data", zpl}}, zpl, "application/vnd.cups-raw"},
        {"zpl203", {{"data", zpl}}, zpl, "application/vnd.zebra-zpl"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.queue + " " + c.format);
        testing_support::LabelListener &listener = s_labels->Listener(c.queue);
        const size_t before = listener.Connections().size();
        const size_t mark = socket.Events().size();
        json request = c.request;
        request.update({{"op", "raw"}, {"printer", c.queue}, {"title", "label 42"}});
        const json reply = socket.Request(request);
        ASSERT_TRUE(reply.contains("value")) << reply;
        EXPECT_EQ(reply["value"]["format"], c.format);
        const bool atPrinter = reply["value"].contains("printerJob");
        const std::string key = atPrinter ? "printerJob" : "cupsJob";
        ASSERT_GT(reply["value"].value(key, 0), 0) << reply;
        // Its events are a print job's: started, finished, then its states
        // until it completed.
        EXPECT_GE(WaitForEvent(socket, mark, Ended(key, reply["value"][key])), 0)
            << json(socket.Events());
        EXPECT_EQ(socket.Events()[mark]["stage"], "started");
        EXPECT_EQ(socket.Events()[mark]["title"], "label 42");
        bool arrived = false;
        for (int i = 0; i < 500 && !arrived; ++i) {
            const auto connections = listener.Connections();
            for (size_t n = before; n < connections.size(); ++n)
                arrived = arrived || connections[n] == c.bytes;
            if (!arrived)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(arrived) << testing::PrintToString(listener.Connections());
    }
    // The job log has each, and quillbay-jobs the state its printer gave.
    const std::string listing = testing_support::Run({JOBS_TOOL_PATH, "4"}).output;
    EXPECT_NE(listing.find("raw"), std::string::npos) << listing;
    EXPECT_NE(listing.find("application/vnd.zebra-zpl\tcompleted"), std::string::npos) << listing;

    // Refusals, each with its code and nothing sent anywhere.
    const std::string before = s_labels->Listener("rawlabel").Received();
    const size_t documents = s_cups->Documents("testq").size();
    auto refusal = [&](json request) {
        request["op"] = "raw";
        return socket.Request(request)["error"].value("code", "(none)");
    };
    EXPECT_EQ(refusal({{"printer", "no such printer"}, {"data", zpl}}), "no-printer");
    EXPECT_EQ(refusal({{"printer", "rawlabel"}}), "bad-request");
    EXPECT_EQ(refusal({{"printer", "rawlabel"}, {"data", ""}}), "bad-request");
    EXPECT_EQ(refusal({{"printer", "rawlabel"}, {"data", 42}}), "bad-request");
    EXPECT_EQ(refusal({{"printer", "rawlabel"}, {"base64", "not base64!"}}), "bad-request");
    EXPECT_EQ(refusal({{"printer", "testq"}, {"data", zpl}}), "document-printer");
    EXPECT_EQ(refusal({{"printer", "Quillbay PDF"}, {"data", zpl}}), "document-printer");
    socket.Request({{"op", "set"}, {"preview", true}});
    EXPECT_EQ(refusal({{"printer", "rawlabel"}, {"data", zpl}}), "previewing");
    socket.Request({{"op", "set"}, {"preview", false}});
    const HttpReply large = PostJson(
        Port(), "/call",
        {{"op", "raw"}, {"printer", "rawlabel"}, {"data", std::string(1100000, 'A')}}, Token());
    EXPECT_EQ(large.ErrorCode(), "too-large") << large.status;
    EXPECT_EQ(s_labels->Listener("rawlabel").Received(), before);
    EXPECT_EQ(s_cups->Documents("testq").size(), documents);
}

TEST_F(BridgeLabelPrinters, CopiesGiveExactlyThatManyLabels) {
    BridgeSocket socket(Port(), Local());
    for (const json &wrong : {json(0), json(1000), json("3"), json(2.5), json(nullptr)})
        EXPECT_EQ(socket.Request({{"op", "set"}, {"copies", wrong}})["error"]["code"],
                  "bad-request")
            << wrong;
    const json settings = socket.Request({{"op", "set"}, {"copies", 3}});
    EXPECT_EQ(settings["value"]["copies"], 3) << settings;

    // A page on LPrint's printer and on CUPS' driver, and raw commands on
    // the raw queue and on LPrint's: three labels at the printer each
    // time, once the job ended.
    const std::string zpl = "^XA^FO40,40^A0N,40,40^FDSO-000042^FS^XZ\n";
    for (const std::string queue : {"zpl203", "zpldriver", "rawlabel", "zpl203 raw"}) {
        SCOPED_TRACE(queue);
        const bool raw = queue == "rawlabel" || queue == "zpl203 raw";
        const std::string name = queue.substr(0, queue.find(' '));
        testing_support::LabelListener &listener = s_labels->Listener(name);
        const int before = LabelCount(listener.Received());
        const size_t mark = socket.Events().size();
        std::string key = "cupsJob";
        int job = 0;
        if (raw) {
            const json reply =
                socket.Request({{"op", "raw"}, {"printer", name}, {"data", zpl}})["value"];
            key = reply.contains("printerJob") ? "printerJob" : "cupsJob";
            job = reply.value(key, 0);
        } else {
            const json finished = PrintSymbols(socket, name);
            job = finished.value("cupsJob", 0);
        }
        ASSERT_GT(job, 0) << json(socket.Events());
        EXPECT_GE(WaitForEvent(socket, mark, Ended(key, job), 60), 0) << json(socket.Events());
        const std::string bytes = listener.WaitForLabels(before + 3, 30);
        EXPECT_EQ(LabelCount(bytes) - before, 3)
            << bytes.substr(bytes.size() > 600 ? bytes.size() - 600 : 0);
    }
    socket.Request({{"op", "set"}, {"copies", 1}});

    // What printers says of them: the copies each takes, and LPrint's
    // roll as the custom sizes its queue takes.
    const json printers = socket.Request({{"op", "printers"}})["value"];
    for (const json &printer : printers) {
        EXPECT_GE(printer["copies"]["max"].get<int>(), printer["copies"]["min"].get<int>());
        if (printer["name"] != "zpl203")
            continue;
        EXPECT_EQ(printer["copies"]["min"], 1);
        EXPECT_GE(printer["copies"]["max"], 999);
        ASSERT_TRUE(printer.contains("custom")) << printer;
        EXPECT_NEAR(printer["custom"]["max"]["width"].get<double>(), 101.6, 0.5) << printer;
        EXPECT_LT(printer["custom"]["min"]["height"].get<double>(), 10) << printer;
    }
}

TEST_F(BridgeLabelPrinters, AQueueJustAddedPrintsItsFirstLabel) {
    BridgeSocket socket(Port(), Local());
    testing_support::LabelListener &listener = s_labels->Listener("zpl203");
    const int before = LabelCount(listener.Received());
    // The printer application answers nothing for a while, as a printer
    // busy or waking up does: CUPS makes the new queue's driver only then,
    // and the page's job comes before.
    s_labels->Lprint().Pause(true);
    std::thread resume([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        s_labels->Lprint().Pause(false);
    });
    const bool added = s_labels->AddFreshQueue("justadded");
    const size_t mark = socket.Events().size();
    const json finished = added ? PrintSymbols(socket, "justadded") : json();
    resume.join();
    ASSERT_TRUE(added);
    ASSERT_EQ(finished.value("stage", ""), "finished") << json(socket.Events());
    const int job = finished.value("cupsJob", 0);
    const int ended = WaitForEvent(socket, mark, Ended("cupsJob", job), 60);
    ASSERT_GE(ended, 0) << json(socket.Events());
    EXPECT_EQ(socket.Events()[ended]["state"], "completed") << socket.Events()[ended];
    EXPECT_EQ(LabelCount(listener.WaitForLabels(before + 1, 30)), before + 1);
}

} // namespace bridge_test

namespace bridge_test {
namespace {

// EAN-13's digit patterns (ISO/IEC 15420, tables 1 and 2): L, the G set
// being R reversed and R being L inverted, and the first digit's parities.
constexpr const char *kEanL[] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                 "0110001", "0101111", "0111011", "0110111", "0001011"};
constexpr const char *kEanParity[] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                      "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};

// The 95 modules of an EAN-13 symbol, '1' for a bar.
std::string EanModules(const std::string &digits) {
    auto r = [](int d) {
        std::string code = kEanL[d];
        for (char &c : code)
            c = c == '0' ? '1' : '0';
        return code;
    };
    std::string modules = "101";
    for (int i = 1; i <= 6; ++i) {
        const int d = digits[i] - '0';
        const std::string right = r(d), g(right.rbegin(), right.rend());
        modules += kEanParity[digits[0] - '0'][i - 1] == 'L' ? kEanL[d] : g;
    }
    modules += "01010";
    for (int i = 7; i <= 12; ++i)
        modules += r(digits[i] - '0');
    return modules + "101";
}

// Where a test label's symbol is, in 203-dpi dots: 3 dots a module.
constexpr int kBarsLeft = 100, kBarsTop = 200, kBarsHeight = 300, kModuleDots = 3;

// A carrier's 4 x 6 in label as a vector PDF (Ghostscript from PostScript):
// its text, and an EAN-13 whose bars are whole 203-dpi dots.
std::string MakeLabelPdf(const std::string &dir) {
    const std::string modules = EanModules(kEan);
    std::string ps = "%!PS\n<< /PageSize [288 432] >> setpagedevice\n/d 72 203 div def\n"
                     "/Helvetica findfont 18 scalefont setfont 20 400 moveto (SO-000042) show\n";
    for (size_t i = 0; i < modules.size(); ++i) {
        if (modules[i] == '1')
            ps += std::to_string(kBarsLeft + i * kModuleDots) + " d mul 432 " +
                  std::to_string(kBarsTop + kBarsHeight) + " d mul sub " +
                  std::to_string(kModuleDots) + " d mul " + std::to_string(kBarsHeight) +
                  " d mul rectfill\n";
    }
    ps += "showpage\n";
    testing_support::WriteFile(dir + "/label.ps", ps);
    testing_support::Run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                          "-sDEVICE=pdfwrite", "-o", dir + "/label.pdf", dir + "/label.ps"});
    return testing_support::ReadFile(dir + "/label.pdf");
}

// A PDF of pages of the sizes given (points), each with its number.
std::string MakePagesPdf(const std::string &dir, const std::vector<std::pair<int, int>> &sizes) {
    std::string ps = "%!PS\n/Helvetica findfont 48 scalefont setfont\n";
    for (size_t i = 0; i < sizes.size(); ++i)
        ps += "<< /PageSize [" + std::to_string(sizes[i].first) + " " +
              std::to_string(sizes[i].second) + "] >> setpagedevice 72 72 moveto (Page " +
              std::to_string(i + 1) + ") show showpage\n";
    testing_support::WriteFile(dir + "/pages.ps", ps);
    testing_support::Run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                          "-sDEVICE=pdfwrite", "-o", dir + "/pages.pdf", dir + "/pages.ps"});
    return testing_support::ReadFile(dir + "/pages.pdf");
}

// A 4 x 6 in label image at a printer's resolution: the EAN-13's bars (at
// 203 dpi's module, scaled), and a field of one-dot checks that any
// resampling would blur. Its dots, and the 1-bit PNG that says its dpi.
struct LabelImage {
    int width, height;
    std::vector<bool> black;
    std::string png;
    bool Dot(int x, int y) const { return black[static_cast<size_t>(y) * width + x]; }
};

LabelImage MakeLabelImage(const std::string &dir, int dpi) {
    LabelImage image{4 * dpi, 6 * dpi, {}, {}};
    image.black.assign(static_cast<size_t>(image.width) * image.height, false);
    const std::string modules = EanModules(kEan);
    for (int y = kBarsTop; y < kBarsTop + kBarsHeight; ++y)
        for (size_t i = 0; i < modules.size(); ++i)
            for (int x = 0; x < kModuleDots && modules[i] == '1'; ++x)
                image.black[y * image.width + kBarsLeft + i * kModuleDots + x] = true;
    for (int y = 600; y < 700; ++y)
        for (int x = 400; x < 500; ++x)
            image.black[y * image.width + x] = (x + y) % 2 == 0;
    std::string pgm =
        "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    for (bool dot : image.black)
        pgm += static_cast<char>(dot ? 0 : 255);
    const std::string path = dir + "/label-" + std::to_string(dpi);
    testing_support::WriteFile(path + ".pgm", pgm);
    testing_support::Run({"/usr/bin/convert", path + ".pgm", "-units", "PixelsPerInch",
                          "-density", std::to_string(dpi), "-type", "bilevel", path + ".png"});
    image.png = testing_support::ReadFile(path + ".png");
    return image;
}

// The dots of the last label a listener received after `before` labels.
ZplGraphic LastLabel(testing_support::LabelListener &listener, int before) {
    const std::vector<ZplGraphic> graphics =
        ZplGraphic::Decode(listener.WaitForLabels(before + 1, 60));
    return graphics.empty() ? ZplGraphic() : graphics.back();
}

// The pages of a PDF the office printer received, their sizes in whole
// points as pdfinfo gives them ("595 x 842").
std::vector<std::string> PageSizes(const std::string &pdf) {
    std::istringstream info(
        testing_support::Run({"/usr/bin/pdfinfo", "-f", "1", "-l", "99", pdf}).output);
    std::vector<std::string> sizes;
    for (std::string line; std::getline(info, line);) {
        double width = 0, length = 0;
        const size_t at = line.find(" size:");
        if (line.rfind("Page", 0) == 0 && at != std::string::npos &&
            sscanf(line.c_str() + at + 6, "%lf x %lf", &width, &length) == 2)
            sizes.push_back(std::to_string(std::lround(width)) + " x " +
                            std::to_string(std::lround(length)));
    }
    return sizes;
}

} // namespace

TEST_F(BridgeLabelPrinters, CarrierLabelsPrintAsTheyAre) {
    BridgeSocket socket(Port(), Local());
    // A PDF label on the label printers comes out as lp of the same file on
    // the printer's 4 x 6 in paper at 100 % gives it, and scans.
    const std::string pdf = MakeLabelPdf(m_dir);
    ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u);
    const json printers = socket.Request({{"op", "printers"}})["value"];
    for (const auto &[queue, dpi] :
         {std::pair<std::string, int>{"zpl203", 203}, {"zpl300", 300}, {"zpldriver", 203}}) {
        SCOPED_TRACE(queue);
        std::string paper;
        for (const json &printer : printers)
            for (const json &p : printer["name"] == queue ? printer["papers"] : json::array())
                if (std::fabs(p["width"].get<double>() - 101.6) < 0.5 &&
                    std::fabs(p["height"].get<double>() - 152.4) < 0.5)
                    paper = p["name"];
        ASSERT_FALSE(paper.empty()) << printers;
        testing_support::LabelListener &listener = s_labels->Listener(queue);
        int before = LabelCount(listener.Received());
        const json reply = socket.Request({{"op", "document"},
                                           {"printer", queue},
                                           {"base64", Base64Text(pdf)},
                                           {"title", "1Z42"}});
        ASSERT_TRUE(reply.contains("value")) << reply;
        EXPECT_EQ(reply["value"]["format"], "pdf");
        EXPECT_EQ(reply["value"]["pages"], 1);
        const ZplGraphic ours = LastLabel(listener, before);
        before = LabelCount(listener.Received());
        testing_support::Run({"/usr/bin/lp", "-d", queue, "-o", "print-scaling=none", "-o",
                              "media=" + paper, m_dir + "/label.pdf"});
        const ZplGraphic theirs = LastLabel(listener, before);
        ASSERT_GT(ours.Height(), 0);
        EXPECT_NEAR(ours.Height(), 6 * dpi, 2);
        EXPECT_EQ(ours.Width(), theirs.Width());
        EXPECT_EQ(ours.Height(), theirs.Height());
        EXPECT_TRUE(ours.Grey() == theirs.Grey()) << "not the dots lp gives";
        const int top = kBarsTop * dpi / 203, bottom = (kBarsTop + kBarsHeight) * dpi / 203;
        EXPECT_EQ(Scan(ours, top, bottom, m_dir), kEan);
    }

    // A PNG at the printer's resolution lands pixel for pixel, at its own
    // place: 1-dot checks and all.
    for (const auto &[queue, dpi] : {std::pair<std::string, int>{"zpl203", 203}, {"zpl300", 300}}) {
        SCOPED_TRACE(queue + " png");
        const LabelImage image = MakeLabelImage(m_dir, dpi);
        ASSERT_FALSE(image.png.empty());
        testing_support::LabelListener &listener = s_labels->Listener(queue);
        const int before = LabelCount(listener.Received());
        const json reply = socket.Request(
            {{"op", "document"}, {"printer", queue}, {"base64", Base64Text(image.png)}});
        ASSERT_TRUE(reply.contains("value")) << reply;
        EXPECT_EQ(reply["value"]["format"], "png");
        const ZplGraphic label = LastLabel(listener, before);
        ASSERT_GE(label.Width(), image.width - 2);
        ASSERT_GE(label.Height(), image.height - 2);
        int differ = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                differ += image.Dot(x, y) != label.Dot(x, y);
        EXPECT_LE(differ, 8) << "dots changed";
        EXPECT_EQ(Scan(label, kBarsTop, kBarsTop + kBarsHeight, m_dir), kEan);
    }
}

TEST_F(BridgeLabelPrinters, DocumentsKeepTheirPagesOrAreRefusedWithNothingSent) {
    BridgeSocket socket(Port(), Local());
    const std::string office = s_cups->QueueName();
    auto print = [&](const std::string &bytes, const std::string &printer) {
        return socket.Request(
            {{"op", "document"}, {"printer", printer}, {"base64", Base64Text(bytes)}});
    };
    // Three A4 pages, then A4 and Letter pages: each on its own paper.
    const std::string a4 = MakePagesPdf(m_dir, {{595, 842}, {595, 842}, {595, 842}});
    size_t received = s_cups->Documents(office).size();
    json reply = print(a4, office);
    ASSERT_TRUE(reply.contains("value")) << reply;
    EXPECT_EQ(reply["value"]["pages"], 3);
    auto documents = s_cups->WaitForDocuments(office, received + 1, 60);
    ASSERT_GT(documents.size(), received);
    EXPECT_EQ(PageSizes(documents.back()),
              (std::vector<std::string>{"595 x 842", "595 x 842", "595 x 842"}));
    const std::string mixed = MakePagesPdf(m_dir, {{595, 842}, {612, 792}, {595, 842}});
    received = documents.size();
    reply = print(mixed, office);
    ASSERT_TRUE(reply.contains("value")) << reply;
    documents = s_cups->WaitForDocuments(office, received + 1, 60);
    ASSERT_GT(documents.size(), received);
    EXPECT_EQ(PageSizes(documents.back()),
              (std::vector<std::string>{"595 x 842", "612 x 792", "595 x 842"}));

    // The PDF printer keeps the page's bytes as they are.
    reply = print(mixed, "Quillbay PDF");
    ASSERT_TRUE(reply.contains("value")) << reply;
    EXPECT_TRUE(testing_support::ReadFile(reply["value"]["where"]) == mixed)
        << reply["value"]["where"];

    // Images become a page of their size: a PNG and a JPEG at 203 dpi are
    // 4 x 6 in.
    const LabelImage image = MakeLabelImage(m_dir, 203);
    testing_support::Run({"/usr/bin/convert", m_dir + "/label-203.pgm", "-units",
                          "PixelsPerInch", "-density", "203", m_dir + "/label-203.jpg"});
    for (const std::string &picture :
         {image.png, testing_support::ReadFile(m_dir + "/label-203.jpg")}) {
        reply = print(picture, "Quillbay PDF");
        ASSERT_TRUE(reply.contains("value")) << reply;
        EXPECT_EQ(PageSizes(reply["value"]["where"]), std::vector<std::string>{"288 x 432"});
    }

    // Previewed: its first page as the preview, nothing printed.
    socket.Request({{"op", "set"}, {"preview", true}});
    size_t mark = socket.Events().size();
    reply = print(a4, office);
    ASSERT_TRUE(reply.contains("value")) << reply;
    const int previewed = WaitForEvent(socket, mark, [](const json &e) {
        return e.value("stage", "") == "finished" && e.contains("preview");
    });
    ASSERT_GE(previewed, 0) << json(socket.Events());
    EXPECT_TRUE(socket.Events()[previewed]["preview"].contains("png"));
    socket.Request({{"op", "set"}, {"preview", false}});

    // Refusals: the code, nothing sent, a refused line in the job log.
    const std::string label = MakeLabelPdf(m_dir);
    const std::string before = s_labels->Listener("rawlabel").Received();
    received = s_cups->Documents(office).size();
    auto refusal = [&](json request) {
        request["op"] = "document";
        return socket.Request(request)["error"].value("code", "(none)");
    };
    EXPECT_EQ(refusal({{"printer", "no such printer"}, {"base64", Base64Text(label)}}),
              "no-printer");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", "not base64!"}}), "bad-document");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", ""}}), "bad-document");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", Base64Text("^XA^XZ")}}), "bad-document");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", Base64Text(label)}, {"format", "png"}}),
              "bad-document");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", Base64Text("%PDF-1.4\n%%EOF garbage")}}),
              "bad-document");
    EXPECT_EQ(refusal({{"printer", "rawlabel"}, {"base64", Base64Text(label)}}), "raw-printer");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", 42}}), "bad-request");
    EXPECT_EQ(refusal({{"printer", office}, {"base64", Base64Text(label)}, {"fit", "stretch"}}),
              "bad-request");
    const std::string listing = testing_support::Run({JOBS_TOOL_PATH, "7"}).output;
    size_t refused = 0;
    for (size_t at = listing.find("refused: "); at != std::string::npos;
         at = listing.find("refused: ", at + 1))
        ++refused;
    EXPECT_EQ(refused, 7u) << listing;
    // Only a document's message may be larger than a request.
    const json large = socket.Request({{"op", "echo"}, {"value", std::string(2 << 20, 'A')}});
    EXPECT_EQ(large["error"].value("code", ""), "too-large") << large.dump().substr(0, 300);
    EXPECT_EQ(s_labels->Listener("rawlabel").Received(), before);
    EXPECT_EQ(s_cups->Documents(office).size(), received);
}

} // namespace bridge_test
