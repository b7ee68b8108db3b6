// An InvoiceQuery that returns 10,000 invoices with their lines, through the stand-in's
// request processor (lock, state check, request parse, selection, response), beside pugixml
// serialising the same response document. Time and peak heap of each; the ratios are printed
// as "ratio NAME: X".

#include "TestSupport.h"
#include "qb/QbSimProcessor.h"
#include "qb/RequestProcessor.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <pugixml.hpp>
#include <string>

namespace {

// --- heap accounting: every allocation of the program, pugixml's included ---

std::size_t liveBytes = 0, peakBytes = 0;
constexpr std::size_t kHeader = 16;

void* CountedAlloc(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = size;
    liveBytes += size;
    if (liveBytes > peakBytes) peakBytes = liveBytes;
    return block + kHeader;
}

void CountedFree(void* pointer) {
    if (!pointer) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    liveBytes -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

// The heap a piece of work needs above what was live when it started.
class TPeakHeap {
public:
    TPeakHeap() : base_(liveBytes) { peakBytes = liveBytes; }
    double Megabytes() const { return static_cast<double>(peakBytes - base_) / (1024.0 * 1024.0); }

private:
    std::size_t base_;
};

struct TStringWriter : pugi::xml_writer {
    std::string Text;
    void write(const void* data, std::size_t size) override { Text.append(static_cast<const char*>(data), size); }
};

constexpr int kInvoices = 10000;

// One QuickBooks folder with a company of 10,000 invoices of three lines each, open, and a
// session on it.
struct TWorld {
    dmtest::TempDir Home;
    std::unique_ptr<dm::TQbSimRequestProcessor> Processor;
    std::string Ticket;
    std::string Request;
    std::string Response;
    pugi::xml_document ResponseDocument;

    TWorld() {
        dm::TCompanyFile file;
        file.Company.CompanyName = "Bench Co";
        const std::int64_t now = 1700000000;
        for (int c = 0; c < 50; ++c) {
            dm::TQbCustomer customer;
            customer.Name = "Customer " + std::to_string(c) + " & Sons";
            customer.BillAddress.Addr1 = std::to_string(c) + " Main Street";
            customer.BillAddress.City = "Springfield";
            file.AddCustomer(customer, now);
        }
        for (const char* item : {"Consulting", "Design", "Delivery"}) {
            dm::TQbItem it;
            it.Name = item;
            it.Desc = std::string(item) + " <per hour>";
            it.Price = 42.5;
            file.AddItem(it, now);
        }
        for (int i = 0; i < kInvoices; ++i) {
            dm::TQbInvoiceAdd add;
            add.Customer.FullName = "Customer " + std::to_string(i % 50) + " & Sons";
            add.RefNumber = std::to_string(10000 + i);
            add.Memo = "Invoice " + std::to_string(i);
            for (const char* item : {"Consulting", "Design", "Delivery"})
                add.Lines.push_back({{"", item}, "", 1.0 + i % 7, std::nullopt, std::nullopt});
            file.AddInvoice(add, now + i);
        }
        file.SetPermission(dm::kQbApplicationName, dm::TQbAccess::Granted, true);
        std::string path = Home.Folder() + "Bench Co.qbw";
        dm::TCompanyFileStore::Create(path, file);
        dm::TQuickBooksHome(Home.Folder()).OpenCompanyFile(path, false);

        Processor = std::make_unique<dm::TQbSimRequestProcessor>(Home.Folder());
        Processor->OpenConnection("", std::string(dm::kQbApplicationName));
        dm::SetQuickBooksAuthPreferences(*Processor);
        Ticket = Processor->BeginSession("", dm::kQbFileOpenDoNotCare);
        Request = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<?qbxml version=\"13.0\"?>\n<QBXML><QBXMLMsgsRq "
                  "onError=\"stopOnError\"><InvoiceQueryRq requestID=\"1\"><IncludeLineItems>true</IncludeLineItems>"
                  "</InvoiceQueryRq></QBXMLMsgsRq></QBXML>";
        Response = Processor->ProcessRequest(Ticket, Request); // also loads the file into the session
        if (!ResponseDocument.load_buffer(Response.data(), Response.size())) std::abort();
    }
};

TWorld& World() {
    static TWorld world;
    return world;
}

void BM_InvoiceQuery10k(benchmark::State& state) {
    TWorld& world = World();
    double peak = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        TPeakHeap heap;
        std::string response = world.Processor->ProcessRequest(world.Ticket, world.Request);
        peak = heap.Megabytes();
        bytes = response.size();
        benchmark::DoNotOptimize(response.data());
    }
    state.counters["peak_MB"] = peak;
    state.counters["response_MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_InvoiceQuery10k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Reference: pugixml writing the same response document, one element per line as ours.
void BM_PugixmlSave10k(benchmark::State& state) {
    TWorld& world = World();
    double peak = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        TPeakHeap heap;
        TStringWriter writer;
        world.ResponseDocument.save(writer, "", pugi::format_indent, pugi::encoding_utf8);
        peak = heap.Megabytes();
        bytes = writer.Text.size();
        benchmark::DoNotOptimize(writer.Text.data());
    }
    state.counters["peak_MB"] = peak;
    state.counters["response_MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_PugixmlSave10k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    struct TResult {
        double Time = 0, Peak = 0;
    };
    std::map<std::string, TResult> Results;

    // Without colours, so that the ratio lines start a line of their own.
    TRatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            TResult& r = Results[run.run_name.function_name];
            r.Time = run.GetAdjustedRealTime();
            auto peak = run.counters.find("peak_MB");
            if (peak != run.counters.end()) r.Peak = peak->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

void* operator new(std::size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

int main(int argc, char** argv) {
    pugi::set_memory_management_functions(CountedAlloc, CountedFree);
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& ours = reporter.Results["BM_InvoiceQuery10k"];
    const auto& reference = reporter.Results["BM_PugixmlSave10k"];
    if (ours.Time > 0 && reference.Time > 0) {
        std::printf("ratio invoice_query_10k_time_vs_pugixml_save: %.2f\n", ours.Time / reference.Time);
        std::printf("ratio invoice_query_10k_peak_heap_vs_pugixml_save: %.2f\n", ours.Peak / reference.Peak);
    }
    benchmark::Shutdown();
    return 0;
}
