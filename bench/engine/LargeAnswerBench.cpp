// One 50 MB qbXML answer carried through a sync session of the real engine, beside escaping
// the same answer and posting the same bytes with plain libcurl (with the session's other
// requests around it) to the same peer in the same run. Time and peak memory of each.
//
// The answer is an InvoiceQuery response with line items that the QuickBooks stand-in wrote for
// a company file of a few thousand invoices; it is made once, before the run, in a child
// process. During a session the request processor is the stand-in's, except that an
// InvoiceQuery is answered with those bytes, read when QuickBooks is asked.
//
// The peer of the session's SOAP requests runs in a process of its own, so that what it keeps
// does not count as the engine's memory: the local service. With --sync=own it is instead a
// sync endpoint made here for one InvoiceQuery step, which parses the envelope and the answer
// in it as the local service does (useful to tell the service's own time from the engine's).
// --answer-mb=N makes an answer of about N MiB. The account confirmation always goes to the
// local service.
//
// Times run from the authentication request to the end of the session (the start timer's half
// second before it is left out); quickbooks_ms is the part spent inside the request processor,
// reading the answer. Peak memory is this process's VmHWM, reset through /proc/self/clear_refs
// before each session; added_MB is the part above the resident size at the start.
// EngineLargeAnswerNoLog is the same session with the activity log off. Printed last, with
// X = engine / reference:
//   ratio large_answer_time: X                        (target: at most 3)
//   ratio large_answer_time_without_quickbooks: X
//   ratio large_answer_peak_memory_vs_answer: X       (engine's VmHWM / answer size; target: at most 5)
//   ratio large_answer_added_memory_vs_answer: X
//   ratio large_answer_peak_memory_vs_reference: X    (engine's VmHWM / the reference's)

#include "EngineBench.h"

#include "TestSupport.h"
#include "core/General.h"
#include "qb/QbSimProcessor.h"
#include "qb/QuickBooksHome.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <httplib.h>
#include <pugixml.hpp>

#include <QCoreApplication>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The answer's size in MiB, 50 unless --answer-mb= says otherwise.
double answerMegabytes = 50;
constexpr int LinesPerInvoice = 25;

struct TWorld {
    dmtest::TempDir Dir;
    std::string AnswerFile;
    size_t AnswerSize = 0;
    std::string QbHome;
    std::string Storage;
    std::unique_ptr<QProcess> Service;
    std::string ServiceBase; // the local service
    std::string SyncBase;    // where the session's SOAP requests go
    pid_t Endpoint = -1;
    std::unique_ptr<dmbench::TEngineRig> Rig;
    std::vector<dmbench::TExchange> Exchanges;
};
TWorld* world = nullptr;

dm::TCompanyFile WholesaleCompany(int invoices) {
    dm::TCompanyFile file;
    file.Company.CompanyName = "Wholesale Co";
    const std::int64_t now = 1700000000;
    for (int c = 0; c < 200; ++c) {
        dm::TQbCustomer customer;
        customer.Name = "Customer " + std::to_string(c) + " & Sons";
        customer.BillAddress.Addr1 = std::to_string(c) + " Harbour Road";
        customer.BillAddress.City = "Portsmouth";
        customer.BillAddress.PostalCode = "03801";
        customer.Email = "ap" + std::to_string(c) + "@example.com";
        file.AddCustomer(customer, now);
    }
    for (int p = 0; p < 30; ++p) {
        dm::TQbItem item;
        item.Name = "Part " + std::to_string(p);
        item.Desc = "Part " + std::to_string(p) + " <boxed, 12 per case>";
        item.Price = 3.25 + p;
        file.AddItem(item, now);
    }
    for (int i = 0; i < invoices; ++i) {
        dm::TQbInvoiceAdd add;
        add.Customer.FullName = "Customer " + std::to_string(i % 200) + " & Sons";
        add.RefNumber = std::to_string(100000 + i);
        add.TxnDate = "2024-03-01";
        add.DueDate = "2024-03-31";
        add.Memo = "Order " + std::to_string(i) + " & delivery";
        for (int l = 0; l < LinesPerInvoice; ++l) {
            dm::TQbInvoiceLineAdd line;
            line.Item.FullName = "Part " + std::to_string((i + l) % 30);
            line.Desc = "Part " + std::to_string((i + l) % 30) + " <boxed>, lot " + std::to_string(i * 31 + l);
            line.Quantity = 1.0 + l % 5;
            add.Lines.push_back(line);
        }
        file.AddInvoice(add, now + i);
    }
    file.SetPermission(dm::kQbApplicationName, dm::TQbAccess::Granted, true);
    return file;
}

