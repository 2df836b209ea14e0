// HTTP against a loopback nginx, each figure beside libcurl's easy API doing
// the same work in the same run:
//   Download: HttpClient::Download of a 50 MB file (as PrintLogo downloads a
//     picture) against curl_easy_perform of the same file into memory;
//   Send: QuillDoc::HttpSend round trips (a small form POST on a kept
//     connection), and the same through HttpClient alone, against
//     curl_easy_perform of the same POST with a reused handle. Compare the
//     medians.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <memory>
#include <string>
#include <vector>

#include "QuillDoc.h"
#include "net/HttpClient.h"
#include "platform/kernel/TextConvert.h"
#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

namespace {

constexpr size_t kFileSize = 50u << 20;
constexpr const char *kForm = "sp=KEY&name=value&count=12";
constexpr const char *kFormHeader = "Content-Type:application/x-www-form-urlencoded;charset=gb2312";

struct Servers {
    Servers() {
        const std::string root = testing_support::MakeTempDir("quillbay-bench-http-");
        setenv("QUILLBAY_HOME", (root + "/home").c_str(), 1);
        setenv("QUILLBAY_UI", "headless", 1);
        nginx = std::make_unique<testing_support::Nginx>();
        std::string file(kFileSize, '\0');
        for (size_t i = 0; i < file.size(); ++i)
            file[i] = static_cast<char>((i * 131) >> 7);
        testing_support::WriteFile(nginx->Root() + "/big.bin", file);
        base = "http://127.0.0.1:" + std::to_string(nginx->Port());
    }
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

void Download_HttpClient(benchmark::State &state) {
    const std::string url = Loopback().base + "/big.bin";
    HttpClient client; // kept, as PrintLogo keeps its client
    for (auto _ : state) {
        int n =
            client.Download(url.c_str(), 80, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE);
        if (n != static_cast<int>(kFileSize))
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void Download_CurlEasy(benchmark::State &state) {
    const std::string url = Loopback().base + "/big.bin";
    CURL *easy = curl_easy_init();
    std::string body; // kept, as the client keeps its buffer
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body.size() != kFileSize)
            state.SkipWithError("download failed");
    }
    curl_easy_cleanup(easy);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void Send_QuillDoc(benchmark::State &state) {
    IQuillDoc *doc = nullptr;
    QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&doc));
    const std::u16string url = platform::Utf8ToWide(Loopback().base + "/post");
    BSTR address = SysAllocString(url.c_str());
    BSTR key = SysAllocString(u"KEY");
    BSTR params = SysAllocString(u"name=value&count=12");
    int connected = 0;
    doc->HttpConnect(address, &connected);
    if (!connected)
        state.SkipWithError("no connection");
    for (auto _ : state) {
        BSTR reply = nullptr;
        doc->HttpSend(key, params, &reply);
        if (!reply || SysStringLen(reply) != 6)
            state.SkipWithError("no reply");
        SysFreeString(reply);
    }
    SysFreeString(address);
    SysFreeString(key);
    SysFreeString(params);
    doc->Release();
}

// The same round trip through HttpClient alone, as HttpSend drives it.
void Send_HttpClient(benchmark::State &state) {
    const std::string url = Loopback().base + "/post";
    HttpClient client;
    client.OpenSession("OstrelCOM");
    if (client.Connect(url.c_str(), 80) != 0)
        state.SkipWithError("no connection");
    for (auto _ : state) {
        client.OpenRequest("POST", INTERNET_FLAG_RELOAD);
        client.AddHeaders(kFormHeader, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        if (client.SendText(kForm) != 0 || client.Body().Length() != 6)
            state.SkipWithError("no reply");
    }
}

void Send_CurlEasy(benchmark::State &state) {
    const std::string url = Loopback().base + "/post";
    CURL *easy = curl_easy_init();
    std::string body;
    curl_slist *headers = curl_slist_append(nullptr, kFormHeader);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kForm);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body != "posted")
            state.SkipWithError("no reply");
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
}

} // namespace

BENCHMARK(Download_HttpClient)->Unit(benchmark::kMillisecond)->Repetitions(9)->UseRealTime();
BENCHMARK(Download_CurlEasy)->Unit(benchmark::kMillisecond)->Repetitions(9)->UseRealTime();
BENCHMARK(Send_QuillDoc)->Unit(benchmark::kMicrosecond)->Repetitions(9)->UseRealTime();
BENCHMARK(Send_HttpClient)->Unit(benchmark::kMicrosecond)->Repetitions(9)->UseRealTime();
BENCHMARK(Send_CurlEasy)->Unit(benchmark::kMicrosecond)->Repetitions(9)->UseRealTime();

int main(int argc, char **argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The repetitions of each figure and its peer take turns, so a machine
    // whose load changes during the run weighs on both alike.
    std::vector<char *> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    Loopback();
    benchmark::RunSpecifiedBenchmarks();
    Loopback().nginx.reset();
    benchmark::Shutdown();
    return 0;
}
