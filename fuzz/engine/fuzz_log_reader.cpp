// A log file of any bytes, read as the log viewer reads it: its sessions, the events of each,
// the detail of each event and the text sent to support, in slices of varying size. Nothing
// crashes, every offset stays inside the file, and what a scan collects stays within a small
// multiple of the file's size.

#include "engine/LogReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

template <class Scan>
void Finish(Scan& scan, std::int64_t slice) {
    while (!scan.Step(slice)) {
    }
}

void Check(bool holds) {
    if (!holds) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("log", 0);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::int64_t slice = size > 0 ? 1 + data[0] * 7 : 1;
    const std::int64_t bound = 6 * static_cast<std::int64_t>(size) + 8;

    dm::TSessionScan sessions(path);
    Finish(sessions, slice);
    std::int64_t previous = -1;
    size_t sessionsRead = 0;
    for (const dm::TLogSession& session : sessions.Sessions) {
        Check(session.Offset > previous && session.Offset < static_cast<std::int64_t>(size));
        previous = session.Offset;
        (void)dm::SessionLabel(session.Text);
        if (++sessionsRead > 20) break;

        dm::TEventScan events(path, session);
        Finish(events, slice);
        size_t eventsRead = 0;
        for (const dm::TLogEvent& event : events.Events) {
            Check(event.Offset > session.Offset && event.Offset < static_cast<std::int64_t>(size));
            Check(event.Line > session.Line);
            if (++eventsRead > 20) break;
            dm::TEventDetailScan detail(path, event);
            Finish(detail, slice);
            Check(static_cast<std::int64_t>(detail.Detail.size()) <= bound);
        }
        dm::TSessionTextScan text(path, session);
        Finish(text, slice);
        Check(!text.Hex.empty() && text.Hex.size() % 2 == 0 && static_cast<std::int64_t>(text.Hex.size()) <= 2 * bound);
    }
    return 0;
}
