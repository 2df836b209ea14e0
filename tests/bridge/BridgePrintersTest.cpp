// A page's printers, at a private CUPS with driverless printers: the
// default, a label printer, and a queue whose device fails every job
// (stopped for a while with cupsdisable). The list and details are
// those CUPS gives lpstat and ipptool; a session prints to the printer it
// chose without a dialog; its jobs' and its watched printers' states reach
// it as CUPS knows them; its previews are what printing would send.
#include <chrono>
#include <map>
#include <thread>

#include "BridgeFixture.h"
#include "LabelChecks.h"
#include "testing/LabelPrinter.h"
#include "testing/PdfPage.h"
#include "testing/PrivateCups.h"

namespace bridge_test {
namespace {

using boost::beast::http::verb;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

class BridgePrinters : public BridgeFixture {
protected:
    static void SetUpTestSuite() {
        BridgeFixture::SetUpTestSuite();
        // A print server first, then the user's own CUPS (the one the
        // bridge asks), which has a queue for the server's printer.
        s_server = new testing_support::PrivateCups;
        s_cups = new testing_support::PrivateCups;
        std::string why;
        if (!s_cups->Ready(why) || !s_server->Ready(why))
            return;
        s_cups->AddServerQueue("shared", *s_server, "testq");
        s_cups->AddPrinter("label", testing_support::kLabelPrinterAttributes);
        s_cups->AddFailingQueue("failing", "the print head is jammed");
    }
    static void TearDownTestSuite() {
        delete s_cups;
        s_cups = nullptr;
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        BridgeFixture::SetUp();
        std::string why;
        ASSERT_TRUE(s_cups->Ready(why)) << why;
        ASSERT_TRUE(s_server->Ready(why)) << "the print server: " << why;
        unsetenv("QUILLBAY_PRINTER"); // CUPS' default, testq, is the default
    }

    // Prints one page of a label on the session's printer: the object is
    // made, its paper set (A6), its page printed and its job ended.
    static void PrintLabel(BridgeSocket &socket, const std::string &text) {
        const int object =
            socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"];
        socket.Call(object, "SetPaperSize", {1050, 1480});
        EXPECT_EQ(socket.Call(object, "SetPrinter", {"1"}), 1);
        socket.Call(object, "PrintText", {5, 5, text, 0, 0, 12});
        EXPECT_EQ(socket.Call(object, "SetPrinter", {"0"}), 1);
        socket.Request({{"op", "release"}, {"object", object}});
    }

    static int CupsJobOf(const BridgeSocket &socket) {
        for (const json &event : socket.Events()) {
            if (event.value("stage", "") == "finished")
                return event.value("cupsJob", 0);
        }
        return 0;
    }

    static std::function<bool(const json &)> JobIn(const std::string &state, int cupsJob) {
        return [state, cupsJob](const json &e) {
            return e.value("stage", "") == "state" && e.value("cupsJob", 0) == cupsJob &&
                   e.value("state", "") == state;
        };
    }

