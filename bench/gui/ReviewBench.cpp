// The review of 100,000 new invoices: the dialog's resident memory while it opens, scrolls
// through the list and applies every order, against the size of the files it reads (it must
// grow by less: the invoices stay in the files); and a column click on 100,000 rows against
// the reset of a bare list view over a model with as many rows and nothing behind them, in
// the same run.
// Printed last: "ratio review_rss_growth/files_size: X" and "ratio column_click/bare_view_reset: X",
// with the absolute figures and their targets (memory below the files' size, a click below 0.2 s).

#include "core/KvXml.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UnsentInvoices.h"
#include "engine/UserPrompts.h"
#include "gui/invoices/UnsentInvoices.h"

#include <benchmark/benchmark.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int InvoiceCount = 100000;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

class TNoPrompts : public dm::TUserPrompts {
public:
    void ShowMessage(const std::string&) override {}
    std::optional<dm::TCredentials> AskCredentials(const std::string&, const dm::TCredentials&) override { return {}; }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string&, const std::string&, const std::string&) override {
        return dm::TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const dm::TPopupSpec&) override {}
};

// The service's element for n invoices, with orders that are not the identity.
std::string UnsentInvoicesXml(int n) {
    std::string lines, byCustomer, byAmount, byBalance;
    lines.reserve(static_cast<size_t>(n) * 90);
    for (int k = 0; k < n; ++k) {
        if (k) {
            lines += "\r\n";
            byCustomer += ',';
            byAmount += ',';
            byBalance += ',';
        }
        lines += std::to_string(500000 + k) + "\t" + std::to_string(k % 3) + "\t" + std::to_string(10000 + k) +
                 "\tCustomer number " + std::to_string((k * 7919) % n) + "\t$" + std::to_string(k % 5000) + ".00\t$" +
                 std::to_string(k % 700) + ".50\t2024-04-01\t" + std::to_string(k % 4);
        byCustomer += std::to_string(n - 1 - k);
        byAmount += std::to_string((k * 2) % n + (k * 2 >= n ? 1 : 0));
        byBalance += std::to_string((k + n / 2) % n);
    }
    return "<?xml version=\"1.0\"?><dm><unsent_invoices><invoices>" + lines + "</invoices><order_customer>" + byCustomer +
           "</order_customer><order_amount>" + byAmount + "</order_amount><order_balance>" + byBalance +
           "</order_balance></unsent_invoices></dm>";
}

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

struct TReview {
    fs::path work;
    dm::TAppState app;
    TNoPrompts prompts;
    std::unique_ptr<dm::TMainEngine> engine;
    dm::TSync* frame = nullptr;
    std::unique_ptr<dm::TUnsentInvoiceFiles> files;
    std::unique_ptr<dm::TUnsentInvoices> dialog;
    long long fileBytes = 0;

    explicit TReview(int invoices) {
        work = fs::temp_directory_path() / ("dmbench-review-" + std::to_string(getpid()) + "-" + std::to_string(invoices));
        fs::create_directories(work);
        app.BaseUrl = "http://127.0.0.1:9/"; // the account confirmation goes nowhere
        dm::ComposeUrls(app);
        app.StorageFolder = work.string() + "/";
        engine = std::make_unique<dm::TMainEngine>(app, prompts);
        dm::BillerRecord r;
        r.name = "Demo Co";
        r.id = "1001";
        frame = engine->AddBiller(r);
        files = std::make_unique<dm::TUnsentInvoiceFiles>(app.StorageFolder);
        {
            dm::TKvXML doc;
            doc.Parse(UnsentInvoicesXml(invoices));
            if (files->Write(*doc.Root()->FindChild("unsent_invoices")) != invoices) std::abort();
        }
        for (int order = -1; order <= 3; ++order) fileBytes += static_cast<long long>(fs::file_size(files->FileName(order)));
        malloc_trim(0); // what the writing freed is not the dialog's
    }
    void Open() {
        dialog = std::make_unique<dm::TUnsentInvoices>(*frame, *files, true);
        dialog->resize(700, 800);
        dialog->show();
        Settle();
    }
    void ScrollAndOrder() {
        QScrollBar* bar = dialog->lbxInvoices->verticalScrollBar();
        for (int step = 0; step <= 50; ++step) {
            bar->setValue(bar->maximum() * step / 50);
            Settle();
        }
        for (int column : {1, 2, 3, 0, 2}) {
            dialog->lbxInvoicesColumnClick(column);
            bar->setValue(bar->maximum() / 2);
            Settle();
        }
    }
    ~TReview() {
        dialog.reset();
        files.reset();
        engine.reset();
        fs::remove_all(work);
    }
};

// A model with the rows and nothing behind them: the least a list view's reset can cost.
class TBareModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : InvoiceCount; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 5; }
    QVariant data(const QModelIndex&, int role) const override {
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("x")) : QVariant();
    }
    void Reset() {
        beginResetModel();
        endResetModel();
    }
};

long rssGrowthKb = -1;
long long filesBytes = 0;
double clickSeconds = 0, bareSeconds = 0;

void BM_ReviewMemory(benchmark::State& state) {
    {
        TReview warm(10); // fonts, style and the platform are loaded once, not by the review
        warm.Open();
    }
    for (auto _ : state) {
        TReview review(InvoiceCount);
        const long before = ResidentKb();
        review.Open();
        review.ScrollAndOrder();
        rssGrowthKb = ResidentKb() - before;
        filesBytes = review.fileBytes;
    }
    state.counters["rss_growth_kb"] = static_cast<double>(rssGrowthKb);
    state.counters["files_kb"] = static_cast<double>(filesBytes) / 1024;
}

void BM_ColumnClick(benchmark::State& state) {
    TReview review(InvoiceCount);
    review.Open();
    int column = 0;
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        review.dialog->lbxInvoicesColumnClick(++column % 4);
        Settle(); // the rows on screen are fetched and drawn again
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        total += s;
    }
    clickSeconds = total / static_cast<double>(state.iterations());
}

void BM_BareViewReset(benchmark::State& state) {
    TBareModel model;
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.resize(700, 600);
    view.show();
    Settle();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        model.Reset();
        Settle();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        total += s;
    }
    bareSeconds = total / static_cast<double>(state.iterations());
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::RegisterBenchmark("Review/100000/memory", BM_ReviewMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Review/100000/column_click", BM_ColumnClick)
        ->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BareView/100000/reset", BM_BareViewReset)
        ->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    std::printf("review of %d invoices: resident memory grew by %.1f MB while opening, scrolling and ordering; the files "
                "hold %.1f MB (target: less)\n",
                InvoiceCount, rssGrowthKb / 1024.0, filesBytes / 1048576.0);
    std::printf("column click on %d rows: %.1f ms (target below 200 ms); bare list view reset %.1f ms\n", InvoiceCount,
                clickSeconds * 1e3, bareSeconds * 1e3);
    std::printf("ratio review_rss_growth/files_size: %.3f\n", rssGrowthKb * 1024.0 / static_cast<double>(filesBytes));
    std::printf("ratio column_click/bare_view_reset: %.3f\n", clickSeconds / bareSeconds);
    return 0;
}
