// The invoice file import of a biller without QuickBooks, end to end: the real engine against
// the real local service over loopback, with real files in a temporary import folder.

#include "SessionFixture.h"

#include "engine/ImportInvoices.h"

#include <sys/stat.h>

#include <fstream>
#include <map>

using namespace dm;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using dmtest::SessionFixture;

json EziAccount(json import = json::object(), const std::string& password = "demo") {
    json a = {{"user", "demo"}, {"password", password}, {"name", "Ezi Co"}, {"id", "2001"}, {"type", "ezi"}};
    if (!import.empty()) a["import"] = import;
    return a;
}

std::string Csv(std::initializer_list<std::string> numbers) {
    std::string text = "number,customer,amount,due\r\n";
    for (const std::string& n : numbers) text += n + ",Acme,10.00,2024-05-01\r\n";
    return text;
}

// One import session: the service, the folders, the biller and what the session showed.
struct ImportRun {
    SessionFixture f;
    fs::path in, done;
    QPointer<TSync> frame; // null once the biller is removed
    std::vector<std::string> statuses; // every status line, in order
    std::map<std::string, int> percentAt; // the progress when a status line was shown
    std::function<void(const std::string&)> onStatus;

    explicit ImportRun(json account = EziAccount(), json faults = json::array())
        : f(std::move(faults), json::array({std::move(account)})) {
        in = f.dir.Path() / "in";
        done = f.dir.Path() / "done";
        fs::create_directories(in);
        QObject::connect(f.engine.get(), &TMainEngine::logged, [this](const std::string&, const std::string& m) {
            if (m.rfind("Web response", 0) == 0) return;
            statuses.push_back(m);
            if (frame) percentAt[m] = frame->Percentage;
            if (onStatus) onStatus(m);
        });
    }

    // Adds the biller with these import settings and waits for its account confirmation.
    TSync* Biller(int afterImporting = aiNothing, std::string folder = {}, std::string moveTo = {},
                  std::string executeAfter = {}, std::string password = "demo") {
        BillerRecord r;
        r.type = "ezi";
        r.name = "Ezi Co";
        r.id = "2001";
        r.username = "demo";
        r.password = password;
        r.smartsync = false;
        r.invoiceimportimportdirectory = folder.empty() ? in.string() + "/" : folder;
        r.invoiceimportafterimporting = afterImporting;
        r.invoiceimportmovetodirectory = moveTo;
        r.invoiceimportexecuteafter = executeAfter;
        frame = f.engine->AddBiller(r);
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !frame->Confirming; }));
        return frame;
    }

    void Write(const std::string& name, const std::string& bytes) { dmtest::WriteFileBytes(in / name, bytes); }

    bool Sync() { return f.Sync(frame); }

    // The biller operations the service received, in order ("startupload" and blocks left out).
    std::vector<std::string> Operations() {
        std::vector<std::string> ops;
        for (const json& r : f.Posts("webservices/service.php")) {
            std::string op = r.value("operation", "");
            if (op != "startupload") ops.push_back(op);
        }
        return ops;
    }
    std::vector<std::string> Bodies(const std::string& operation) {
        std::vector<std::string> out;
        for (const json& r : f.Posts("webservices/service.php"))
            if (r.value("operation", "") == operation) out.push_back(r.value("body", ""));
        return out;
    }
    json State() {
        httplib::Client client("127.0.0.1", f.service->Port());
        auto r = client.Get("/_test/state");
        return r ? json::parse(r->body) : json::object();
    }
    // What the service received of each file, by the name the agent announced.
    std::map<std::string, std::string> Received() {
        std::map<std::string, std::string> out;
        httplib::Client client("127.0.0.1", f.service->Port());
        const json state = State();
        for (const auto& [id, upload] : state["uploads"].items()) {
            auto r = client.Get("/_test/upload?id=" + id);
            if (r && upload.value("complete", false)) out[upload.value("filename", "")] = r->body;
        }
        return out;
    }
    std::vector<std::string> Imported() {
        std::vector<std::string> numbers;
        const json state = State();
        for (const json& inv : state["accounts"][0]["invoices"])
            if (inv.value("imported", false)) numbers.push_back(inv.value("number", ""));
        return numbers;
    }
    bool Shown(const std::string& status) const {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }
};

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