    static inline testing_support::PrivateCups *s_cups = nullptr;
    static inline testing_support::PrivateCups *s_server = nullptr;
};

json FindPrinter(const json &printers, const std::string &name) {
    for (const json &printer : printers) {
        if (printer["name"] == name)
            return printer;
    }
    return nullptr;
}

// What ipptool says of a queue: "attribute = value" lines.
std::string IppAttributes(const std::string &queue, int port) {
    const std::string test = testing_support::MakeTempDir("ipptool-") + "/get.test";
    testing_support::WriteFile(test, "{ OPERATION Get-Printer-Attributes\n"
                                     "GROUP operation-attributes-tag\n"
                                     "ATTR charset attributes-charset utf-8\n"
                                     "ATTR naturalLanguage attributes-natural-language en\n"
                                     "ATTR uri printer-uri $uri\n"
                                     "ATTR keyword requested-attributes all\n"
                                     "DISPLAY printer-state\nDISPLAY printer-location\n"
                                     "DISPLAY printer-make-and-model\nDISPLAY media-ready\n"
                                     "DISPLAY printer-resolution-supported\n"
                                     "DISPLAY sides-supported\n"
                                     "DISPLAY print-color-mode-supported\n"
                                     "DISPLAY media-default\n}\n");
    const auto run = testing_support::Run(
        {"/usr/bin/ipptool", "-t", "-v",
         "ipp://127.0.0.1:" + std::to_string(port) + "/printers/" + queue, test});
    testing_support::RemoveTree(test.substr(0, test.rfind('/')));
    return run.output;
}

} // namespace

TEST_F(BridgePrinters, ListsEveryDestinationAsCupsDescribesIt) {
    Start();
    // One printer stopped, as a user stops it.
    testing_support::Run({"/usr/sbin/cupsdisable", "failing"});
    BridgeSocket socket(Port(), Local());
    const auto asked = Clock::now();
    const json reply = socket.Request({{"op", "printers"}});
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
    ASSERT_TRUE(reply.contains("value")) << reply;
    const json &printers = reply["value"];
    ASSERT_EQ(printers[0]["name"], "Quillbay PDF");
    EXPECT_EQ(printers[0]["default"], false);

    // The same destinations lpstat lists, each in the state it gives.
    const std::string lpstat = testing_support::Run({"/usr/bin/lpstat", "-l", "-p"}).output;
    for (const char *name : {"testq", "label", "failing", "shared"}) {
        const json printer = FindPrinter(printers, name);
        ASSERT_FALSE(printer.is_null()) << name << " " << printers;
        const size_t at = lpstat.find("printer " + std::string(name) + " ");
        ASSERT_NE(at, std::string::npos) << lpstat;
        const std::string line = lpstat.substr(at, lpstat.find('\n', at) - at);
        const std::string state = line.find(" disabled") != std::string::npos ? "stopped"
                                  : line.find(" idle") != std::string::npos   ? "idle"
                                                                              : "processing";
        EXPECT_EQ(printer["state"], state) << line;
        EXPECT_EQ(printer["default"], std::string(name) == "testq") << name;
    }
    testing_support::Run({"/usr/sbin/cupsenable", "failing"});
    const json stopped = FindPrinter(printers, "failing");
    EXPECT_NE(std::find(stopped["stateReasons"].begin(), stopped["stateReasons"].end(), "paused"),
              stopped["stateReasons"].end())
        << stopped;

    // The print server's printer, through the queue for it, with the
    // papers the server gives.
    const json shared = FindPrinter(printers, "shared");
    EXPECT_FALSE(shared["papers"].empty()) << shared;
    EXPECT_NE(IppAttributes("shared", s_cups->Port())
                  .find("printer-make-and-model (textWithoutLanguage) = " +
                        shared["makeAndModel"].get<std::string>()),
              std::string::npos)
        << shared;

    // The label printer's details are those ipptool reads from CUPS.
    const json label = FindPrinter(printers, "label");
    const std::string ipp = IppAttributes("label", s_cups->Port());
    EXPECT_NE(ipp.find("printer-location (textWithoutLanguage) = Dock 3"), std::string::npos)
        << ipp;
    EXPECT_EQ(label["location"], "Dock 3");
    EXPECT_NE(ipp.find("printer-make-and-model (textWithoutLanguage) = " +
                       label["makeAndModel"].get<std::string>()),
              std::string::npos)
        << label << ipp;
    std::vector<std::string> papers;
    for (const json &paper : label["papers"])
        papers.push_back(paper["name"].get<std::string>() + (paper["default"] ? " default" : "") +
                         (paper["loaded"] ? " loaded" : ""));
    // Its own sizes, each once; the default one when CUPS names one (for
    // this printer ipptool shows media-default "unknown": none).
    for (const char *name : {"iso_a4_210x297mm_borderless", "iso_a6_105x148mm_borderless",
                             "na_letter_8.5x11in_borderless"}) {
        EXPECT_EQ(std::count_if(papers.begin(), papers.end(),
                                [name](const std::string &paper) {
                                    return paper.rfind(std::string(name), 0) == 0;
                                }),
                  1)
            << name << " " << label["papers"];
    }
    EXPECT_EQ(std::count_if(papers.begin(), papers.end(),
                            [](const std::string &paper) {
                                return paper.find(" default") != std::string::npos;
                            }),
              ipp.find("media-default (keyword) = unknown") != std::string::npos ? 0 : 1)
        << label["papers"] << ipp.substr(0, 2000);
    for (const json &paper : label["papers"]) {
        if (paper["name"] == "na_letter_8.5x11in_borderless") {
            EXPECT_DOUBLE_EQ(paper["width"].get<double>(), 215.9);
            EXPECT_DOUBLE_EQ(paper["height"].get<double>(), 279.4);
            EXPECT_EQ(paper["margins"],
                      json({{"left", 0}, {"top", 0}, {"right", 0}, {"bottom", 0}}));
        }
    }
    EXPECT_EQ(label["duplex"], ipp.find("two-sided-long-edge") != std::string::npos);
    EXPECT_EQ(label["color"],
              ipp.find("print-color-mode-supported (1setOf keyword) = ") != std::string::npos &&
                  ipp.find("color", ipp.find("print-color-mode-supported")) != std::string::npos);
    ASSERT_FALSE(label["resolutions"].empty()) << label;
    const std::string firstResolution = std::to_string(label["resolutions"][0]["x"].get<int>());
    EXPECT_NE(ipp.find("printer-resolution-supported"), std::string::npos) << ipp;
    EXPECT_NE(ipp.find(firstResolution, ipp.find("printer-resolution-supported")),
              std::string::npos)
        << label["resolutions"] << ipp;
    std::cout << "printers(): " << printers.size() << " destinations in " << took << " ms\n";
}

TEST_F(BridgePrinters, ASessionPrintsToItsPrinterWithoutADialog) {
    Start();
    BridgeSocket socket(Port(), Local());
    const size_t before = s_cups->Documents("testq").size();
    const size_t labels = s_cups->Documents("label").size();
    // An unknown name is refused and changes nothing.
    json refused = socket.Request({{"op", "set"}, {"printer", "no such printer"}});
    EXPECT_EQ(refused["error"]["code"], "no-printer") << refused;
    json settings = socket.Request({{"op", "set"}, {"printer", "label"}});
    EXPECT_EQ(settings["value"], json({{"printer", "label"}, {"preview", false}, {"copies", 1}}))
        << settings;
    refused = socket.Request({{"op", "set"}, {"printer", "nope"}, {"preview", true}});
    EXPECT_EQ(refused["error"]["code"], "no-printer");
    EXPECT_EQ(socket.Request({{"op", "set"}})["value"],
              json({{"printer", "label"}, {"preview", false}, {"copies", 1}}));
    // Another session goes on printing to the default.
    BridgeSocket other(Port(), Local());

    PrintLabel(socket, "to the label printer");
    ASSERT_EQ(s_cups->WaitForDocuments("label", labels + 1, 120).size(), labels + 1)
        << "documents at label after waiting 120 s for 1 more";
    EXPECT_EQ(socket.Events().back()["printer"], "label") << socket.Events().back();
    // The print-setup dialog opens on the session's printer.
    const int object =
        socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"];
    socket.Call(object, "SetPaperSize", {1050, 1480});
    socket.Call(object, "SetPrinter", {"3"});
    socket.Call(object, "SetPrinter", {"0"});
    const json printers = socket.Request({{"op", "printers"}})["value"];
    size_t index = 0;
    while (index < printers.size() && printers[index]["name"] != "label")
        ++index;
    const std::string ui = testing_support::ReadFile(m_dir + "/ui.log");
    EXPECT_NE(ui.find("choice\tPrint Setup: printer\t" + std::to_string(index) + "\n"),
              std::string::npos)
        << ui;
    ASSERT_EQ(s_cups->WaitForDocuments("label", labels + 2, 120).size(), labels + 2)
        << "documents at label after waiting 120 s for 2 more";
    EXPECT_EQ(s_cups->Documents("testq").size(), before); // nothing reached the default

    // null goes back to the default.
    settings = socket.Request({{"op", "set"}, {"printer", nullptr}});
    EXPECT_EQ(settings["value"]["printer"], nullptr);
    PrintLabel(socket, "to the default");
    PrintLabel(other, "the other session's");
    EXPECT_EQ(s_cups->WaitForDocuments("testq", before + 2, 120).size(), before + 2)
        << "documents at testq after waiting 120 s for 2 more";
    EXPECT_EQ(s_cups->Documents("label").size(), labels + 2);

    // A queue of a print server: the page reaches the server's printer.
    const size_t served = s_server->Documents("testq").size();
    socket.Request({{"op", "set"}, {"printer", "shared"}});
    PrintLabel(socket, "through the print server");
    EXPECT_EQ(s_server->WaitForDocuments("testq", served + 1, 120).size(), served + 1)
        << "documents at testq after waiting 120 s for 1 more";
    EXPECT_EQ(socket.Events().back()["printer"], "shared") << socket.Events().back();
}

TEST_F(BridgePrinters, JobsAndWatchedPrintersReportCupsStatesAsTheyChange) {
    Start();
    BridgeSocket socket(Port(), Local());
    std::vector<double> latencies;
    auto since = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };

