// The agent as a program without a display: its exit codes and what it prints.

#include "HostileServer.h"
#include "NetFixtures.h"
#include "TestService.h"
#include "EventLoop.h"
#include "TestSupport.h"
#include "engine/ActivityLog.h"
#include "qb/QuickBooksHome.h"

#include <QProcess>
#include <httplib.h>
#include <QThread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct AgentRun {
    int exitCode = -1;
    std::string output;
};

struct HeadlessFixture {
    dmtest::TempDir dir;
    dm::TTestService service;
    int port;

    explicit HeadlessFixture(dm::TScenario scenario = dm::DemoScenario())
        : service(std::move(scenario)), port(service.Start("127.0.0.1", 0)) {
        fs::create_directories(dir.Path() / "store");
        QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                          {"--home", QString::fromStdString((dir.Path() / "qb").string()), "demo"});
    }
    void Settings(const std::string& businesses) {
        dmtest::WriteFileBytes(dir.Path() / "store" / "invdesk.xml",
                               "<?xml version=\"1.0\"?><mvt><businesslist>" + businesses + "</businesslist></mvt>");
    }
    std::string cmdline; // of the last run with input, NUL-separated
    // baseUrl: another service than the local one; caFile: the authorities the agent trusts.
    void Launch(QProcess& p, QStringList args, const std::string& baseUrl = {}, const std::string& caFile = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("INVARA_QB_HOME", QString::fromStdString((dir.Path() / "qb").string()));
        if (!caFile.empty()) env.insert("SSL_CERT_FILE", QString::fromStdString(caFile));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        const std::string base = baseUrl.empty() ? "http://127.0.0.1:" + std::to_string(port) + "/" : baseUrl;
        args << "-headless" << "-localtest" << QString::fromStdString("-baseurl=" + base)
             << QString::fromStdString("-storage=" + dir.Folder() + "store");
        p.start(QStringLiteral(DM_BIN_DIR "/invara-desktop-manager"), args);
    }
    AgentRun Agent(QStringList args, const std::optional<std::string>& input = std::nullopt,
                   const std::string& baseUrl = {}, const std::string& caFile = {}) {
        QProcess p;
        Launch(p, args, baseUrl, caFile);
        if (input) {
            // Whatever the agent reads comes once it is running: its command line is what anyone
            // on the machine can see, so it is read before the password goes in.
            p.waitForStarted();
            dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(200));
            cmdline = dmtest::ReadFileBytes("/proc/" + std::to_string(p.processId()) + "/cmdline");
            p.write(QByteArray::fromStdString(*input));
            p.closeWriteChannel();
        }
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
    }
};

const std::string Demo = "<business><name>Demo Co</name><id>1001</id><username>demo</username><password>demo</password></business>";

} // namespace

TEST(Headless, ExitCodesTellWhetherEveryBillerSucceeded) {
    HeadlessFixture f;
    AgentRun none = f.Agent({"-syncall"});
    EXPECT_EQ(none.exitCode, 2) << none.output;
    EXPECT_NE(none.output.find("No biller is set up"), std::string::npos);

    f.Settings(Demo);
    AgentRun ok = f.Agent({"-syncall"});
    EXPECT_EQ(ok.exitCode, 0) << ok.output;
    EXPECT_NE(ok.output.find("[Demo Co] Server authentication successful."), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("Biller 1001 - Demo Co: synchronised"), std::string::npos) << ok.output;
    // The plain password was turned into a token at once.
    EXPECT_EQ(dmtest::ReadFileBytes(f.dir.Path() / "store" / "invdesk.xml").find("<password>"), std::string::npos);

    f.Settings(Demo + "<business><name>Wrong</name><id>1002</id><username>nobody</username><password>x</password></business>");
    AgentRun failed = f.Agent({"-syncall"});
    EXPECT_EQ(failed.exitCode, 1) << failed.output;
    EXPECT_NE(failed.output.find("Biller 1002 - Wrong: not synchronised: Your Invara account could not be confirmed."),
              std::string::npos)
        << failed.output;

    AgentRun one = f.Agent({"-sync=1001"});
    EXPECT_EQ(one.exitCode, 0) << one.output;
    EXPECT_EQ(one.output.find("Synchronising biller 1002"), std::string::npos);
    AgentRun unknown = f.Agent({"-sync=42"});
    EXPECT_EQ(unknown.exitCode, 2) << unknown.output;
}