// What the stand-in answers to an InvoiceQuery with line items for the whole company file.
std::string InvoiceAnswer(const std::string& home, int invoices) {
    std::filesystem::create_directories(home);
    std::string path = home + "Wholesale Co.qbw";
    dm::TCompanyFileStore::Create(path, WholesaleCompany(invoices));
    dm::TQuickBooksHome(home).OpenCompanyFile(path, false);
    dm::TQbSimRequestProcessor processor(home);
    processor.OpenConnection("", std::string(dm::kQbApplicationName));
    dm::SetQuickBooksAuthPreferences(processor);
    std::string ticket = processor.BeginSession("", dm::kQbFileOpenDoNotCare);
    std::string answer = processor.ProcessRequest(
        ticket, "<?xml version=\"1.0\" encoding=\"utf-8\"?><?qbxml version=\"13.0\"?><QBXML><QBXMLMsgsRq "
                "onError=\"stopOnError\"><InvoiceQueryRq requestID=\"2\"><IncludeLineItems>true</IncludeLineItems>"
                "</InvoiceQueryRq></QBXMLMsgsRq></QBXML>");
    processor.EndSession(ticket);
    processor.CloseConnection();
    return answer;
}

// In a child process, so that none of the memory it took stays resident in this one.
void MakeAnswer() {
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int code = 0;
        try {
            constexpr int Sample = 40;
            size_t perInvoice = InvoiceAnswer(world->Dir.Folder() + "sample/", Sample).size() / Sample;
            auto target = static_cast<size_t>(answerMegabytes * (1 << 20));
            int invoices = std::max(1, static_cast<int>((target + perInvoice - 1) / perInvoice));
            dmbench::WriteFile(world->AnswerFile, InvoiceAnswer(world->Dir.Folder() + "wholesale/", invoices));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "making the answer failed: %s\n", e.what());
            code = 1;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the answer was not made");
    world->AnswerSize = std::filesystem::file_size(world->AnswerFile);
}

// --- The sync endpoint of the session ----------------------------------------------------------

const char* const SoapHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
                             "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>";
const char* const SoapTail = "</soap:Body></soap:Envelope>";
const char* const ConnectorNamespace = "http://developer.intuit.com/";
const char* const InvoiceQuery = "<?xml version=\"1.0\" encoding=\"utf-8\"?><?qbxml version=\"13.0\"?><QBXML>"
                                 "<QBXMLMsgsRq onError=\"stopOnError\"><InvoiceQueryRq requestID=\"1\">"
                                 "<IncludeLineItems>true</IncludeLineItems></InvoiceQueryRq></QBXMLMsgsRq></QBXML>";

std::string Operation(const std::string& name, const std::string& content) {
    return "<" + name + "Response xmlns=\"" + ConnectorNamespace + "\">" + content + "</" + name + "Response>";
}

std::string SoapFault(const std::string& message) {
    return "<soap:Fault><faultcode>soap:Client</faultcode><faultstring>" + dm::HtmlEscape(message) +
           "</faultstring></soap:Fault>";
}

