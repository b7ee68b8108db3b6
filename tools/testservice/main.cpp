// invara-testservice [--port N] [--host ADDRESS] [--scenario FILE] [--tls-cert FILE --tls-key FILE]
// The local Invara service of the "-localtest" environment (http://localhost:8080/).

#include "TestService.h"
#include "core/General.h"

#include <csignal>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

const char* const UsageText =
    "usage: invara-testservice [--port N] [--host ADDRESS] [--scenario FILE] [--tls-cert FILE --tls-key FILE]\n"
    "  --port 0 picks a free port; the port in use is printed on standard output.\n"
    "  --tls-cert and --tls-key (PEM files, both or neither) serve HTTPS instead of HTTP.\n";

int Usage() {
    std::fputs(UsageText, stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    dm::IgnoreBrokenPipes();
    // The server's threads inherit this mask, so the signals reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    int port = 8080;
    std::string host = "127.0.0.1";
    std::string scenarioFile, certFile, keyFile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if ((arg == "--port" || arg == "--scenario" || arg == "--host" || arg == "--tls-cert" || arg == "--tls-key") &&
            i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--port") {
                char* end = nullptr;
                long p = std::strtol(value.c_str(), &end, 10);
                if (*end != '\0' || p < 0 || p > 65535) return Usage();
                port = static_cast<int>(p);
            } else if (arg == "--host") {
                host = value;
            } else if (arg == "--tls-cert") {
                certFile = value;
            } else if (arg == "--tls-key") {
                keyFile = value;
            } else {
                scenarioFile = value;
            }
        } else {
            return Usage();
        }
    }

    if (certFile.empty() != keyFile.empty()) return Usage();

    dm::TScenario scenario;
    try {
        if (scenarioFile.empty()) {
            scenario = dm::DemoScenario();
        } else {
            std::ifstream in(scenarioFile);
            if (!in) {
                std::fprintf(stderr, "invara-testservice: cannot read %s\n", scenarioFile.c_str());
                return 1;
            }
            scenario = dm::ScenarioFromJson(nlohmann::json::parse(in));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "invara-testservice: bad scenario: %s\n", e.what());
        return 1;
    }

    dm::TTestService service(std::move(scenario));
    if (!certFile.empty()) service.UseTls(certFile, keyFile);
    int bound = service.Start(host, port);
    if (bound < 0) {
        if (!certFile.empty())
            std::fprintf(stderr, "invara-testservice: cannot listen on %s:%d with certificate %s and key %s\n",
                         host.c_str(), port, certFile.c_str(), keyFile.c_str());
        else
            std::fprintf(stderr, "invara-testservice: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::printf("invara-testservice listening on %s://localhost:%d/\n", certFile.empty() ? "http" : "https", bound);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    service.Stop();
    return 0;
}