TEST(Headless, SyncAllImportsTheInvoiceFilesOfBillersWithoutQuickBooks) {
    struct Case {
        const char* file; // put into the import folder, when set
        int exitCode;
        const char* summary;
    };
    const std::vector<Case> cases = {
        {"a.csv", 0, "Biller 2001 - Ezi Co: synchronised\n"},
        {nullptr, 1, "Biller 2001 - Ezi Co: failed: No files to import found.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        HeadlessFixture f(dm::ScenarioFromJson(json::parse(R"({"accounts": [
            {"user": "demo", "password": "demo", "name": "Demo Co", "id": "1001"},
            {"user": "ezi", "password": "demo", "name": "Ezi Co", "id": "2001", "type": "ezi",
             "import": {"pdfs": false}}]})")));
        const fs::path in = f.dir.Path() / "in";
        fs::create_directories(in);
        if (c.file) dmtest::WriteFileBytes(in / c.file, "number,customer,amount,due\r\n31,Acme,5.00,2024-06-01\r\n");
        f.Settings(Demo + "<business><type>ezi</type><name>Ezi Co</name><id>2001</id><username>ezi</username>"
                          "<password>demo</password><invoiceimportimportdirectory>" + in.string() +
                   "/</invoiceimportimportdirectory><invoiceimportafterimporting>1</invoiceimportafterimporting>"
                   "</business>");
        AgentRun run = f.Agent({"-syncall"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find(c.summary), std::string::npos) << run.output;
        // Both kinds of biller in one run; the import's steps are printed as the strip shows them.
        EXPECT_NE(run.output.find("Biller 1001 - Demo Co: synchronised"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("[Ezi Co] Starting QuickBooks."), std::string::npos) << run.output;
        if (c.file) {
            for (const char* line : {"[Ezi Co] Importing invoices...\n", "[Ezi Co] Sending 1 file... \n", "[Ezi Co] Sending file...\n",
                                     "[Ezi Co] Reading import...\n", "[Ezi Co] Importing invoice 31...\n",
                                     "[Ezi Co] Done.\n"})
                EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
            EXPECT_FALSE(fs::exists(in / c.file));
        }
    }
}

TEST(Headless, SendNewSendsEveryNewInvoiceWithEmailsOnlyWhenAsked) {
    struct Case {
        QStringList args;
        const char* review;  // what the review step prints
        const char* summary; // the end of the biller's summary line
        bool sent, emailed;
    };
    const std::vector<Case> cases = {
        {{"-syncall"}, "review: 5 new invoices in QuickBooks - none chosen, nothing sent", "Demo Co: synchronised\n",
         false, false},
        {{"-syncall", "-SendNew"}, "review: 5 new invoices in QuickBooks - all chosen, sent without e-mails",
         "Demo Co: synchronised, 5 new invoices sent without e-mails\n", true, false},
        {{"-sync=1001", "-sendnew", "-emails"}, "review: 5 new invoices in QuickBooks - all chosen, sent with e-mails",
         "Demo Co: synchronised, 5 new invoices sent with e-mails\n", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        HeadlessFixture f;
        f.Settings(Demo);
        AgentRun run = f.Agent(c.args);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(c.review), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(std::string("Biller 1001 - ") + c.summary), std::string::npos) << run.output;
        httplib::Client client("127.0.0.1", f.port);
        auto state = client.Get("/_test/state");
        ASSERT_TRUE(state);
        const json invoices = json::parse(state->body)["accounts"][0]["invoices"];
        ASSERT_EQ(invoices.size(), 5u);
        for (const json& inv : invoices) {
            EXPECT_EQ(inv["sent"].get<bool>(), c.sent) << inv.dump();
            EXPECT_EQ(inv["emailed"].get<bool>(), c.emailed) << inv.dump();
        }
    }
}

TEST(Headless, AddBillerEnrolsFromStandardInputAndNeverShowsThePassword) {
    const std::string secret = "Pw-7f3q!secret";
    HeadlessFixture f(dm::ScenarioFromJson(
        {{"accounts", json::array({{{"user", "demo"}, {"password", secret}, {"name", "Demo Co"}, {"id", "1001"}}})}}));
    auto storage = [&] {
        std::string all;
        for (const auto& e : fs::directory_iterator(f.dir.Path() / "store")) all += dmtest::ReadFileBytes(e.path());
        return all;
    };

    AgentRun wrong = f.Agent({"-addbiller", "-user=demo"}, std::string("nope\n"));
    EXPECT_EQ(wrong.exitCode, 1) << wrong.output;
    EXPECT_NE(wrong.output.find("The user name or password you entered is not correct."), std::string::npos)
        << wrong.output;
    EXPECT_FALSE(fs::exists(f.dir.Path() / "store" / "invdesk.xml")) << "nothing added, nothing saved";

    AgentRun missing = f.Agent({"-addbiller", "-user=demo"}, std::string(""));
    EXPECT_EQ(missing.exitCode, 1) << missing.output;
    EXPECT_NE(missing.output.find("Please enter your user name and password."), std::string::npos) << missing.output;

    QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                      {"--home", QString::fromStdString((f.dir.Path() / "qb").string()), "quit"});
    AgentRun noQuickBooks = f.Agent({"-addbiller", "-user=demo"}, secret + "\r\n");
    EXPECT_EQ(noQuickBooks.exitCode, 1) << noQuickBooks.output;
    EXPECT_NE(noQuickBooks.output.find("Business 1001 - Demo Co found; connecting to QuickBooks"), std::string::npos)
        << noQuickBooks.output;
    EXPECT_NE(noQuickBooks.output.find("Unable to connect to QuickBooks."), std::string::npos) << noQuickBooks.output;
    EXPECT_NE(noQuickBooks.output.find("Error Message: "), std::string::npos) << noQuickBooks.output;
    EXPECT_FALSE(fs::exists(f.dir.Path() / "store" / "invdesk.xml"));

    QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                      {"--home", QString::fromStdString((f.dir.Path() / "qb").string()), "demo"});
    AgentRun ok = f.Agent({"-addbiller", "-user=demo"}, secret + "\n");
    EXPECT_EQ(ok.exitCode, 0) << ok.output;
    EXPECT_NE(ok.output.find("QuickBooks connection checked"), std::string::npos) << ok.output;
    EXPECT_NE(ok.output.find("Biller 1001 - Demo Co added to "), std::string::npos) << ok.output;
    EXPECT_NE(f.cmdline.find("-addbiller"), std::string::npos) << "the command line was read";
    const std::string settings = dmtest::ReadFileBytes(f.dir.Path() / "store" / "invdesk.xml");
    EXPECT_NE(settings.find("<username>demo</username><token>"), std::string::npos) << settings;

    // A second enrolment of the same user is refused as the wizard refuses it.
    AgentRun again = f.Agent({"-addbiller", "-user= DEMO "}, secret + "\n");
    EXPECT_EQ(again.exitCode, 1) << again.output;
    EXPECT_NE(again.output.find("You already have a business registered"), std::string::npos) << again.output;

    // The new biller synchronises like any other.
    AgentRun sync = f.Agent({"-sync=1001"});
    EXPECT_EQ(sync.exitCode, 0) << sync.output;

    for (const AgentRun* run : {&wrong, &noQuickBooks, &ok, &again, &sync})
        EXPECT_EQ(run->output.find(secret), std::string::npos) << run->output;
    EXPECT_EQ(f.cmdline.find(secret), std::string::npos);
    EXPECT_EQ(storage().find(secret), std::string::npos) << "neither the settings nor the log hold it";
}

// Stopped by the session manager (or a service supervisor) in the middle of a session: the same
// end as File > Exit. The stand-in's state file must show the QuickBooks session ended; the
// stand-in itself would forget a dead process's session only when it next reads the file.
TEST(Headless, TerminationSignalEndsTheSessionInOrder) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        dm::TScenario scenario = dm::DemoScenario();
        dm::TFault slow;
        slow.operation = "receiveResponseXML";
        slow.delayMs = 4000;
        scenario.faults.push_back(slow);
        HeadlessFixture f(scenario);
        f.Settings(Demo);
        const fs::path settings = f.dir.Path() / "store" / "invdesk.xml";

        QProcess agent;
        f.Launch(agent, {"-syncall"});
        std::string output;
        while (output.find("Sending response to the server.") == std::string::npos &&
               agent.state() != QProcess::NotRunning) {
            agent.waitForReadyRead(200);
            output += agent.readAll().toStdString();
        }
        ASSERT_NE(agent.state(), QProcess::NotRunning) << output;
        struct stat before {};
        ASSERT_EQ(stat(settings.c_str(), &before), 0);
        ASSERT_FALSE(dm::TQbState::FromXml(dmtest::ReadFileBytes(f.dir.Path() / "qb" / "qbstate.xml")).Sessions.empty());

        kill(static_cast<pid_t>(agent.processId()), signal);
        ASSERT_TRUE(agent.waitForFinished(20000));
        output += agent.readAll().toStdString();
        EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit) << output;
        EXPECT_EQ(agent.exitCode(), 128 + signal) << output;
        EXPECT_NE(output.find("Stopped by signal"), std::string::npos) << output;

        struct stat after {};
        ASSERT_EQ(stat(settings.c_str(), &after), 0);
        EXPECT_NE(after.st_ino, before.st_ino) << "the settings were not saved on the way out";
        EXPECT_TRUE(dm::TQbState::FromXml(dmtest::ReadFileBytes(f.dir.Path() / "qb" / "qbstate.xml")).Sessions.empty());
        const std::string log = dmtest::ReadFileBytes(f.dir.Path() / "store" / "log.txt");
        const size_t begin = log.rfind(dm::LogSessionBeginMarker);
        ASSERT_NE(begin, std::string::npos);
        EXPECT_EQ(log.find(dm::LogSessionEndMarker, begin), std::string::npos) << log.substr(begin);
    }
}