    // A job that completes.
    socket.Request({{"op", "set"}, {"printer", "label"}});
    PrintLabel(socket, "completes");
    const int done = CupsJobOf(socket);
    ASSERT_GT(done, 0) << json(socket.Events());
    EXPECT_GE(WaitForEvent(socket, 0, JobIn("completed", done)), 0) << json(socket.Events());

    // A job held in a stopped queue, then cancelled with cancel.
    testing_support::Run({"/usr/sbin/cupsdisable", "label"});
    size_t mark = socket.Events().size();
    PrintLabel(socket, "cancelled");
    int job = 0;
    for (size_t i = mark; i < socket.Events().size(); ++i)
        job = socket.Events()[i].value("cupsJob", job);
    ASSERT_GT(job, 0);
    // Waiting in the stopped queue, as CUPS says (held until its document
    // is whole, then pending).
    EXPECT_GE(WaitForEvent(socket, mark,
                           [job](const json &e) {
                               return e.value("cupsJob", 0) == job &&
                                      e.value("state", "").rfind("pending", 0) == 0;
                           }),
              0)
        << json(socket.Events());
    mark = socket.Events().size();
    auto start = Clock::now();
    testing_support::Run({"/usr/bin/cancel", std::to_string(job)});
    EXPECT_GE(WaitForEvent(socket, mark, JobIn("canceled", job)), 0) << json(socket.Events());
    latencies.push_back(since(start));
    testing_support::Run({"/usr/sbin/cupsenable", "label"});

