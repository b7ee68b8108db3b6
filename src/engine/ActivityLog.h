#pragma once

// The activity log: "log.txt" in the storage folder, one run of lines per session, rotated to
// log_N.txt when it has reached 1 MiB at the start of a session. The log viewer parses these
// exact line forms.

#include "engine/LogFormat.h"

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dm {

constexpr std::int64_t LogRotationSize = 1048576;
// What one entry carries of an answer from the network (TextHead): every real answer fits, a
// hostile one of a gigabyte does not go into the log whole.
constexpr size_t LoggedAnswerHead = 64 << 10;

class TActivityLog {
public:
    using Clock = std::function<QDateTime()>;

    // NoLogs is read at each session start, so a change takes effect with the next session.
    TActivityLog(std::string storageFolder, const bool& noLogs, Clock clock = &QDateTime::currentDateTime);
    ~TActivityLog();
    TActivityLog(const TActivityLog&) = delete;
    TActivityLog& operator=(const TActivityLog&) = delete;

    // Throws std::system_error when the file cannot be opened, created or written.
    void BeginLogSession(std::string_view billerId);
    void LogLine(std::string_view message, std::string_view details = {});
    void EndLogSession(bool failed);
    bool IsOpen() const { return fd_ >= 0; }

private:
    void Write(std::string_view bytes);
    void Close();
    std::string Timestamp() const;

    std::string folder_;
    const bool& noLogs_;
    Clock clock_;
    int fd_ = -1;
    bool toldRotation_ = false;
};

// Start-up pruning: keeps the ten highest-numbered rotated logs; "log_0.txt" (the viewer's
// snapshot) and names that rotation does not make are never touched.
void PruneLogs(const std::string& storageFolder);

} // namespace dm