void ExpectSucceeded(const TSync* frame) {
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    EXPECT_TRUE(frame->CloseReceived);
    EXPECT_EQ(frame->Percentage, 100);
    EXPECT_EQ(frame->StatusDetail, "Done.");
    EXPECT_EQ(frame->Phase, TSync::phIdle);
}

} // namespace

TEST(Import, ThreeFilesAreSentReadAndImportedWithTheStatusSequence) {
    // With and without the folder's trailing "/": the same import.
    for (bool slash : {true, false}) {
        SCOPED_TRACE(slash ? "folder with /" : "folder without /");
        ImportRun run(EziAccount({{"pdfs", false}}));
        // The last file is three blocks long (the service skips its blank lines).
        const std::map<std::string, std::string> files = {
            {"a.csv", Csv({"101"})}, {"b.csv", Csv({"102"})}, {"c.csv", Csv({"103"}) + std::string(240000, '\n')}};
        for (const auto& [name, bytes] : files) run.Write(name, bytes);
        run.Write("notes.txt", "not an invoice file");
        run.Biller(aiNothing, slash ? run.in.string() + "/" : run.in.string());
        ASSERT_TRUE(run.Sync());
        ExpectSucceeded(run.frame);

        EXPECT_EQ(Matching(run.statuses, "Sending"),
                  (std::vector<std::string>{"Sending 3 files...", "Sending file 1 of 3...", "Sending file 2 of 3...",
                                            "Sending file 3 of 3..."}));
        EXPECT_TRUE(run.Shown("Reading import..."));
        EXPECT_EQ(run.percentAt["Reading import..."], 10);
        std::vector<std::string> importing = Matching(run.statuses, "Importing invoice ");
        std::sort(importing.begin(), importing.end()); // the files go in the order the folder lists them
        EXPECT_EQ(importing, (std::vector<std::string>{"Importing invoice 101...", "Importing invoice 102...",
                                                       "Importing invoice 103..."}));
        EXPECT_EQ(run.statuses.back(), "Done.");

        // Byte for byte what lies in the folder, under the names the read request gives.
        std::map<std::string, std::string> received = run.Received();
        ASSERT_EQ(received.size(), 3u);
        for (const auto& [name, bytes] : files) EXPECT_EQ(received[(run.in / name).string()], bytes) << name;
        std::vector<std::string> reads = run.Bodies("invoiceimportreadfiles");
        ASSERT_EQ(reads.size(), 1u);
        for (const auto& [name, bytes] : files)
            EXPECT_NE(reads[0].find("<filename>" + (run.in / name).string() + "</filename>"), std::string::npos);
        std::vector<std::string> imported = run.Imported();
        std::sort(imported.begin(), imported.end());
        EXPECT_EQ(imported, (std::vector<std::string>{"101", "102", "103"}));
        // Nothing was asked to happen to the files.
        EXPECT_TRUE(fs::exists(run.in / "a.csv") && fs::exists(run.in / "b.csv") && fs::exists(run.in / "c.csv"));
        // The envelope names the biller by its user name, the start carries the build.
        std::vector<std::string> starts = run.Bodies("invoiceimportstart");
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_NE(starts[0].find("<authenticate><id>demo</id><password>demo</password></authenticate>"
                                 "<invoiceimportstart><dm><build>1</build></dm></invoiceimportstart>"),
                  std::string::npos);
    }
}

TEST(Import, OneFileAndNoFile) {
    {
        // A name with the characters XML escapes goes through announcement and reading intact.
        ImportRun run(EziAccount({{"pdfs", false}}));
        const std::string name = "R&D <Q3> \"final\".csv";
        run.Write(name, Csv({"7"}));
        run.Biller();
        ASSERT_TRUE(run.Sync());
        ExpectSucceeded(run.frame);
        EXPECT_EQ(Matching(run.statuses, "Sending"), (std::vector<std::string>{"Sending 1 file... ", "Sending file..."}));
        EXPECT_EQ(run.Received()[(run.in / name).string()], Csv({"7"}));
        EXPECT_EQ(run.Imported(), (std::vector<std::string>{"7"}));
    }
    {
        ImportRun run;
        run.Write("readme.txt", "no invoices here");
        run.Biller();
        ASSERT_TRUE(run.Sync());
        EXPECT_TRUE(run.frame->HadErrors);
        EXPECT_EQ(run.frame->ErrorText, ImportNoFiles);
        EXPECT_FALSE(run.frame->CloseReceived);
        EXPECT_EQ(run.Operations(), (std::vector<std::string>{"invoiceimportstart"}));
    }
}

