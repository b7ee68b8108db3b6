// The request threads and the chunked upload against plain libcurl, over loopback, in one run.
// Every "ratio NAME: X" line is the reference's time divided by ours: 1 is as fast as plain
// libcurl, 0.5 takes twice as long. ChunkedUpload_10MB compares with one POST of the whole file;
// ChunkedUpload_vs_CurlBlocks_10MB with plain libcurl sending the same blocks the same way.
// SmallPosts_1000_kept_connection compares with plain libcurl sending the same posts over one
// kept connection (one easy handle for all of them).

#include "net/Upload.h"
#include "net/Web.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

httplib::Server server;
std::thread listener;
int port = 0;

std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }

void StartServer() {
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(std::size_t(1) << 30);
    // Clients that keep their connection send everything over it.
    server.set_keep_alive_max_count(100000);
    server.Post("/sink", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    server.Post("/webservices/service.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<?xml version=\"1.0\"?><response><public><startupload><internalid>77</internalid></startupload></public></response>",
                        "text/xml");
    });
    server.Post("/webservices/uploader.php", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) throw std::runtime_error("cannot bind a loopback port");
    listener = std::thread([] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The reference: one POST with a fresh easy handle (so a fresh connection), shaped like ours;
// or with the handle given, which keeps its connection from one POST to the next.
void CurlPost(const std::string& url, const std::string& contentType, const std::string& body, CURL* kept = nullptr) {
    CURL* h = kept ? kept : curl_easy_init();
    if (kept) curl_easy_reset(h);
    curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
    headers = curl_slist_append(headers, "Expect:");
    std::string answer;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    if (!kept) curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(headers);
    if (!kept) curl_easy_cleanup(h);
    if (rc != CURLE_OK || answer.empty()) throw std::runtime_error("reference POST failed");
}

// Turns the event loop until the handler has seen `count` wsDone notifications.
class TWaiter {
public:
    dm::TWebResponseEvent Handler() {
        return [this](std::int32_t, dm::WebStatus status, const std::string& text, std::int32_t value) {
            if (status == dm::wsFailed) throw std::runtime_error("request failed: " + text + " " + std::to_string(value));
            if (status == dm::wsDone && ++done_ == target_) loop_.quit();
            if (status == dm::wsDone && next_) next_();
        };
    }
    void Run(int count, std::function<void()> start, std::function<void()> next = nullptr) {
        done_ = 0;
        target_ = count;
        next_ = std::move(next);
        start();
        if (done_ < target_) loop_.exec();
    }
    int Done() const { return done_; }

private:
    QEventLoop loop_;
    int done_ = 0;
    int target_ = 0;
    std::function<void()> next_;
};

void WebPostBody(benchmark::State& state, size_t megabytes) {
    const std::string body(megabytes << 20, 'x');
    TWaiter waiter;
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = body; // callers hand their body over; the copy is theirs, not ours
        state.ResumeTiming();
        waiter.Run(1, [&] {
            dm::WebPost(Url("/sink"), std::nullopt, "application/octet-stream", std::move(copy), waiter.Handler(),
                        nullptr);
        });
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void CurlPostBody(benchmark::State& state, size_t megabytes) {
    const std::string body(megabytes << 20, 'x');
    for (auto _ : state) CurlPost(Url("/sink"), "application/octet-stream", body);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

const std::string smallBody =
    "<?xml version=\"1.0\"?><soap:Envelope><soap:Body><sendRequestXML><ticket>0123456789abcdef</ticket>"
    "</sendRequestXML></soap:Body></soap:Envelope>";
constexpr int SmallCount = 1000;

// One after another, as a session sends them: each starts from the previous one's handler.
void WebSmallPosts(benchmark::State& state) {
    TWaiter waiter;
    for (auto _ : state) {
        auto post = [&] { dm::WebPostXml(Url("/sink"), smallBody, waiter.Handler(), nullptr); };
        waiter.Run(SmallCount, post, [&] {
            if (waiter.Done() < SmallCount) post();
        });
    }
}

void CurlSmallPosts(benchmark::State& state) {
    for (auto _ : state)
        for (int i = 0; i < SmallCount; ++i) CurlPost(Url("/sink"), "text/xml", smallBody);
}

void CurlSmallPostsKept(benchmark::State& state) {
    for (auto _ : state) {
        CURL* h = curl_easy_init();
        for (int i = 0; i < SmallCount; ++i) CurlPost(Url("/sink"), "text/xml", smallBody, h);
        curl_easy_cleanup(h);
    }
}

std::string uploadFile;
constexpr size_t UploadSize = 10 << 20;

void ChunkedUpload(benchmark::State& state) {
    TWaiter waiter;
    for (auto _ : state)
        waiter.Run(1, [&] {
            dm::StartUpload(uploadFile, Url("/webservices/service.php"), Url("/webservices/uploader.php"),
                            waiter.Handler(), nullptr);
        });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * UploadSize));
}

// The same file read and sent in one POST.
void CurlWholeFile(benchmark::State& state) {
    for (auto _ : state) {
        std::ifstream in(uploadFile, std::ios::binary);
        std::string bytes(UploadSize, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        CurlPost(Url("/webservices/uploader.php"), "application/uploader-77", bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * UploadSize));
}

// The floor for any chunked upload over fresh connections: the same blocks, one after another,
// each in its own plain libcurl POST.
void CurlBlocks(benchmark::State& state) {
    for (auto _ : state) {
        std::ifstream in(uploadFile, std::ios::binary);
        std::string block(dm::UploadBlockSize, '\0');
        CurlPost(Url("/webservices/service.php"), "text/xml", "<request/>");
        for (size_t sent = 0; sent < UploadSize; sent += block.size()) {
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            CurlPost(Url("/webservices/uploader.php"), "application/uploader-77", block);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * UploadSize));
}

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio(const char* name, const std::string& ours, const std::string& reference) {
        double o = Time(ours), r = Time(reference);
        if (o > 0 && r > 0) std::printf("ratio %s: %.3f\n", name, r / o);
    }

private:
    // Runs are named "Name/iterations:N/real_time".
    double Time(const std::string& name) const {
        for (const auto& [key, time] : times_)
            if (key.rfind(name + "/", 0) == 0) return time;
        return 0;
    }

public:

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StartServer();
    uploadFile = (std::filesystem::temp_directory_path() / ("dmbench-upload-" + std::to_string(::getpid()))).string();
    {
        std::ofstream out(uploadFile, std::ios::binary);
        std::string bytes(UploadSize, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("CurlPost/10MB", CurlPostBody, 10)->Unit(ms)->UseRealTime()->Iterations(20);
    benchmark::RegisterBenchmark("WebPost/10MB", WebPostBody, 10)->Unit(ms)->UseRealTime()->Iterations(20);
    benchmark::RegisterBenchmark("CurlPost/100MB", CurlPostBody, 100)->Unit(ms)->UseRealTime()->Iterations(4);
    benchmark::RegisterBenchmark("WebPost/100MB", WebPostBody, 100)->Unit(ms)->UseRealTime()->Iterations(4);
    benchmark::RegisterBenchmark("CurlSmallPosts/1000", CurlSmallPosts)->Unit(ms)->UseRealTime()->Iterations(3);
    benchmark::RegisterBenchmark("CurlSmallPostsKept/1000", CurlSmallPostsKept)->Unit(ms)->UseRealTime()->Iterations(3);
    benchmark::RegisterBenchmark("WebSmallPosts/1000", WebSmallPosts)->Unit(ms)->UseRealTime()->Iterations(3);
    benchmark::RegisterBenchmark("CurlWholeFile/10MB", CurlWholeFile)->Unit(ms)->UseRealTime()->Iterations(20);
    benchmark::RegisterBenchmark("CurlBlocks/10MB", CurlBlocks)->Unit(ms)->UseRealTime()->Iterations(20);
    benchmark::RegisterBenchmark("ChunkedUpload/10MB", ChunkedUpload)->Unit(ms)->UseRealTime()->Iterations(20);

    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("WebPost_10MB", "WebPost/10MB", "CurlPost/10MB");
    reporter.PrintRatio("WebPost_100MB", "WebPost/100MB", "CurlPost/100MB");
    reporter.PrintRatio("SmallPosts_1000", "WebSmallPosts/1000", "CurlSmallPosts/1000");
    reporter.PrintRatio("SmallPosts_1000_kept_connection", "WebSmallPosts/1000", "CurlSmallPostsKept/1000");
    reporter.PrintRatio("ChunkedUpload_10MB", "ChunkedUpload/10MB", "CurlWholeFile/10MB");
    reporter.PrintRatio("ChunkedUpload_vs_CurlBlocks_10MB", "ChunkedUpload/10MB", "CurlBlocks/10MB");

    dm::WebShutdown();
    server.stop();
    listener.join();
    std::filesystem::remove(uploadFile);
    return 0;
}