    // A job the device fails: CUPS aborts it, every time.
    socket.Request({{"op", "set"}, {"printer", "failing"}});
    mark = socket.Events().size();
    PrintLabel(socket, "aborted");
    job = 0;
    for (size_t i = mark; i < socket.Events().size(); ++i)
        job = socket.Events()[i].value("cupsJob", job);
    ASSERT_GT(job, 0);
    const int ended = WaitForEvent(
        socket, mark,
        [job](const json &e) {
            const std::string state = e.value("state", "");
            return e.value("cupsJob", 0) == job &&
                   (state == "aborted" || state == "canceled" || state == "completed");
        },
        60);
    ASSERT_GE(ended, 0) << "no end of job " << job << ": " << json(socket.Events());
    EXPECT_EQ(socket.Events()[ended]["state"], "aborted") << socket.Events()[ended];
    // quillbay-jobs shows the state the page was told.
    const std::string listing = testing_support::Run({JOBS_TOOL_PATH, "1"}).output;
    EXPECT_NE(listing.find("aborted"), std::string::npos) << listing;

    // A watched printer stopped with cupsdisable and started again.
    const json watched = socket.Request({{"op", "watch"}, {"printers", {"label", "testq"}}});
    EXPECT_EQ(watched["value"], json({"label", "testq"})) << watched;
    // Their states now come first.
    EXPECT_GE(WaitForEvent(socket, 0,
                           [](const json &e) {
                               return e.value("event", "") == "printer" &&
                                      e.value("printer", "") == "label" &&
                                      e.value("state", "") == "idle";
                           }),
              0);
    EXPECT_EQ(socket.Request({{"op", "watch"}, {"printers", {"nothing"}}})["error"]["code"],
              "no-printer");
    for (const char *command : {"/usr/sbin/cupsdisable", "/usr/sbin/cupsenable"}) {
        mark = socket.Events().size();
        start = Clock::now();
        testing_support::Run({command, "testq"});
        const std::string state =
            std::string(command).find("disable") != std::string::npos ? "stopped" : "idle";
        EXPECT_GE(WaitForEvent(socket, mark,
                               [state](const json &e) {
                                   return e.value("event", "") == "printer" &&
                                          e.value("printer", "") == "testq" &&
                                          e.value("state", "") == state;
                               }),
                  0)
            << json(socket.Events());
        latencies.push_back(since(start));
    }
    // Measured from the command's start: the command's own time included.
    for (double latency : latencies)
        std::cout << "event latency: " << latency << " ms\n";
}

