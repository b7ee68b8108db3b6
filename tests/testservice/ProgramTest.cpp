// The real program as a child process: the way the agent's end-to-end tests and the demo run it.

#include "TestCerts.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Killed and reaped when the test ends early, so that no server outlives its test.
struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out) fclose(out);
    }
};

void Launch(Child& c, const std::vector<std::string>& args) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    c.pid = fork();
    if (c.pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        std::vector<char*> argv;
        std::string program = std::string(DM_BIN_DIR) + "/invara-testservice";
        argv.push_back(program.data());
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    c.out = fdopen(pipeFds[0], "r");
}

int Finish(Child& c, int signal) {
    if (signal) kill(c.pid, signal);
    int status = 0;
    waitpid(c.pid, &status, 0);
    c.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Program, ServesTheScenarioOnTheAnnouncedPortAndStopsOnTerm) {
    dmtest::TempDir dir;
    dmtest::WriteFileBytes(dir.Path() / "s.json", R"({"accounts": [{"user": "kim", "password": "k", "name": "Kim's Bakery", "id": "9"}]})");
    Child c;
    Launch(c, {"--port", "0", "--scenario", (dir.Path() / "s.json").string()});
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, c.out), nullptr);
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "invara-testservice listening on http://localhost:%d/", &port), 1) << line;
    httplib::Client client("127.0.0.1", port);
    auto r = client.Post("/business/dm_confirm_account.php", "startup=1&un=kim&pw=k&hosted=", "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("<name>Kim's Bakery</name>"), std::string::npos);
    EXPECT_EQ(Finish(c, SIGTERM), 0);
}

TEST(Program, ServesHttpsWithTheGivenCertificate) {
    const auto& certs = dmtest::TTestCerts::Get();
    Child c;
    Launch(c, {"--port", "0", "--tls-cert", certs.CertFile, "--tls-key", certs.KeyFile});
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, c.out), nullptr);
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "invara-testservice listening on https://localhost:%d/", &port), 1) << line;
    httplib::SSLClient trusting("127.0.0.1", port);
    trusting.set_ca_cert_path(certs.CaFile.c_str());
    trusting.enable_server_certificate_verification(true);
    auto r = trusting.Post("/business/dm_confirm_account.php", "startup=1&un=demo&pw=demo&hosted=",
                           "application/x-www-form-urlencoded");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_NE(r->body.find("<name>Demo Co</name>"), std::string::npos);
    // Plain HTTP gets no answer there.
    httplib::Client plain("127.0.0.1", port);
    EXPECT_FALSE(plain.Get("/"));
    EXPECT_EQ(Finish(c, SIGTERM), 0);
}

TEST(Program, RefusesBadArgumentsAndScenarios) {
    dmtest::TempDir dir;
    dmtest::WriteFileBytes(dir.Path() / "bad.json", R"({"accounts": [{"user": "x", "state": "sleepy"}]})");
    struct {
        std::vector<std::string> args;
        int exit;
    } cases[] = {
        {{"--port", "abc"}, 2},
        {{"--frobnicate"}, 2},
        {{"--port", "0", "--tls-cert", "cert.pem"}, 2}, // a certificate without its key
        {{"--port", "0", "--tls-cert", (dir.Path() / "missing.pem").string(), "--tls-key",
          (dir.Path() / "missing.key").string()}, 1},
        {{"--port", "0", "--scenario", (dir.Path() / "bad.json").string()}, 1},
        {{"--port", "0", "--scenario", (dir.Path() / "missing.json").string()}, 1},
    };
    for (const auto& k : cases) {
        Child c;
        Launch(c, k.args);
        EXPECT_EQ(Finish(c, 0), k.exit) << k.args[0];
    }
}

} // namespace
