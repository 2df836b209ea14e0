// Carriers' PDF labels through the bridge to a 203-dpi label printer
// (LPrint's ZPL printer behind a driverless queue of a private cupsd,
// printing to a listener that keeps its bytes), from the first request to
// the last label's bytes at the listener, against `lp` of the same files
// with the paper and scaling the bridge asks, in the same run; each side's
// time the sum of two halves, run lp, bridge, bridge, lp. Then a PDF of
// 30 MB to the office queue: how much the bridge's memory grows while it
// takes and sends it, and where it is after.
//
//   bench_documents [LABELS]      (default 100)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BridgeClient.h"
#include "testing/BridgeProcess.h"
#include "testing/LabelPrinters.h"
#include "testing/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr const char *kQueue = "zpl203";
constexpr const char *kPaper = "oe_4x6-label_4x6in";

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Base64(const std::string &bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned value = 0;
        for (size_t k = 0; k < 3; ++k)
            value = value << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k)
            text += k <= n ? kAlphabet[(value >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

// LABELS 4 x 6 in labels as a carrier's API makes them, one PDF each
// (Ghostscript writes a file per page): a tracking number, an address and
// bars of whole 203-dpi dots.
std::vector<std::string> MakeLabels(const std::string &dir, int labels) {
    std::string ps = "%!PS\n/d 72 203 div def /Helvetica findfont 16 scalefont setfont\n";
    for (int i = 0; i < labels; ++i) {
        ps += "<< /PageSize [288 432] >> setpagedevice 20 400 moveto (1Z999AA1" +
              std::to_string(10000000 + i) + ") show 20 380 moveto (ZHANG SAN, BEIJING) show\n";
        for (int bar = 0; bar < 60; ++bar)
            ps += std::to_string(60 + bar * 9) + " d mul 100 " + std::to_string(3 * (1 + (i + bar) % 3)) +
                  " d mul 200 rectfill\n";
        ps += "showpage\n";
    }
    testing_support::WriteFile(dir + "/labels.ps", ps);
    testing_support::Run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                          "-sDEVICE=pdfwrite", "-o", dir + "/label-%03d.pdf", dir + "/labels.ps"});
    std::vector<std::string> files;
    for (const std::string &name : testing_support::ListFiles(dir, ".pdf"))
        files.push_back(dir + "/" + name);
    return files;
}

// A one-page A4 PDF of `size` bytes: a grey image of noise, stored as it
// is, that no compression makes smaller.
std::string MakeLargePdf(size_t size) {
    const int width = 5000, height = static_cast<int>(size / width);
    std::string pixels(static_cast<size_t>(width) * height, '\0');
    std::mt19937 random(42);
    for (char &pixel : pixels)
        pixel = static_cast<char>(random());
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject << /Im 4 0 R "
        ">> >> /Contents 5 0 R >>",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
            std::to_string(height) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Length " +
            std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream",
        "<< /Length 33 >>\nstream\nq 595 0 0 842 0 0 cm /Im Do Q\n\nendstream"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[24];
        snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// A field of /proc/PID/status in bytes ("VmRSS", "VmHWM").
long Memory(int pid, const std::string &field) {
    const std::string status = testing_support::ReadFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find(field + ":");
    return at == std::string::npos ? 0 : atol(status.c_str() + at + field.size() + 1) * 1024;
}

double UntilLabels(testing_support::LabelListener &listener, int before, int labels,
                   Clock::time_point start) {
    const int count =
        testing_support::LabelCount(listener.WaitForLabels(before + labels, 30 + labels));
    return count >= before + labels ? Seconds(start) : -1;
}

} // namespace

