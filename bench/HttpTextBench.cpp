// Long text replies against a loopback nginx, beside libcurl's easy API
// doing the same work in the same run:
//   TextReply_QuillDoc: QuillDoc::HttpSend of a small form whose reply is a
//     text of 100 kB, 1 MB, 5 MB, 10 MB or 50 MB (the reply read in
//     1020-byte chunks, then turned into the BSTR the page gets);
//   TextReply_HttpClient: the same POST through HttpClient alone;
//   TextReply_CurlEasy: curl_easy_perform of the same POST into memory.
// The end of the output compares the 5 MB and 50 MB figures with curl's,
// shows the time per megabyte at each size (a reader whose cost grows
// linearly keeps it flat from 100 kB to 50 MB), and the most memory each
// path held for one 50 MB reply on a new object, client or handle, beyond
// what the process held before it.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "QuillDoc.h"
#include "net/HttpClient.h"
#include "platform/kernel/TextConvert.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

namespace {

constexpr int kRepetitions = 9;
constexpr const char *kForm = "sp=KEY&name=value&count=12";
constexpr const char *kFormHeader = "Content-Type:application/x-www-form-urlencoded;charset=gb2312";
const long kSizes[] = {100'000, 1'000'000, 5'000'000, 10'000'000, 50'000'000};

// Text without a NUL: lines of letters and digits.
std::string ReplyText(size_t size) {
    std::string text(size, '\n');
    for (size_t i = 0; i < size; ++i) {
        if (i % 64 != 63)
            text[i] = static_cast<char>('a' + (i * 7 + i / 64) % 26);
    }
    return text;
}

struct Servers {
    Servers() {
        const std::string root = testing_support::MakeTempDir("quillbay-bench-text-");
        setenv("QUILLBAY_HOME", (root + "/home").c_str(), 1);
        setenv("QUILLBAY_UI", "headless", 1);
        nginx = std::make_unique<testing_support::Nginx>();
        testing_support::Run({"/bin/mkdir", "-p", nginx->Root() + "/replies"});
        for (long size : kSizes)
            testing_support::WriteFile(nginx->Root() + Path(size),
                                       ReplyText(static_cast<size_t>(size)));
        base = "http://127.0.0.1:" + std::to_string(nginx->Port());
    }
    static std::string Path(long size) { return "/replies/" + std::to_string(size) + ".txt"; }
    std::unique_ptr<testing_support::Nginx> nginx;
    std::string base;
};

Servers &Loopback() {
    static Servers servers;
    return servers;
}

size_t Collect(char *data, size_t size, size_t count, void *target) {
    static_cast<std::string *>(target)->append(data, size * count);
    return size * count;
}

// One object per reply size, connected once and kept, as a page keeps its
// object while it posts again and again; curl keeps its handle the same way.
IQuillDoc *ConnectedDoc(long size) {
    static std::map<long, IQuillDoc *> docs;
    IQuillDoc *&doc = docs[size];
    if (doc)
        return doc;
    QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&doc));
    const std::u16string url = platform::Utf8ToWide(Loopback().base + Servers::Path(size));
    BSTR address = SysAllocString(url.c_str());
    int connected = 0;
    doc->HttpConnect(address, &connected);
    SysFreeString(address);
    if (!connected) {
        doc->Release();
        doc = nullptr;
    }
    return doc;
}

void TextReply_QuillDoc(benchmark::State &state) {
    const long size = state.range(0);
    IQuillDoc *doc = ConnectedDoc(size);
    if (!doc) {
        state.SkipWithError("no connection");
        return;
    }
    BSTR key = SysAllocString(u"KEY");
    BSTR params = SysAllocString(u"name=value&count=12");
    for (auto _ : state) {
        BSTR reply = nullptr;
        doc->HttpSend(key, params, &reply);
        if (!reply || SysStringLen(reply) != static_cast<UINT>(size))
            state.SkipWithError("no reply");
        SysFreeString(reply);
    }
    SysFreeString(key);
    SysFreeString(params);
    state.SetBytesProcessed(state.iterations() * size);
}

