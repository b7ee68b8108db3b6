// Notification fragments as any bytes: taking out the command never crashes and never adds
// text; the plain text for the desktop stays within its limit.

#include "engine/Notifications.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view fragment(reinterpret_cast<const char*>(data), size);
    dm::TNotificationCommand c = dm::ExtractNotificationCommand(fragment);
    if (c.Rest.size() > fragment.size()) std::abort();
    if (!c.Found && c.Rest != fragment) std::abort();
    if (c.Found && c.Rest.size() == fragment.size()) std::abort();
    if (dm::NotificationText(fragment, 64).size() > 64 + 3) std::abort();
    return 0;
}
