// Parsing synthetic qbXML invoice answers of 1, 10 and 100 MB with TKvXML and, as the
// reference, with pugixml in the same run. Prints MB/s for both, the growth from 10 to 100 MB,
// the peak memory of a parse relative to its input, then "ratio kvxml/pugixml: X" (time-weighted
// over the three sizes) and one "ratio kvxml/pugixml_NMB: X" per size, each pugixml's time / ours.

#include "core/KvXml.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Invoice(int n) {
    std::string id = std::to_string(100000 + n);
    std::string s;
    s += "<InvoiceRet>\r\n<TxnID>" + id + "-1234567890</TxnID>\r\n<TimeCreated>2026-11-02T10:15:00-05:00</TimeCreated>\r\n"
         "<TimeModified>2026-11-02T10:15:00-05:00</TimeModified>\r\n<EditSequence>1234567890</EditSequence>\r\n"
         "<TxnNumber>" + std::to_string(n) + "</TxnNumber>\r\n<CustomerRef>\r\n<ListID>80000001-1234567890</ListID>\r\n"
         "<FullName>O&apos;Brien &amp; Sons</FullName>\r\n</CustomerRef>\r\n<TxnDate>2026-11-02</TxnDate>\r\n"
         "<RefNumber>" + id + "</RefNumber>\r\n<BillAddress>\r\n<Addr1>12 High Street</Addr1>\r\n<City>Springfield</City>\r\n"
         "<State>IL</State>\r\n<PostalCode>62701</PostalCode>\r\n</BillAddress>\r\n<IsPending>false</IsPending>\r\n"
         "<DueDate>2026-12-02</DueDate>\r\n<Subtotal>450.00</Subtotal>\r\n<BalanceRemaining>450.00</BalanceRemaining>\r\n"
         "<IsPaid>false</IsPaid>\r\n";
    for (int line = 1; line <= 3; ++line) {
        s += "<InvoiceLineRet>\r\n<TxnLineID>" + id + "-" + std::to_string(line) + "</TxnLineID>\r\n<ItemRef>\r\n"
             "<ListID>80000002-1234567890</ListID>\r\n<FullName>Consulting</FullName>\r\n</ItemRef>\r\n"
             "<Desc>Consulting services, hourly</Desc>\r\n<Quantity>1</Quantity>\r\n<Rate>150.00</Rate>\r\n"
             "<Amount>150.00</Amount>\r\n</InvoiceLineRet>\r\n";
    }
    s += "</InvoiceRet>\r\n";
    return s;
}

std::string Answer(size_t bytes) {
    std::string s = "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n<InvoiceQueryRs requestID=\"2\" "
                    "statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n";
    for (int n = 1; s.size() < bytes; ++n) s += Invoice(n);
    s += "</InvoiceQueryRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
    return s;
}

const std::string& Input(int megabytes) {
    static std::map<int, std::string> inputs;
    auto it = inputs.find(megabytes);
    if (it == inputs.end()) it = inputs.emplace(megabytes, Answer(size_t(megabytes) << 20)).first;
    return it->second;
}

std::map<std::pair<std::string, int>, double> secondsPerParse;

void Record(benchmark::State& state, const char* name, int mb, double seconds) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input(mb).size()));
    secondsPerParse[{name, mb}] = seconds / double(state.iterations());
}

void BM_KvXml(benchmark::State& state) {
    int mb = int(state.range(0));
    const std::string& input = Input(mb);
    double total = 0;
    for (auto _ : state) {
        std::string copy = input; // Parse takes its text; pugixml below copies too
        auto start = std::chrono::steady_clock::now();
        dm::TKvXML doc;
        doc.Parse(std::move(copy));
        benchmark::DoNotOptimize(doc.Root()->ChildCount());
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    Record(state, "kvxml", mb, total);
}

void BM_Pugixml(benchmark::State& state) {
    int mb = int(state.range(0));
    const std::string& input = Input(mb);
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        pugi::xml_document doc;
        doc.load_buffer(input.data(), input.size());
        benchmark::DoNotOptimize(doc.first_child());
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    Record(state, "pugixml", mb, total);
}

BENCHMARK(BM_KvXml)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Pugixml)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->MinTime(1.0);

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

// Peak resident memory added by one parse, measured in a child so that nothing else counts.
double PeakOverInput(bool kvxml, int mb) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        std::string input = Answer(size_t(mb) << 20);
        {
            std::ofstream reset("/proc/self/clear_refs");
            reset << "5"; // resets the peak to what is resident now
        }
        long before = StatusKb("VmRSS:");
        if (kvxml) {
            dm::TKvXML doc;
            doc.Parse(std::move(input));
            benchmark::DoNotOptimize(doc.Root());
        } else {
            pugi::xml_document doc;
            doc.load_buffer(input.data(), input.size());
            benchmark::DoNotOptimize(doc.first_child());
        }
        long peak = StatusKb("VmHWM:");
        double ratio = double(peak - before) * 1024.0 / double(size_t(mb) << 20);
        (void)!write(pipefd[1], &ratio, sizeof ratio);
        _exit(0);
    }
    double ratio = -1;
    (void)!read(pipefd[0], &ratio, sizeof ratio);
    waitpid(pid, nullptr, 0);
    close(pipefd[0]);
    close(pipefd[1]);
    return ratio;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (int mb : {1, 10, 100}) {
        double k = secondsPerParse[{"kvxml", mb}], p = secondsPerParse[{"pugixml", mb}];
        if (k <= 0 || p <= 0) continue;
        double size = double(Input(mb).size()) / 1e6;
        std::printf("%3d MB: kvxml %.0f MB/s, pugixml %.0f MB/s\n", mb, size / k, size / p);
    }
    double k10 = secondsPerParse[{"kvxml", 10}], k100 = secondsPerParse[{"kvxml", 100}];
    if (k10 > 0 && k100 > 0) std::printf("growth kvxml 100MB/10MB time: %.2fx (target at most 12x)\n", k100 / k10);
    // The input itself is resident throughout, so the peak is the input plus what the parse adds.
    double kvPeak = PeakOverInput(true, 100), pugiPeak = PeakOverInput(false, 100);
    std::printf("peak memory of a 100 MB parse, input included: kvxml %.2fx, pugixml %.2fx the input "
                "(target at most 5x)\n", 1 + kvPeak, 1 + pugiPeak);
    double kAll = 0, pAll = 0;
    for (int mb : {1, 10, 100}) {
        kAll += secondsPerParse[{"kvxml", mb}] / double(mb);
        pAll += secondsPerParse[{"pugixml", mb}] / double(mb);
    }
    if (kAll > 0) std::printf("ratio kvxml/pugixml: %.3f\n", pAll / kAll);
    // Each size on its own (target: at least 0.4 at every one).
    for (int mb : {1, 10, 100}) {
        double k = secondsPerParse[{"kvxml", mb}], p = secondsPerParse[{"pugixml", mb}];
        if (k > 0 && p > 0) std::printf("ratio kvxml/pugixml_%dMB: %.3f\n", mb, p / k);
    }
    return 0;
}
