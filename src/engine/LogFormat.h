#pragma once

// The line forms of the activity log, in one place for the writer that makes them and the
// viewer that reads them back. A line ends with CR LF; a line that does not begin with "##" is
// detail text of the event above it.

#include <string>
#include <string_view>

namespace dm {

extern const char* const LogSessionBeginMarker; // 39 characters, with its final space
extern const char* const LogSessionEndMarker;   // 37 characters
inline constexpr std::string_view LogEventPrefix = "##";
inline constexpr std::string_view LogLineEnd = "\r\n";
// Events of the transport that a viewer folds into one.
inline constexpr std::string_view WebResponsePrefix = "Web response - ";

// Each with its line end.
std::string LogBeginLine(std::string_view timestamp, std::string_view billerId);
std::string LogEventLine(std::string_view timestamp, std::string_view message);
std::string LogEndLine(std::string_view timestamp);

enum class TLogLineKind { SessionStart, SessionEnd, Event, Detail };
// A line without its line end.
TLogLineKind ClassifyLogLine(std::string_view line);

} // namespace dm