// The service's side of a session whose one step is the InvoiceQuery: what the local service
// answers, reduced to that step, with the envelope and the answer inside it parsed as the
// service parses them. It records the requests in the local service's form, so that the
// reference replays them the same way. Runs in a process of its own, like the service.
void ServeSyncEndpoint(int portPipe) {
    httplib::Server server;
    std::mutex mutex;
    nlohmann::json records = nlohmann::json::array();
    int tickets = 0;
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(std::size_t(1) << 31);
    server.Post("/webservices/quickbooks.php", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        std::string operation, content;
        int status = 200;
        pugi::xml_document doc;
        pugi::xml_node op;
        if (doc.load_buffer(req.body.data(), req.body.size()))
            op = doc.document_element().child("soap:Body").find_child(
                [](const pugi::xml_node& n) { return n.type() == pugi::node_element; });
        if (op) operation = op.name();
        if (!op || op.attribute("xmlns").as_string() != std::string(ConnectorNamespace)) {
            status = 400;
            content = SoapFault("not a SOAP envelope with a Web Connector operation");
        } else if (operation == "authenticate") {
            content = Operation(operation, "<authenticateResult><string>" + std::to_string(++tickets) +
                                               "-large</string><string></string></authenticateResult>");
        } else if (operation == "sendRequestXML") {
            content = "<dm><client_message>Reading invoices from QuickBooks...</client_message></dm>" +
                      Operation(operation, "<sendRequestXMLResult>" + dm::HtmlEscape(InvoiceQuery) +
                                               "</sendRequestXMLResult>");
        } else if (operation == "receiveResponseXML") {
            pugi::xml_document answer;
            bool read = answer.load_string(op.child("response").child_value()) &&
                        answer.child("QBXML").child("QBXMLMsgsRs").child("InvoiceQueryRs").attribute("statusCode").as_int(-1) == 0;
            if (read) {
                content = Operation(operation, "<receiveResponseXMLResult>100</receiveResponseXMLResult>");
            } else {
                status = 400;
                content = SoapFault("the QuickBooks response is not an InvoiceQuery answer");
            }
        } else if (operation == "closeConnection") {
            content = Operation(operation, "<closeConnectionResult>OK</closeConnectionResult>");
        } else {
            status = 400;
            content = SoapFault("unexpected operation " + operation);
        }
        records.push_back({{"path", req.path},
                           {"endpoint", "webservices/quickbooks.php"},
                           {"operation", operation},
                           {"status", status},
                           {"headers", {{"content-type", req.get_header_value("Content-Type")}}},
                           {"body", req.body}});
        res.status = status;
        res.set_content(SoapHead + content + SoapTail, "text/xml; charset=utf-8");
    });
    server.Get("/_test/requests", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(mutex);
        res.set_content(records.dump(), "application/json");
    });
    server.Post("/_test/reset", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(mutex);
        records = nlohmann::json::array();
        res.set_content("{}", "application/json");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    if (::write(portPipe, &port, sizeof port) != sizeof port) return;
    ::close(portPipe);
    if (port > 0) server.listen_after_bind();
}

