// One request with the transport's own limits, in a process of its own so that its peak memory
// can be read: net_limit_probe post|get|alt URL BODY_BYTES [CA_FILE [DEADLINE_MS]].
// Prints the last notification, the failure reason and the peak resident size:
//   Failed 'POST: Send request failed.' 12152
//   reason answer too large: ...
//   peak_kB 123456

#include "core/General.h"
#include "net/Web.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    // As the agent and its companions do first.
    dm::IgnoreBrokenPipes();
    QCoreApplication app(argc, argv);
    if (argc < 4) return 2;
    const std::string method = argv[1], url = argv[2];
    const std::string body(std::stoul(argv[3]), 'b');
    dm::TWebOptions options;
    if (argc > 4) options.CaFile = argv[4];
    if (argc > 5) options.RequestDeadline = std::chrono::milliseconds(std::stol(argv[5]));
    options.AlternateConnection = method == "alt";

    std::string last, reason;
    auto handler = [&](std::int32_t, dm::WebStatus status, const std::string& text, std::int32_t value) {
        if (status == dm::wsFailed) {
            last = "Failed '" + text + "' " + std::to_string(value);
            reason = dm::WebFailureReason();
        } else if (status == dm::wsDone) {
            last = "Done " + std::to_string(value);
        } else {
            return;
        }
        QTimer::singleShot(0, &app, [] { QCoreApplication::quit(); });
    };
    if (method == "get")
        dm::WebGet(url, "", handler, nullptr, options);
    else
        dm::WebPostXml(url, body, handler, nullptr, options);
    app.exec();
    std::printf("%s\nreason %s\npeak_kB %ld\n", last.c_str(), reason.c_str(), PeakKilobytes());
    return 0;
}
