// Starts ten requests that cannot finish soon, then quits the event loop when told to on its
// standard input, and reports what happened after the quit.

#include "net/Web.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const std::string held = argv[1], slow = argv[2];
    // Set when the application starts to quit, before the transport stops delivering: nothing
    // may reach a handler from then on.
    bool quitting = false;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&] { quitting = true; });
    int lateNotifications = 0;
    auto handler = [&](std::int32_t, dm::WebStatus, const std::string&, std::int32_t) {
        if (quitting) ++lateNotifications;
    };
    std::string ids = "ids";
    for (int i = 0; i < 8; ++i) ids += " " + std::to_string(dm::WebPostXml(held, "<q/>", handler, nullptr));
    for (int i = 0; i < 2; ++i) ids += " " + std::to_string(dm::WebGet(slow, "", handler, nullptr));
    std::printf("%s\n", ids.c_str());
    std::fflush(stdout);

    std::thread input([&] {
        std::string line;
        std::getline(std::cin, line);
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    int rc = app.exec();
    input.join();
    std::printf("after exit: %d notifications, %d requests\n", lateNotifications, dm::WebActiveRequests());
    return rc;
}
