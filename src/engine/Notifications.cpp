#include "engine/Notifications.h"

namespace dm {

const char* const NotificationCommandStart = "<!-- \b\b";
const char* const NotificationCommandEnd = "\b\b -->";

TNotificationCommand ExtractNotificationCommand(std::string_view fragment) {
    TNotificationCommand c;
    c.Rest = std::string(fragment);
    const std::string_view start = NotificationCommandStart, end = NotificationCommandEnd;
    size_t at = fragment.find(start);
    if (at == std::string_view::npos) return c;
    c.Found = true;
    std::string_view after = fragment.substr(at + start.size());
    size_t close = after.find(end);
    std::string_view command = after.substr(0, close);
    size_t paren = command.find('(');
    if (paren == std::string_view::npos) {
        c.Command = std::string(command);
    } else {
        c.Command = std::string(command.substr(0, paren));
        std::string_view argument = command.substr(paren + 1);
        if (!argument.empty()) argument.remove_suffix(1); // the closing parenthesis
        c.Argument = std::string(argument);
    }
    // Without an end marker the command reaches to the end of the fragment.
    size_t removeEnd = close == std::string_view::npos ? fragment.size() : at + start.size() + close + end.size();
    c.Rest = std::string(fragment.substr(0, at)) + std::string(fragment.substr(removeEnd));
    return c;
}

} // namespace dm
