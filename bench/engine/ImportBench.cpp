// An invoice file import of 200 files of 1 MB by the real engine against the local service in
// this process, beside the same uploads (announce, then 100 KiB blocks) made with plain libcurl
// against the same service in the same run.
//
// The import is timed from the Sync button to the end of the session: the uploads, the service
// reading the files (one progress poll, which the engine's 500 ms poll timer paces), and one
// invoice request per file. Its upload phase alone (Sync button until "Reading import...") is
// shown as uploads_ms. The reference makes only the uploads, one easy handle per request, the
// way the transport does. Printed last, with X = engine / libcurl:
//   ratio import_200x1MB_vs_plain_curl: X          (the whole import)
//   ratio import_200x1MB_uploads_vs_plain_curl: X  (its upload phase)

#include "EngineBench.h"

#include "TestService.h"
#include "TestSupport.h"
#include "engine/ImportInvoices.h"
#include "net/Upload.h"
#include "net/Web.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr int Files = 200;
constexpr size_t FileSize = 1 << 20;

struct TWorld {
    dmtest::TempDir Dir;
    std::string Folder;
    std::vector<std::string> Paths;
    std::unique_ptr<dm::TTestService> Service;
    std::string BaseUrl;
    dm::TAppState App;
    dmbench::TSilentPrompts Prompts;
    std::unique_ptr<dm::TMainEngine> Engine;
    dm::TSync* Frame = nullptr;
};
TWorld* world = nullptr;

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto end = dmbench::Clock::now() + bound;
    while (!condition()) {
        if (dmbench::Clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// One invoice per file; the rest of the megabyte is a long customer field, so that the service
// reads the file in one line instead of a million blank ones.
void WriteFiles() {
    world->Folder = world->Dir.Folder() + "in/";
    std::filesystem::create_directories(world->Folder);
    for (int i = 0; i < Files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "batch%03d.csv", i);
        const std::string tail = ",1.00,2024-06-01\r\n";
        std::string bytes = "number,customer,amount,due\r\n" + std::to_string(10000 + i) + ",";
        bytes.append(FileSize - bytes.size() - tail.size(), static_cast<char>('a' + i % 26));
        bytes += tail;
        world->Paths.push_back(world->Folder + name);
        dmbench::WriteFile(world->Paths.back(), bytes);
    }
}

void StartService() {
    nlohmann::json account = {{"user", "ezi"},      {"password", "demo"}, {"name", "Ezi Co"},
                              {"id", "2001"},       {"type", "ezi"},      {"payment_notifications", false},
                              {"import", {{"pdfs", false}, {"progress_steps", 1}}}};
    world->Service = std::make_unique<dm::TTestService>(dm::ScenarioFromJson({{"accounts", {account}}}));
    int port = world->Service->Start("127.0.0.1", 0);
    if (port <= 0) throw std::runtime_error("the local service did not start");
    world->BaseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
}

void StartEngine() {
    world->App.BaseUrl = world->BaseUrl;
    dm::ComposeUrls(world->App);
    world->App.StorageFolder = world->Dir.Folder() + "store/";
    std::filesystem::create_directories(world->App.StorageFolder);
    world->App.VersionText = "1.0.0";
    world->App.BuildNumber = "1";
    world->Engine = std::make_unique<dm::TMainEngine>(world->App, world->Prompts);
    dm::BillerRecord r;
    r.type = "ezi";
    r.name = "Ezi Co";
    r.id = "2001";
    r.username = "ezi";
    r.password = "demo";
    r.smartsync = false;
    r.invoiceimportimportdirectory = world->Folder;
    world->Frame = world->Engine->AddBiller(r);
    if (!PumpUntil([] { return !world->Frame->Confirming; }, 10s) || world->Frame->Blocked)
        throw std::runtime_error("the account confirmation did not succeed");
}

struct TImportTimes {
    double Uploads = 0;
    double Session = 0;
};

TImportTimes RunImport() {
    TImportTimes t;
    const auto start = dmbench::Clock::now();
    auto connection = QObject::connect(world->Engine.get(), &dm::TMainEngine::logged,
                                       [&](const std::string&, const std::string& message) {
                                           if (message == "Reading import...")
                                               t.Uploads = std::chrono::duration<double>(dmbench::Clock::now() - start).count();
                                       });
    // A loop that sleeps until something happens: a polling one would take the CPU the
    // transport's threads need.
    QEventLoop loop;
    bool finished = false;
    auto done = QObject::connect(world->Engine.get(), &dm::TMainEngine::sessionFinished, [&] {
        finished = true;
        loop.quit();
    });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(600s);
    world->Frame->btnSyncNowClick(true);
    if (!finished) loop.exec();
    const bool ended = finished;
    t.Session = std::chrono::duration<double>(dmbench::Clock::now() - start).count();
    QObject::disconnect(connection);
    QObject::disconnect(done);
    if (!ended) throw std::runtime_error("the import did not end");
    if (world->Frame->HadErrors) throw std::runtime_error("the import failed: " + world->Frame->ErrorText);
    if (!world->Prompts.Shown.empty()) throw std::runtime_error("the import asked: " + world->Prompts.Shown.front());
    return t;
}

size_t Keep(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

std::string Post(const std::string& url, const std::string& contentType, const char* data, size_t size) {
    CURL* curl = curl_easy_init();
    std::string answer;
    curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, data);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Keep);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK || status != 200) throw std::runtime_error("a plain upload request failed: " + url);
    return answer;
}

