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

bool ScheduleMatches(int h, int m, int firstHour, int firstMinute, int k) {
    // Only the eleven intervals of the Options list schedule anything.
    if (k < 1 || k > 11) return false;
    int H = firstHour, M = firstMinute;
    for (;;) {
        if (m == M && h == H) return true;
        if (m != M && k < 7) return false;
        switch (k) {
        case 1: return false;
        case 2: H += 12; break;
        case 3: H += 6; break;
        case 4: H += 3; break;
        case 5: H += 2; break;
        case 6: H += 1; break;
        case 7: M += 30; break;
        case 8: M += 15; break;
        case 9: M += 5; break;
        case 10: M += 2; break;
        case 11: M += 1; break;
        default: return false;
        }
        if (M > 59) {
            M -= 60;
            H += 1;
        }
        if (H >= 24) return false;
    }
}

} // namespace dm