// The alternate connection to an HTTPS server that resets its connections: the agent reports
// the failure and its cause, and ends as a failed run, not killed by a broken pipe.
TEST(Headless, AlternateConnectionSurvivesAServerThatResets) {
    HeadlessFixture f;
    f.Settings(Demo);
    const auto& certs = dmtest::TTestCerts::Get();
    struct {
        const char* name;
        dmtest::THostileServer::TScript script;
        const char* cause;
    } cases[] = {
        {"reset before the answer",
         [](dmtest::THostileConnection& c) {
             c.ReadHead();
             c.Reset();
         },
         "connection closed or reset"},
        {"reset in the middle of the answer",
         [](dmtest::THostileConnection& c) {
             if (c.ReadHead().empty()) return;
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             c.Write("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<?xml version=\"1.0\"?><response>");
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             c.Reset();
         },
         "connection closed or reset"},
    };
    for (const auto& c : cases) {
        dmtest::THostileServer server(c.script, certs.CertFile, certs.KeyFile);
        AgentRun run = f.Agent({"-ih", "-syncall"}, std::nullopt, server.Url("/"), certs.CaFile);
        EXPECT_EQ(run.exitCode, 1) << c.name << "\n" << run.output;
        EXPECT_NE(run.output.find("Biller 1001 - Demo Co: not synchronised: Unable to communicate with Invara."),
                  std::string::npos)
            << c.name << "\n" << run.output;
        EXPECT_NE(run.output.find(std::string("connection failure (biller 1001): ") + c.cause), std::string::npos)
            << c.name << "\n" << run.output;
        EXPECT_GT(server.Connections(), 0) << c.name;
    }
}
