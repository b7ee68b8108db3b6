// invara-testservice [--port N] [--host ADDRESS] [--scenario FILE]
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

const char* const UsageText = "usage: invara-testservice [--port N] [--host ADDRESS] [--scenario FILE]\n"
                              "  --port 0 picks a free port; the port in use is printed on standard output.\n";

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
    std::string scenarioFile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if ((arg == "--port" || arg == "--scenario" || arg == "--host") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--port") {
                char* end = nullptr;
                long p = std::strtol(value.c_str(), &end, 10);
                if (*end != '\0' || p < 0 || p > 65535) return Usage();
                port = static_cast<int>(p);
            } else if (arg == "--host") {
                host = value;
            } else {
                scenarioFile = value;
            }
        } else {
            return Usage();
        }
    }

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
    int bound = service.Start(host, port);
    if (bound < 0) {
        std::fprintf(stderr, "invara-testservice: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::printf("invara-testservice listening on http://localhost:%d/\n", bound);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    service.Stop();
    return 0;
}