TEST(Import, RefusalsEndTheSession) {
    {
        // A wrong password: the service answers 403.
        ImportRun run;
        run.Write("a.csv", Csv({"1"}));
        run.Biller(aiNothing, {}, {}, {}, "wrong");
        ASSERT_TRUE(run.Sync());
        EXPECT_TRUE(run.frame->HadErrors);
        EXPECT_EQ(run.frame->ErrorText, ImportLoginRefused);
        EXPECT_TRUE(fs::exists(run.in / "a.csv"));
    }
    {
        ImportRun run(EziAccount({{"refuse_message", "Imports are paused & resume tomorrow."}}));
        run.Write("a.csv", Csv({"1"}));
        run.Biller(aiDelete);
        ASSERT_TRUE(run.Sync());
        ASSERT_EQ(run.f.prompts.messages.size(), 1u);
        EXPECT_EQ(run.f.prompts.messages[0], "Imports are paused & resume tomorrow.");
        // The strip says what happened rather than "completed successfully".
        EXPECT_TRUE(run.frame->HadErrors);
        EXPECT_EQ(run.frame->ErrorText, run.f.prompts.messages[0]);
        EXPECT_EQ(run.Operations(), (std::vector<std::string>{"invoiceimportstart"}));
        EXPECT_TRUE(fs::exists(run.in / "a.csv"));
    }
}

TEST(Import, AfterImportDeletesOrMovesEachFile) {
    {
        ImportRun run(EziAccount({{"pdf_pattern", "{number}.pdf"}}));
        run.Write("a.csv", Csv({"1"}));
        run.Write("1.pdf", "%PDF-1.4 one");
        run.Write("keep.txt", "stays");
        run.Biller(aiDelete);
        ASSERT_TRUE(run.Sync());
        ExpectSucceeded(run.frame);
        EXPECT_FALSE(fs::exists(run.in / "a.csv"));
        EXPECT_FALSE(fs::exists(run.in / "1.pdf"));
        EXPECT_TRUE(fs::exists(run.in / "keep.txt"));
    }
    {
        ImportRun run(EziAccount({{"pdf_pattern", "{number}.pdf"}}));
        run.Write("a.csv", Csv({"1"}));
        run.Write("1.pdf", "%PDF-1.4 one");
        fs::create_directories(run.done);
        dmtest::WriteFileBytes(run.done / "a.csv", "an older a.csv");
        // The move-to folder without its "/" too.
        run.Biller(aiMove, {}, run.done.string());
        ASSERT_TRUE(run.Sync());
        ExpectSucceeded(run.frame);
        EXPECT_FALSE(fs::exists(run.in / "a.csv"));
        EXPECT_FALSE(fs::exists(run.in / "1.pdf"));
        EXPECT_EQ(dmtest::ReadFileBytes(run.done / "a.csv"), Csv({"1"}));
        EXPECT_EQ(dmtest::ReadFileBytes(run.done / "1.pdf"), "%PDF-1.4 one");
    }
}

TEST(Import, MovedFilePathReplacesTheImportFolder) {
    EXPECT_EQ(MovedFilePath("/in/a.csv", "/in/", "/done/"), "/done/a.csv");
    EXPECT_EQ(MovedFilePath("/in/sub/a.csv", "/in/", "/done/"), "/done/sub/a.csv");
    EXPECT_EQ(MovedFilePath("/other/a.csv", "/in/", "/done/"), "");
    EXPECT_EQ(MovedFilePath("/in/a.csv", "/in/", ""), "");
}

