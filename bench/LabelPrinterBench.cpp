// Shipping labels through CUPS to a 203-dpi label printer (LPrint's ZPL
// printer behind a driverless queue of a private cupsd, printing to a
// listener that keeps its bytes), each figure from the first call to the
// last label's bytes at the listener, in the same run:
//   ours: LABELS labels printed by the object (paper, text, a line, Code 128,
//     PDF417 and EAN-13, the job ended), one job each;
//   lp:   `lp` of the same LABELS PDFs, made beforehand by the object with
//     its jobs previewed (the PDFs printing sends), with the options the
//     object gives CUPS.
// Each side's time is the sum of two halves, run lp, ours, ours, lp.
//
//   bench_label_printer [LABELS]      (default 200)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Automation.h"
#include "platform/print/JobPreview.h"
#include "platform/print/Printers.h"
#include "platform/win32.h"
#include "quillbay_i.h"
#include "testing/LabelPrinters.h"
#include "testing/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kQueue = "zpl203";

class Bstr {
public:
    explicit Bstr(const std::u16string &text) : m_bstr(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(m_bstr); }
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};

std::u16string Digits(int number, int width) {
    std::string text = std::to_string(number);
    text.insert(0, static_cast<size_t>(width) - text.size(), '0');
    return std::u16string(text.begin(), text.end());
}

// One label, as a page's script prints it.
void PrintLabel(IQuillDoc *doc, int number) {
    int done = 0;
    doc->SetPaperSize(1000, 1500);
    doc->SetPrinter(Bstr(u"1"), &done);
    doc->SetFont(Bstr(u"黑体"), 1, &done);
    doc->PrintText(5, 5, Bstr(u"发货单 Label " + Digits(number, 6)), 0, 0, 16);
    doc->DrawLine(5, 15, 95, 15, 0, 0, 3, 0);
    doc->SetFont(Bstr(u"宋体"), 0, &done);
    doc->PrintText(5, 20, Bstr(u"收货人：张三  电话：13800000000"), 0, 0, 10);
    doc->PrintBarCode(3, Bstr(u"2026" + Digits(number, 6)), 5, 30, 0, 0, 60, 18);
    doc->PrintBarCode(2, Bstr(u"SO-" + Digits(number, 6) + u"|张三|北京市海淀区"), 5, 60, 0, 0, 70,
                      30);
    doc->PrintBarCode(1, Bstr(u"6901234567892"), 5, 100, 0, 0, 40, 15);
    doc->SetPrinter(Bstr(u"0"), &done);
}

} // namespace

int main(int argc, char **argv) {
    const int labels = argc > 1 ? atoi(argv[1]) : 200;
    const std::string home = testing_support::MakeTempDir("bench-label-");
    setenv("QUILLBAY_HOME", home.c_str(), 1);
    setenv("QUILLBAY_MACHINE_HOME", (home + "/machine").c_str(), 1);
    setenv("QUILLBAY_UI", "headless", 1);
    testing_support::PrivateCups cups;
    testing_support::LabelPrinters printers(cups);
    std::string why;
    if (labels <= 0 || !printers.Ready(why)) {
        fprintf(stderr, "bench_label_printer: %s\n", labels <= 0 ? "LABELS > 0" : why.c_str());
        return 1;
    }
    setenv("QUILLBAY_PRINTER", kQueue, 1);
    HMODULE module = LoadLibraryA(QUILLBAY_MODULE_PATH);
    auto reg = reinterpret_cast<LPFNREGISTERSERVER>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch *dispatch = nullptr;
    IQuillDoc *doc = nullptr;
    std::string error;
    if (!reg || FAILED(reg()) ||
        FAILED(CreateScriptableObject("Quillbay.QuillDoc", &dispatch, error)) ||
        FAILED(dispatch->QueryInterface(IID_IQuillDoc, reinterpret_cast<void **>(&doc)))) {
        fprintf(stderr, "bench_label_printer: no object: %s\n", error.c_str());
        return 1;
    }

    // The PDFs printing sends, made beforehand, and the media the object
    // asks CUPS for.
    const std::string pdfs = home + "/pdfs";
    testing_support::MakeFolder(pdfs, 0700);
    platform::print::PreviewJobsOnThisThread(pdfs);
    for (int i = 1; i <= labels; ++i)
        PrintLabel(doc, i);
    platform::print::PreviewJobsOnThisThread("");
    platform::print::PrinterInfo queue;
    platform::print::FindPrinter(kQueue, queue);
    platform::print::CupsDetails(queue, 1000, 1500);
    const std::vector<std::string> files = testing_support::ListFiles(pdfs, ".pdf");

    // Half of each side, then the other halves in the opposite order, so
    // that what grows during the run (CUPS' job history) weighs on both.
    testing_support::LabelListener &listener = printers.Listener(kQueue);
    auto byLp = [&](size_t first, size_t end) {
        const int before = testing_support::LabelCount(listener.Received());
        const auto start = Clock::now();
        for (size_t i = first; i < end; ++i)
            testing_support::Run({"/usr/bin/lp", "-d", kQueue, "-o", "media=" + queue.media, "-o",
                                  "print-scaling=none", "-o", "document-format=application/pdf",
                                  pdfs + "/" + files[i]});
        return listener.SecondsUntilLabels(before, static_cast<int>(end - first), start);
    };
    auto byObject = [&](int first, int end) {
        const int before = testing_support::LabelCount(listener.Received());
        const auto start = Clock::now();
        for (int i = first; i < end; ++i)
            PrintLabel(doc, i);
        return listener.SecondsUntilLabels(before, end - first, start);
    };
    const size_t half = files.size() / 2;
    const double lp1 = byLp(0, half), ours1 = byObject(1, labels / 2 + 1);
    const double ours2 = byObject(labels / 2 + 1, labels + 1), lp2 = byLp(half, files.size());
    const bool all = lp1 > 0 && lp2 > 0 && ours1 > 0 && ours2 > 0;
    const double lp = lp1 + lp2, ours = ours1 + ours2;

    printf("labels: %d (%zu PDFs for lp, media %s)\n", labels, files.size(), queue.media.c_str());
    printf("lp of the PDFs:  %.2f s (%.1f ms a label)\n", lp, lp * 1000 / labels);
    printf("the object:      %.2f s (%.1f ms a label)\n", ours, ours * 1000 / labels);
    if (all)
        printf("the object adds: %+.1f %%\n", (ours / lp - 1) * 100);
    else
        printf("not every label reached the printer\n");
    doc->Release();
    dispatch->Release();
    CoUninitialize();
    testing_support::RemoveTree(home);
    return all ? 0 : 1;
}
