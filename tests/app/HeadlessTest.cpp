// The agent as a program without a display: its exit codes and what it prints.

#include "TestService.h"
#include "TestSupport.h"
#include "engine/ActivityLog.h"
#include "qb/QuickBooksHome.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
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
    void Launch(QProcess& p, QStringList args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("INVARA_QB_HOME", QString::fromStdString((dir.Path() / "qb").string()));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        args << "-headless" << "-localtest" << QString::fromStdString("-baseurl=http://127.0.0.1:" + std::to_string(port) + "/")
             << QString::fromStdString("-storage=" + dir.Folder() + "store");
        p.start(QStringLiteral(DM_BIN_DIR "/invara-desktop-manager"), args);
    }
    AgentRun Agent(QStringList args) {
        QProcess p;
        Launch(p, args);
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