TEST(Import, PdfFilterMatchingOneNoneOrTwo) {
    ImportRun run(EziAccount({{"pdf_pattern", "{number}*.pdf"}}));
    run.Write("a.csv", Csv({"1", "2", "3"}));
    run.Write("1.pdf", "%PDF-1.4 invoice one");
    run.Write("2a.pdf", "%PDF-1.4 two a");
    run.Write("2b.pdf", "%PDF-1.4 two b");
    run.Biller();
    ASSERT_TRUE(run.Sync());
    ExpectSucceeded(run.frame);

    std::vector<std::string> processed = run.Bodies("invoiceimportprocess");
    ASSERT_EQ(processed.size(), 3u);
    EXPECT_NE(processed[0].find("<uploadid>"), std::string::npos);
    EXPECT_EQ(processed[0].find("<pdfmissing>"), std::string::npos);
    for (int i : {1, 2}) {
        EXPECT_NE(processed[i].find("<pdfmissing>1</pdfmissing></invoiceimportprocess>"), std::string::npos) << i;
        EXPECT_EQ(processed[i].find("<uploadid>"), std::string::npos) << i;
    }
    EXPECT_EQ(Matching(run.statuses, "Importing invoice "), (std::vector<std::string>{"Importing invoice 1..."}));
    EXPECT_EQ(Matching(run.statuses, "Unable to find PDF"),
              (std::vector<std::string>{"Unable to find PDF for invoice 2...", "Unable to find PDF for invoice 3..."}));
    // The one match arrived whole and went with its invoice.
    EXPECT_EQ(run.Received()[(run.in / "1.pdf").string()], "%PDF-1.4 invoice one");
    json invoices = run.State()["accounts"][0]["invoices"];
    ASSERT_EQ(invoices.size(), 3u);
    EXPECT_EQ(invoices[0]["attachments"].size(), 1u);
    EXPECT_EQ(invoices[1]["attachments"].size(), 0u);
}

TEST(Import, InvoiceProgressFollowsTheRemainingCount) {
    ImportRun run(EziAccount({{"pdfs", false}}));
    run.Write("a.csv", Csv({"1", "2", "3", "4"}));
    run.Biller();
    ASSERT_TRUE(run.Sync());
    ExpectSucceeded(run.frame);
    // remaining 4, 3, 2, 1 of a reference of 4; 62.5 and 87.5 round to the even neighbour.
    EXPECT_EQ(run.percentAt["Importing invoice 1..."], 50);
    EXPECT_EQ(run.percentAt["Importing invoice 2..."], 62);
    EXPECT_EQ(run.percentAt["Importing invoice 3..."], 75);
    EXPECT_EQ(run.percentAt["Importing invoice 4..."], 88);
    // Nothing is asked for a PDF when the service names none.
    for (const std::string& body : run.Bodies("invoiceimportprocess")) {
        EXPECT_EQ(body.find("<uploadid>"), std::string::npos);
        EXPECT_EQ(body.find("<pdfmissing>"), std::string::npos);
    }
}

TEST(Import, ResumedImportIsFollowedByAFreshStart) {
    ImportRun run(EziAccount({{"pdfs", false},
                              {"open_invoices", json::array({{{"number", "77"}, {"customer", "Old"}},
                                                             {{"number", "78"}, {"customer", "Old"}}})}}));
    run.Write("new.csv", Csv({"201"}));
    run.Biller();
    ASSERT_TRUE(run.Sync());
    ExpectSucceeded(run.frame);
    EXPECT_EQ(run.Operations(),
              (std::vector<std::string>{"invoiceimportstart", "invoiceimportnextinvoice", "invoiceimportprocess",
                                        "invoiceimportprocess", "invoiceimportstart", "invoiceimportreadfiles",
                                        "invoiceimportreadfilesprogress", "invoiceimportreadfilesprogress",
                                        "invoiceimportnextinvoice", "invoiceimportprocess"}));
    auto resumed = std::find(run.statuses.begin(), run.statuses.end(), "Resuming invoice import...");
    EXPECT_LT(resumed, std::find(run.statuses.begin(), run.statuses.end(), "Sending 1 file... "));
    EXPECT_TRUE(run.Shown("Sending 1 file... "));
    EXPECT_EQ(run.Imported(), (std::vector<std::string>{"77", "78", "201"}));
    // The new import's progress starts from its own count.
    EXPECT_EQ(run.percentAt["Importing invoice 201..."], 50);
}