void StartSyncEndpoint() {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        try {
            ServeSyncEndpoint(fds[1]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "sync endpoint: %s\n", e.what());
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    int port = 0;
    bool read = ::read(fds[0], &port, sizeof port) == sizeof port;
    ::close(fds[0]);
    world->Endpoint = child;
    if (!read || port <= 0) throw std::runtime_error("the sync endpoint did not start");
    world->SyncBase = "http://127.0.0.1:" + std::to_string(port) + "/";
}

// The local service: the account confirmation before the sessions, and the sessions themselves
// unless --sync=own.
void StartService(const std::string& binDir) {
    nlohmann::json account = {{"user", "demo"}, {"password", "demo"}, {"name", "Demo Co"},
                              {"id", "1001"},   {"payment_notifications", false}};
    std::string scenario = world->Dir.Folder() + "scenario.json";
    dmbench::WriteFile(scenario, nlohmann::json{{"accounts", {account}}}.dump());
    world->Service = std::make_unique<QProcess>();
    world->Service->setStandardErrorFile(QString::fromStdString(world->Dir.Folder() + "service.log"));
    world->Service->start(QString::fromStdString(binDir + "/invara-testservice"),
                          {"--port", "0", "--scenario", QString::fromStdString(scenario)});
    if (!world->Service->waitForStarted(10000)) throw std::runtime_error("invara-testservice did not start");
    std::string line;
    while (line.find('\n') == std::string::npos && world->Service->waitForReadyRead(10000))
        line += world->Service->readAllStandardOutput().toStdString();
    const std::string marker = "http://localhost:";
    size_t at = line.find(marker);
    if (at == std::string::npos) throw std::runtime_error("invara-testservice did not say where it listens");
    world->ServiceBase = "http://127.0.0.1:" + std::to_string(std::stoi(line.substr(at + marker.size()))) + "/";
}

// The world outlives the application object (it is made before it), so what needs Qt goes first.
void TearDown() {
    world->Rig.reset();
    if (world->Service) {
        world->Service->terminate();
        if (!world->Service->waitForFinished(10000)) {
            world->Service->kill();
            world->Service->waitForFinished(10000);
        }
        world->Service.reset();
    }
    if (world->Endpoint > 0) {
        ::kill(world->Endpoint, SIGTERM);
        ::waitpid(world->Endpoint, nullptr, 0);
        world->Endpoint = -1;
    }
}

double Megabytes(long kb) { return static_cast<double>(kb) / 1024.0; }

void EngineSession(benchmark::State& state, bool noLogs) {
    double quickBooks = 0, peak = 0, added = 0;
    world->Rig->Engine().Options.NoLogs = noLogs;
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->SyncBase);
            dmbench::RemoveRotatedLogs(world->Storage);
            dmbench::TrimHeap();
            dmbench::ResetPeak();
            long start = dmbench::StatusKb("VmRSS");
            dmbench::TSessionTimes t = world->Rig->RunSession();
            long high = dmbench::StatusKb("VmHWM");
            state.SetIterationTime(t.Session);
            quickBooks += t.QuickBooks;
            peak = std::max(peak, Megabytes(high));
            added = std::max(added, Megabytes(high - start));
        }
    } catch (const std::exception& e) {
        world->Rig->Engine().Options.NoLogs = false;
        state.SkipWithError(e.what());
        return;
    }
    world->Rig->Engine().Options.NoLogs = false;
    state.counters["quickbooks_ms"] = quickBooks / static_cast<double>(state.iterations()) * 1e3;
    state.counters["peak_MB"] = peak;
    state.counters["added_MB"] = added;
    state.counters["answer_MB"] = static_cast<double>(world->AnswerSize) / (1 << 20);
}

void EngineLargeAnswer(benchmark::State& state) { EngineSession(state, false); }
void EngineLargeAnswerNoLog(benchmark::State& state) { EngineSession(state, true); }

