#include "engine/LogFormat.h"

#include "core/General.h"

namespace dm {

const char* const LogSessionBeginMarker = "## ---------- BEGIN SESSION ---------- ";
const char* const LogSessionEndMarker = "## ---------- END SESSION ---------- ";

std::string LogBeginLine(std::string_view timestamp, std::string_view billerId) {
    std::string line = LogSessionBeginMarker;
    line += timestamp;
    if (!billerId.empty()) {
        line += " # ";
        line += billerId;
    }
    line += LogLineEnd;
    return line;
}

std::string LogEventLine(std::string_view timestamp, std::string_view message) {
    std::string line(LogEventPrefix);
    line += ' ';
    line += timestamp;
    line += " # ";
    line += TrimBlanks(message);
    line += LogLineEnd;
    return line;
}

std::string LogEndLine(std::string_view timestamp) {
    std::string line = LogSessionEndMarker;
    line += timestamp;
    line += LogLineEnd;
    return line;
}

TLogLineKind ClassifyLogLine(std::string_view line) {
    if (line.starts_with(LogSessionBeginMarker)) return TLogLineKind::SessionStart;
    if (line.starts_with(LogSessionEndMarker)) return TLogLineKind::SessionEnd;
    if (line.starts_with(LogEventPrefix)) return TLogLineKind::Event;
    return TLogLineKind::Detail;
}

} // namespace dm