TEST_F(BridgePrinters, AnHttpSessionHearsOfItsWatchedPrinterWithItsNextReply) {
    Start();
    const std::string session =
        SendHttp(Port(), verb::post, "/session", "{}", Local()).Json().value("session", "");
    ASSERT_FALSE(session.empty());
    auto call = [&](json request) {
        request["session"] = session;
        return SendHttp(Port(), verb::post, "/call", request.dump(), Local()).Json();
    };
    EXPECT_EQ(call({{"op", "watch"}, {"printers", {"label"}}})["value"], json({"label"}));
    testing_support::Run({"/usr/sbin/cupsdisable", "label"});
    bool heard = false;
    for (int tries = 0; tries < 100 && !heard; ++tries) {
        const json reply = call({{"op", "ping"}});
        for (const json &event : reply.value("events", json::array()))
            heard = heard || (event.value("event", "") == "printer" &&
                              event.value("printer", "") == "label" &&
                              event.value("state", "") == "stopped");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    testing_support::Run({"/usr/sbin/cupsenable", "label"});
    EXPECT_TRUE(heard);
}

TEST_F(BridgePrinters, APreviewIsThePdfPrintingWouldSend) {
    Start();
    BridgeSocket socket(Port(), Local());
    socket.Request({{"op", "set"}, {"printer", "label"}});
    const size_t labels = s_cups->Documents("label").size();
    EXPECT_EQ(socket.Request({{"op", "set"}, {"preview", true}})["value"]["preview"], true);
    PrintLabel(socket, "previewed");
    const json finished = socket.Events().back();
    ASSERT_EQ(finished["stage"], "finished") << finished;
    ASSERT_TRUE(finished.contains("preview")) << finished;
    const std::string pdfAddress = finished["preview"]["pdf"];
    ASSERT_EQ(pdfAddress.rfind("/preview/", 0), 0u) << finished;
    // The addresses answer the session's own requests, with no token.
    const HttpReply pdf = SendHttp(Port(), verb::get, pdfAddress);
    ASSERT_EQ(pdf.status, 200) << pdf.body;
    EXPECT_EQ(pdf.Header("content-type"), "application/pdf");
    if (finished["preview"].contains("png")) {
        const HttpReply png = SendHttp(Port(), verb::get, finished["preview"]["png"]);
        EXPECT_EQ(png.status, 200);
        EXPECT_EQ(png.body.substr(1, 3), "PNG");
    }
    EXPECT_EQ(
        SendHttp(Port(), verb::get, pdfAddress, "", {{"Origin", "https://other.example"}}).status,
        403);
    EXPECT_EQ(
        SendHttp(Port(), verb::get, "/preview/0123/" + pdfAddress.substr(pdfAddress.rfind('/') + 1))
            .status,
        404);
    // Nothing printed; then the same page prints as it was previewed.
    EXPECT_EQ(s_cups->Documents("label").size(), labels);
    socket.Request({{"op", "set"}, {"preview", false}});
    PrintLabel(socket, "previewed");
    const auto documents = s_cups->WaitForDocuments("label", labels + 1, 120);
    ASSERT_EQ(documents.size(), labels + 1);
    const std::string preview = m_dir + "/preview.pdf";
    testing_support::WriteFile(preview, pdf.body);
    // The server's filters rewrite the file: the page is compared as printed.
    const testing_support::PdfPage previewed(preview, 100), printed(documents.back(), 100);
    ASSERT_TRUE(previewed.Ok());
    ASSERT_EQ(printed.Width(), previewed.Width());
    ASSERT_EQ(printed.Height(), previewed.Height());
    int box[2][4];
    for (int i = 0; i < 2; ++i) {
        const testing_support::PdfPage &page = i ? printed : previewed;
        ASSERT_TRUE(page.DarkBox(0, 0, page.Width() - 1, page.Height() - 1, box[i][0], box[i][1],
                                 box[i][2], box[i][3]));
    }
    for (int side = 0; side < 4; ++side)
        EXPECT_NEAR(box[1][side], box[0][side], 1) << side;
    // The preview goes with its session.
    socket.Close();
    for (int i = 0; i < 100 && SendHttp(Port(), verb::get, pdfAddress).status == 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(SendHttp(Port(), verb::get, pdfAddress).status, 404);
}

} // namespace bridge_test