// The reference: the answer escaped and posted, with the session's other requests around it.
void ReplayLargeAnswer(benchmark::State& state) {
    double peak = 0, added = 0;
    try {
        for (auto _ : state) {
            dmbench::ResetService(world->SyncBase);
            std::string answer = dmbench::ReadFile(world->AnswerFile);
            dmbench::TrimHeap();
            dmbench::ResetPeak();
            long start = dmbench::StatusKb("VmRSS");
            auto begin = dmbench::Clock::now();
            dmbench::Replay(world->SyncBase, world->Exchanges, &answer);
            state.SetIterationTime(std::chrono::duration<double>(dmbench::Clock::now() - begin).count());
            long high = dmbench::StatusKb("VmHWM");
            peak = std::max(peak, Megabytes(high));
            added = std::max(added, Megabytes(high - start));
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["peak_MB"] = peak;
    state.counters["added_MB"] = added;
    state.counters["answer_MB"] = static_cast<double>(world->AnswerSize) / (1 << 20);
}

} // namespace

int main(int argc, char** argv) {
    // Our own switches, taken out before Google Benchmark reads the rest:
    //   --sync=own        the session against a sync endpoint of this program's own
    //   --answer-mb=N     an answer of about N MiB (fractions allowed) instead of 50
    bool againstService = true;
    for (int i = 1; i < argc;) {
        std::string arg = argv[i];
        if (arg == "--sync=own") {
            againstService = false;
        } else if (arg.rfind("--answer-mb=", 0) == 0) {
            answerMegabytes = std::atof(arg.c_str() + 12);
            if (answerMegabytes <= 0) {
                std::fprintf(stderr, "--answer-mb= wants a positive number\n");
                return 2;
            }
        } else {
            ++i;
            continue;
        }
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
    }
    TWorld w;
    world = &w;
    try {
        // Before Qt, libcurl or any thread exists in this process.
        w.AnswerFile = w.Dir.Folder() + "answer.xml";
        MakeAnswer();
        if (!againstService) StartSyncEndpoint();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
        TearDown();
        return 1;
    }
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    long residentAtStart = dmbench::StatusKb("VmRSS");
    try {
        std::string binDir = QCoreApplication::applicationDirPath().toStdString();
        w.QbHome = w.Dir.Folder() + "qb/";
        std::filesystem::create_directories(w.QbHome);
        if (QProcess::execute(QString::fromStdString(binDir + "/invara-qbsim"),
                              {"--home", QString::fromStdString(w.QbHome), "demo"}) != 0)
            throw std::runtime_error("invara-qbsim demo failed");
        w.Storage = w.Dir.Folder() + "store/";
        std::filesystem::create_directories(w.Storage);
        StartService(binDir);
        if (againstService) w.SyncBase = w.ServiceBase;
        w.Rig = std::make_unique<dmbench::TEngineRig>(
            w.ServiceBase, w.Storage, w.QbHome, w.AnswerFile,
            againstService ? std::string() : w.SyncBase + "webservices/quickbooks.php");
        // One session to warm up and to record the exchanges that the reference sends.
        dmbench::ResetService(w.SyncBase);
        w.Rig->RunSession();
        size_t envelope = 0;
        {
            std::string answer = dmbench::ReadFile(w.AnswerFile);
            w.Exchanges = dmbench::RecordSession(w.SyncBase, &answer);
            for (const dmbench::TExchange& e : w.Exchanges)
                if (e.CarriesAnswer)
                    envelope = e.Head.size() + e.Tail.size() + dm::HtmlEscape(answer).size() + e.AnswerTail.size();
        }
        dmbench::TrimHeap();
        std::printf("answer: %zu bytes, in its envelope: %zu bytes; session against %s: %zu requests\n"
                    "resident: %.1f MB at the start, %.1f MB before the runs\n",
                    w.AnswerSize, envelope, againstService ? "the local service" : "the sync endpoint",
                    w.Exchanges.size(), Megabytes(residentAtStart), Megabytes(dmbench::StatusKb("VmRSS")));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set-up failed: %s\n", e.what());
        TearDown();
        return 1;
    }

    auto ms = benchmark::kMillisecond;
    char size[32];
    std::snprintf(size, sizeof size, "/%gMB", answerMegabytes);
    const std::string engine = std::string("EngineLargeAnswer") + size, reference = std::string("ReplayLargeAnswer") + size;
    benchmark::RegisterBenchmark(engine.c_str(), EngineLargeAnswer)->Unit(ms)->UseManualTime()->Iterations(4);
    benchmark::RegisterBenchmark(reference.c_str(), ReplayLargeAnswer)->Unit(ms)->UseManualTime()->Iterations(4);
    benchmark::RegisterBenchmark((std::string("EngineLargeAnswerNoLog") + size).c_str(), EngineLargeAnswerNoLog)
        ->Unit(ms)
        ->UseManualTime()
        ->Iterations(4);

    dmbench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double answerMb = static_cast<double>(w.AnswerSize) / (1 << 20);
    reporter.PrintRatio("large_answer_time", reporter.Time(engine), reporter.Time(reference));
    reporter.PrintRatio("large_answer_time_without_quickbooks",
                        reporter.Time(engine) - reporter.Counter(engine, "quickbooks_ms"), reporter.Time(reference));
    reporter.PrintRatio("large_answer_peak_memory_vs_answer", reporter.Counter(engine, "peak_MB"), answerMb);
    reporter.PrintRatio("large_answer_added_memory_vs_answer", reporter.Counter(engine, "added_MB"), answerMb);
    reporter.PrintRatio("large_answer_peak_memory_vs_reference", reporter.Counter(engine, "peak_MB"),
                        reporter.Counter(reference, "peak_MB"));

    TearDown();
    dm::WebShutdown();
    curl_global_cleanup();
    benchmark::Shutdown();
    return 0;
}