TEST(Import, ProgramRunsInTheStorageFolderWhenTheImportCompletes) {
    ImportRun run;
    run.Write("a.csv", Csv({"1"}));
    const fs::path script = run.f.dir.Path() / "after import.sh";
    const fs::path marker = run.f.dir.Path() / "ran";
    dmtest::WriteFileBytes(script, "#!/bin/sh\npwd -P > '" + marker.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
    run.Biller(aiNothing, {}, {}, script.string());
    ASSERT_TRUE(run.Sync());
    ExpectSucceeded(run.frame);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return fs::exists(marker) && fs::file_size(marker) > 0; }));
    EXPECT_EQ(dmtest::ReadFileBytes(marker), fs::canonical(run.f.app.StorageFolder).string() + "\n");
}

// Every way an import can go wrong ends the session with its error, and leaves the files that
// the service did not take over where they are.
TEST(Import, EveryFailureEndsTheSessionWithItsError) {
    const std::string noKind = "<?xml version=\"1.0\"?><response><biller><invoiceimportstart></invoiceimportstart>"
                               "</biller></response>";
    const std::string noPattern = "<?xml version=\"1.0\"?><response><biller><invoiceimportstart><start>1</start>"
                                  "</invoiceimportstart></biller></response>";
    struct Case {
        const char* name;
        json fault;
        std::string error; // the session's error text begins with this
        bool filesKept = true;
        std::string folder = {}; // the import folder setting, when not the test's folder
        int mode = aiDelete;
    };
    const std::vector<Case> cases = {
        {"start fails", {{"operation", "invoiceimportstart"}, {"drop", true}}, ImportCommunicationFailed},
        {"start answers 500", {{"operation", "invoiceimportstart"}, {"status", 500}, {"body", "oops"}},
         ImportCommunicationFailed},
        {"start answers nothing known", {{"operation", "invoiceimportstart"}, {"body", noKind}},
         "Unexpected answer from the server (no start, resume or message)."},
        {"start without a pattern", {{"operation", "invoiceimportstart"}, {"body", noPattern}},
         "Unexpected answer from the server (no file name pattern"},
        {"upload cannot start", {{"operation", "startupload"}, {"drop", true}}, "Unable to send the file "},
        {"upload gets no id",
         {{"operation", "startupload"},
          {"body", "<?xml version=\"1.0\"?><response><public><startupload><internalid></internalid></startupload>"
                   "</public></response>"}},
         "Unable to send the file "},
        {"a block fails", {{"operation", "block"}, {"drop", true}}, "Unable to send the file "},
        {"read files fails", {{"operation", "invoiceimportreadfiles"}, {"drop", true}}, ImportCommunicationFailed},
        {"read files without an id",
         {{"operation", "invoiceimportreadfiles"}, {"body", "<?xml version=\"1.0\"?><response><biller/></response>"}},
         "Unexpected answer from the server (no import id)."},
        {"progress fails", {{"operation", "invoiceimportreadfilesprogress"}, {"drop", true}}, ImportCommunicationFailed,
         false},
        {"next invoice fails", {{"operation", "invoiceimportnextinvoice"}, {"drop", true}}, ImportCommunicationFailed,
         false},
        {"next invoice answers no reply",
         {{"operation", "invoiceimportnextinvoice"}, {"body", "<?xml version=\"1.0\"?><response/>"}},
         "Unexpected answer from the server (no invoice reply).", false},
        {"process fails", {{"operation", "invoiceimportprocess"}, {"drop", true}}, ImportCommunicationFailed, false},
        {"process refused", {{"operation", "invoiceimportprocess"}, {"status", 403}, {"body", "no"}},
         ImportLoginRefused, false},
        {"empty import folder setting", json::object(), ImportNoFolder, true, " "},
        {"move without a folder to move to", json::object(), ImportNoMoveFolder, true, {}, aiMove},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json faults = c.fault.empty() ? json::array() : json::array({c.fault});
        ImportRun run(EziAccount({{"pdfs", false}}), faults);
        run.Write("a.csv", Csv({"1"}));
        run.Biller(c.mode, c.folder);
        ASSERT_TRUE(run.Sync());
        EXPECT_TRUE(run.frame->HadErrors);
        EXPECT_EQ(run.frame->ErrorText.rfind(c.error, 0), 0u) << run.frame->ErrorText;
        EXPECT_FALSE(run.frame->CloseReceived);
        EXPECT_EQ(run.frame->Phase, TSync::phIdle);
        EXPECT_FALSE(run.f.engine->SyncInProgress());
        EXPECT_EQ(fs::exists(run.in / "a.csv"), c.filesKept);
        // The failure is in the activity log, the session closed as failed.
        const std::string log = run.f.Log();
        EXPECT_NE(log.find(run.frame->ErrorText), std::string::npos);
    }
}