void TextReply_HttpClient(benchmark::State &state) {
    const long size = state.range(0);
    static std::map<long, std::unique_ptr<HttpClient>> clients;
    std::unique_ptr<HttpClient> &client = clients[size];
    if (!client) {
        const std::string url = Loopback().base + Servers::Path(size);
        client = std::make_unique<HttpClient>();
        client->OpenSession("OstrelCOM");
        if (client->Connect(url.c_str(), 80) != 0)
            state.SkipWithError("no connection");
    }
    for (auto _ : state) {
        client->OpenRequest("POST", INTERNET_FLAG_RELOAD);
        client->AddHeaders(kFormHeader, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        if (client->SendText(kForm) != 0 || client->Body().Length() != static_cast<DWORD>(size))
            state.SkipWithError("no reply");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void TextReply_CurlEasy(benchmark::State &state) {
    const long size = state.range(0);
    static std::map<long, CURL *> handles;
    static curl_slist *headers = curl_slist_append(nullptr, kFormHeader);
    CURL *&easy = handles[size];
    static std::string body;
    if (!easy) {
        easy = curl_easy_init();
        static std::map<long, std::string> urls;
        urls[size] = Loopback().base + Servers::Path(size);
        curl_easy_setopt(easy, CURLOPT_URL, urls[size].c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kForm);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    }
    for (auto _ : state) {
        body = std::string(); // a fresh string each time, as each reply is
        if (curl_easy_perform(easy) != CURLE_OK || body.size() != static_cast<size_t>(size))
            state.SkipWithError("no reply");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// The process' resident memory now and at most since the last Reset, in
// bytes (Linux: /proc/self/status; writing 5 to clear_refs resets the most).
long StatusField(const char *name) {
    FILE *status = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (status && fgets(line, sizeof line, status)) {
        if (strncmp(line, name, strlen(name)) == 0)
            kb = atol(line + strlen(name));
    }
    if (status)
        fclose(status);
    return kb * 1024;
}

void ResetPeak() {
    if (FILE *refs = fopen("/proc/self/clear_refs", "w")) {
        fputs("5", refs);
        fclose(refs);
    }
}

// The most memory one reply took beyond what the process held before it.
template <typename Reply> long PeakOf(Reply reply) {
    ResetPeak();
    const long before = StatusField("VmRSS:");
    reply();
    return StatusField("VmHWM:") - before;
}

void PeakMemory(long size) {
    const std::string url = Loopback().base + Servers::Path(size);
    const long quilldoc = PeakOf([&] {
        IQuillDoc *doc = nullptr;
        QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&doc));
        const std::u16string address = platform::Utf8ToWide(url);
        BSTR bsUrl = SysAllocString(address.c_str()), key = SysAllocString(u"KEY"),
             params = SysAllocString(u"name=value&count=12"), reply = nullptr;
        int connected = 0;
        doc->HttpConnect(bsUrl, &connected);
        doc->HttpSend(key, params, &reply);
        SysFreeString(reply);
        SysFreeString(bsUrl);
        SysFreeString(key);
        SysFreeString(params);
        doc->Release();
    });
    const long client = PeakOf([&] {
        HttpClient http;
        http.OpenSession("OstrelCOM");
        http.Connect(url.c_str(), 80);
        http.OpenRequest("POST", INTERNET_FLAG_RELOAD);
        http.AddHeaders(kFormHeader, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        http.SendText(kForm);
    });
    const long curl = PeakOf([&] {
        CURL *easy = curl_easy_init();
        std::string body;
        curl_slist *headers = curl_slist_append(nullptr, kFormHeader);
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kForm);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
        curl_easy_perform(easy);
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
    });
    const double mb = size / 1e6;
    printf("peak memory for one %ld-byte reply: TextReply_QuillDoc %.1f MB (%.2fx the reply; "
           "its BSTR alone is 2x: UTF-16), TextReply_HttpClient %.1f MB (%.2fx), "
           "TextReply_CurlEasy %.1f MB (%.2fx)\n",
           size, quilldoc / 1e6, quilldoc / 1e6 / mb, client / 1e6, client / 1e6 / mb, curl / 1e6,
           curl / 1e6 / mb);
}

double Least(const std::vector<double> &v) {
    return *std::min_element(v.begin(), v.end());
}
double Most(const std::vector<double> &v) {
    return *std::max_element(v.begin(), v.end());
}

// The console's report, then each figure against its peer and the time per
// megabyte at each size.
class PeerReporter : public benchmark::ConsoleReporter {
public:
    PeerReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate && !run.error_occurred)
                m_figures[run.run_name.function_name][run.run_name.args][run.aggregate_name] =
                    run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Compare(const char *figure, const char *peer, long size) {
        const std::string args = std::to_string(size);
        const double a = Median(figure, args), b = Median(peer, args);
        if (a > 0 && b > 0)
            printf("%-22s %8ld bytes: median %8.2f ms  %-20s median %8.2f ms  ratio %.2f\n", figure,
                   size, a, peer, b, a / b);
    }
    void Growth(const char *figure) {
        printf("%-22s ms per MB:", figure);
        for (long size : kSizes) {
            const double t = Median(figure, std::to_string(size));
            if (t > 0)
                printf("  %ld B %.2f", size, t / (size / 1e6));
        }
        printf("\n");
    }

private:
    double Median(const std::string &figure, const std::string &args) {
        auto f = m_figures.find(figure);
        if (f == m_figures.end())
            return 0;
        auto a = f->second.find(args);
        return a == f->second.end() ? 0 : a->second["median"];
    }
    std::map<std::string, std::map<std::string, std::map<std::string, double>>> m_figures;
};

void Figure(benchmark::internal::Benchmark *b) {
    for (long size : kSizes)
        b->Arg(size);
    b->Unit(benchmark::kMillisecond)
        ->Iterations(8)
        ->Repetitions(kRepetitions)
        ->UseRealTime()
        ->DisplayAggregatesOnly()
        ->ComputeStatistics("min", Least)
        ->ComputeStatistics("max", Most);
}

void PrintLoad(const char *when) {
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

} // namespace

BENCHMARK(TextReply_QuillDoc)->Apply(Figure);
BENCHMARK(TextReply_HttpClient)->Apply(Figure);
BENCHMARK(TextReply_CurlEasy)->Apply(Figure);

int main(int argc, char **argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<char *> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    Loopback();
    PrintLoad("before");
    PeerReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintLoad("after");
    for (long size : {5'000'000L, 50'000'000L}) {
        reporter.Compare("TextReply_QuillDoc", "TextReply_CurlEasy", size);
        reporter.Compare("TextReply_HttpClient", "TextReply_CurlEasy", size);
    }
    for (const char *figure : {"TextReply_QuillDoc", "TextReply_HttpClient", "TextReply_CurlEasy"})
        reporter.Growth(figure);
    PeakMemory(50'000'000);
    Loopback().nginx.reset();
    benchmark::Shutdown();
    // The kept objects, handles and clients end with the process.
    return 0;
}
