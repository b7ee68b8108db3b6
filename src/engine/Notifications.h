#pragma once

// Commands the service hides in notification fragments: an HTML comment whose text is framed
// by two backspace characters on each side, e.g. "<!-- \b\bDM:syncpayments(1234)\b\b -->".

#include <string>
#include <string_view>

namespace dm {

extern const char* const NotificationCommandStart; // "<!-- " and two backspaces
extern const char* const NotificationCommandEnd;   // two backspaces and " -->"

struct TNotificationCommand {
    bool Found = false;
    std::string Command;
    std::string Argument;
    std::string Rest; // the fragment without the first command
};

// Takes out the first command of the fragment; the rest is the fragment unchanged otherwise.
TNotificationCommand ExtractNotificationCommand(std::string_view fragment);

// What a reader sees of a fragment without its markup: comments, scripts and styles gone, block
// tags as blanks, entities decoded, runs of blanks as one space, trimmed; cut at limit bytes (never
// inside a UTF-8 sequence) with "..." added. For a desktop notification.
std::string NotificationText(std::string_view fragment, size_t limit = 256);

} // namespace dm
