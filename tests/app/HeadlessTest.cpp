// The agent as a program without a display: its exit codes and what it prints.

#include "HostileServer.h"
#include "NetFixtures.h"
#include "TestService.h"
#include "TestSupport.h"

#include <QProcess>

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
    // baseUrl: another service than the local one; caFile: the authorities the agent trusts.
    AgentRun Agent(QStringList args, const std::string& baseUrl = {}, const std::string& caFile = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("INVARA_QB_HOME", QString::fromStdString((dir.Path() / "qb").string()));
        if (!caFile.empty()) env.insert("SSL_CERT_FILE", QString::fromStdString(caFile));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        const std::string base = baseUrl.empty() ? "http://127.0.0.1:" + std::to_string(port) + "/" : baseUrl;
        args << "-headless" << "-localtest" << QString::fromStdString("-baseurl=" + base)
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
        AgentRun run = f.Agent({"-ih", "-syncall"}, server.Url("/"), certs.CaFile);
        EXPECT_EQ(run.exitCode, 1) << c.name << "\n" << run.output;
        EXPECT_NE(run.output.find("Biller 1001 - Demo Co: not synchronised: Unable to communicate with Invara."),
                  std::string::npos)
            << c.name << "\n" << run.output;
        EXPECT_NE(run.output.find(std::string("connection failure (biller 1001): ") + c.cause), std::string::npos)
            << c.name << "\n" << run.output;
        EXPECT_GT(server.Connections(), 0) << c.name;
    }
}