// The same announcements and blocks, read from the same files.
void PlainUploads() {
    const std::string service = world->BaseUrl + "webservices/service.php";
    const std::string uploader = world->BaseUrl + "webservices/uploader.php";
    std::string block(static_cast<size_t>(dm::UploadBlockSize), '\0');
    for (const std::string& path : world->Paths) {
        const auto size = static_cast<long long>(std::filesystem::file_size(path));
        const std::string announce = "<?xml version=\"1.0\"?><request><public><startupload><filename>" + path +
                                     "</filename><size>" + std::to_string(size) + "</size><blocksize>" +
                                     std::to_string(dm::UploadBlockSize) + "</blocksize></startupload></public></request>";
        const std::string answer = Post(service, "text/xml", announce.data(), announce.size());
        const size_t open = answer.find("<internalid>"), close = answer.find("</internalid>");
        if (open == std::string::npos || close == std::string::npos) throw std::runtime_error("no upload id");
        const std::string id = answer.substr(open + 12, close - open - 12);
        std::ifstream in(path, std::ios::binary);
        for (long long sent = 0; sent < size;) {
            const auto length = static_cast<size_t>(std::min<long long>(dm::UploadBlockSize, size - sent));
            in.read(block.data(), static_cast<std::streamsize>(length));
            Post(uploader, "application/uploader-" + id, block.data(), length);
            sent += static_cast<long long>(length);
        }
    }
}

void EngineImport(benchmark::State& state) {
    double uploads = 0;
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->BaseUrl);
            dmbench::RemoveRotatedLogs(world->App.StorageFolder);
            TImportTimes t = RunImport();
            state.SetIterationTime(t.Session);
            uploads += t.Uploads;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["uploads_ms"] = uploads / static_cast<double>(state.iterations()) * 1e3;
}

void CurlUploads(benchmark::State& state) {
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->BaseUrl);
            const auto start = dmbench::Clock::now();
            PlainUploads();
            state.SetIterationTime(std::chrono::duration<double>(dmbench::Clock::now() - start).count());
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    TWorld w;
    world = &w;
    int savedStderr = -1;
    try {
        WriteFiles();
        // The service writes a line per request on standard error: thousands per import.
        std::fflush(stderr);
        savedStderr = ::dup(2);
        int logFd = ::open((w.Dir.Folder() + "service.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(logFd, 2);
        ::close(logFd);
        StartService();
        StartEngine();
        // One import to warm up; the files stay where they are (nothing is done with them).
        RunImport();
    } catch (const std::exception& e) {
        if (savedStderr >= 0) ::dup2(savedStderr, 2);
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
        return 1;
    }

    auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("EngineImport/200x1MB", EngineImport)->Unit(ms)->UseManualTime()->Iterations(3);
    benchmark::RegisterBenchmark("CurlUploads/200x1MB", CurlUploads)->Unit(ms)->UseManualTime()->Iterations(3);

    dmbench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double curl = reporter.Time("CurlUploads/200x1MB");
    reporter.PrintRatio("import_200x1MB_vs_plain_curl", reporter.Time("EngineImport/200x1MB"), curl);
    reporter.PrintRatio("import_200x1MB_uploads_vs_plain_curl",
                        reporter.Counter("EngineImport/200x1MB", "uploads_ms"), curl);

    w.Engine.reset();
    PumpUntil([] { return dm::WebActiveRequests() == 0; }, 10s);
    w.Service->Stop();
    if (savedStderr >= 0) ::dup2(savedStderr, 2);
    benchmark::Shutdown();
    return 0;
}