int main(int argc, char **argv) {
    const int labels = argc > 1 ? atoi(argv[1]) : 100;
    const std::string dir = testing_support::MakeTempDir("bench-documents-");
    setenv("QUILLBAY_HOME", (dir + "/home").c_str(), 1);
    setenv("QUILLBAY_MACHINE_HOME", (dir + "/machine").c_str(), 1);
    setenv("QUILLBAY_PRINT_DIR", (dir + "/prints").c_str(), 1);
    setenv("QUILLBAY_UI", "headless", 1);
    unsetenv("QUILLBAY_PRINTER");
    testing_support::PrivateCups cups;
    testing_support::LabelPrinters printers(cups);
    std::string why;
    if (labels <= 1 || !printers.Ready(why)) {
        fprintf(stderr, "bench_documents: %s\n", labels <= 1 ? "LABELS > 1" : why.c_str());
        return 1;
    }
    const std::string folder = dir + "/labels";
    testing_support::MakeFolder(folder, 0700);
    const std::vector<std::string> files = MakeLabels(folder, labels);
    std::vector<std::string> encoded;
    for (const std::string &file : files)
        encoded.push_back(Base64(testing_support::ReadFile(file)));
    testing_support::BridgeProcess bridge(BRIDGE_PATH);
    if (!bridge.Ready() || files.size() != static_cast<size_t>(labels)) {
        fprintf(stderr, "bench_documents: no bridge or no labels: %s\n", bridge.Log().c_str());
        return 1;
    }
    bridge_test::BridgeSocket page(bridge.Port(), bridge_test::TokenHeader(bridge.Token()));

    testing_support::LabelListener &listener = printers.Listener(kQueue);
    int failed = 0;
    auto byLp = [&](size_t first, size_t end) {
        const int before = testing_support::LabelCount(listener.Received());
        const auto start = Clock::now();
        for (size_t i = first; i < end; ++i)
            testing_support::Run({"/usr/bin/lp", "-d", kQueue, "-o", std::string("media=") + kPaper,
                                  "-o", "print-scaling=none", files[i]});
        return UntilLabels(listener, before, static_cast<int>(end - first), start);
    };
    auto byBridge = [&](size_t first, size_t end) {
        const int before = testing_support::LabelCount(listener.Received());
        const auto start = Clock::now();
        for (size_t i = first; i < end; ++i)
            failed += !page.Request({{"op", "document"}, {"printer", kQueue}, {"base64", encoded[i]}})
                           .contains("value");
        return UntilLabels(listener, before, static_cast<int>(end - first), start);
    };
    const size_t half = files.size() / 2;
    const double lp1 = byLp(0, half), ours1 = byBridge(0, half);
    const double ours2 = byBridge(half, files.size()), lp2 = byLp(half, files.size());
    const bool all = lp1 > 0 && lp2 > 0 && ours1 > 0 && ours2 > 0 && failed == 0;
    const double lp = lp1 + lp2, ours = ours1 + ours2;
    printf("labels: %d PDFs of about %zu bytes, to %s on %s\n", labels,
           testing_support::ReadFile(files[0]).size(), kQueue, kPaper);
    printf("lp of the PDFs:   %.2f s (%.1f ms a label)\n", lp, lp * 1000 / labels);
    printf("the bridge:       %.2f s (%.1f ms a label)\n", ours, ours * 1000 / labels);
    if (all)
        printf("the bridge adds:  %+.1f %%\n", (ours / lp - 1) * 100);
    else
        printf("not every label reached the printer (%d refused)\n", failed);

    // The large document, twice, once the bridge has settled: the first
    // time also loads what reading a PDF needs (poppler, its fonts'
    // configuration) for good.
    const std::string large = MakeLargePdf(30u << 20);
    const std::string encodedLarge = Base64(large);
    bool largeOk = true;
    for (int time = 1; time <= 2; ++time) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const long before = Memory(bridge.Pid(), "VmRSS");
        const long peakBefore = Memory(bridge.Pid(), "VmHWM");
        const json reply = page.Request(
            {{"op", "document"}, {"printer", cups.QueueName()}, {"base64", encodedLarge}});
        const long peak = std::max(Memory(bridge.Pid(), "VmHWM"), peakBefore);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const long after = Memory(bridge.Pid(), "VmRSS");
        largeOk = largeOk && reply.contains("value");
        printf("a PDF of %.1f MB (%d): %s; the bridge's memory %.1f MB before, at most %.1f MB "
               "(%+.1f MB, %.2f times the document), %.1f MB after\n",
               large.size() / 1e6, time, reply.contains("value") ? "printed" : reply.dump().c_str(),
               before / 1e6, peak / 1e6, (peak - before) / 1e6,
               static_cast<double>(peak - before) / large.size(), after / 1e6);
    }
    testing_support::RemoveTree(dir);
    return all && largeOk ? 0 : 1;
}
