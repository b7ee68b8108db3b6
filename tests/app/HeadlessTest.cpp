// The agent as a program without a display: its exit codes and what it prints.

#include "TestService.h"
#include "TestSupport.h"

#include <QProcess>
#include <httplib.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct AgentRun {
    int exitCode = -1;
    std::string output;
};

struct HeadlessFixture {
    dmtest::TempDir dir;
    dm::TTestService service{dm::DemoScenario()};
    int port = service.Start("127.0.0.1", 0);

    HeadlessFixture() {
        fs::create_directories(dir.Path() / "store");
        QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                          {"--home", QString::fromStdString((dir.Path() / "qb").string()), "demo"});
    }
    void Settings(const std::string& businesses) {
        dmtest::WriteFileBytes(dir.Path() / "store" / "invdesk.xml",
                               "<?xml version=\"1.0\"?><mvt><businesslist>" + businesses + "</businesslist></mvt>");
    }
    AgentRun Agent(QStringList args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("INVARA_QB_HOME", QString::fromStdString((dir.Path() / "qb").string()));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        args << "-headless" << "-localtest" << QString::fromStdString("-baseurl=http://127.0.0.1:" + std::to_string(port) + "/")
             << QString::fromStdString("-storage=" + dir.Folder() + "store");
        p.start(QStringLiteral(DM_BIN_DIR "/invara-desktop-manager"), args);
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