TEST(Import, AFileChangedOrRemovedDuringItsUploadFailsTheSession) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
        const char* error;
        bool exists;
    };
    const std::vector<Case> cases = {
        {"grows", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "9,Late,1.00,\r\n"; }, "changed", true},
        {"rewritten, same size",
         [](const fs::path& p) {
             std::string bytes = dmtest::ReadFileBytes(p);
             bytes[bytes.size() - 3] = 'X';
             dmtest::WriteFileBytes(p, bytes);
         },
         "changed", true},
        {"replaced",
         [](const fs::path& p) {
             dmtest::WriteFileBytes(p.string() + ".new", Csv({"5"}));
             fs::rename(p.string() + ".new", p);
         },
         "changed", true},
        {"removed", [](const fs::path& p) { fs::remove(p); }, "disappeared", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImportRun run(EziAccount({{"pdfs", false}}));
        run.Write("a.csv", Csv({"1", "2"}));
        fs::last_write_time(run.in / "a.csv", fs::last_write_time(run.in / "a.csv") - std::chrono::hours(1));
        // The other program acts as soon as the upload has begun.
        run.onStatus = [&](const std::string& status) {
            if (status == "Sending file...") c.change(run.in / "a.csv");
        };
        run.Biller(aiDelete);
        ASSERT_TRUE(run.Sync());
        EXPECT_TRUE(run.frame->HadErrors);
        EXPECT_EQ(run.frame->ErrorText,
                  "The file " + (run.in / "a.csv").string() + " " + c.error + " while it was being sent.");
        // Not deleted although the mode says so: its upload did not complete as it is now.
        EXPECT_EQ(fs::exists(run.in / "a.csv"), c.exists);
        EXPECT_EQ(run.Bodies("invoiceimportreadfiles").size(), 0u);
    }
}

TEST(Import, RemovingTheBillerMidImportEndsTheRunAndItsRequests) {
    ImportRun run(EziAccount({{"pdfs", false}}),
                  json::array({{{"operation", "invoiceimportreadfilesprogress"}, {"delay_ms", 400}}}));
    run.Write("a.csv", Csv({"1"}));
    run.Biller(aiDelete);
    run.frame->btnSyncNowClick(true);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return run.Shown("Reading import..."); }));
    QPointer<TImportInvoices> importRun = run.frame->Import();
    ASSERT_TRUE(importRun);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return run.Operations().size() == 3; })); // the poll is on its way
    run.f.engine->RequestRemoveBiller(run.frame);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return run.f.engine->Billers().empty() && importRun.isNull(); }));
    // The late answer to the poll reaches nobody, and nothing follows it.
    ASSERT_TRUE(dmtest::WaitUntil([] { return WebActiveRequests() == 0; }));
    dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(600));
    EXPECT_EQ(run.Operations(), (std::vector<std::string>{"invoiceimportstart", "invoiceimportreadfiles",
                                                          "invoiceimportreadfilesprogress"}));
    EXPECT_FALSE(run.f.engine->SyncInProgress());
    // The service holds the file in its import: the mode's delete was done.
    EXPECT_FALSE(fs::exists(run.in / "a.csv"));
}

TEST(Import, SmartSyncNeverAsksQuickBooksForABillerWithoutIt) {
    // A settings file without smart sync values turns it on with no delay; for an ezi biller
    // no answer of the service ever configures it, so the check must not run at all.
    ImportRun run;
    run.Biller();
    run.frame->Biller.smartsync = true;
    run.frame->Biller.smartsyncdelay = 0;
    bool checked = false;
    QObject::connect(run.frame, &TSync::changed, [&] {
        if (run.frame->StatusText.rfind("Smart Sync", 0) == 0) checked = true;
    });
    dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(2500));
    EXPECT_FALSE(checked);
    EXPECT_FALSE(run.f.engine->SyncInProgress());
    EXPECT_TRUE(run.Operations().empty());
}
