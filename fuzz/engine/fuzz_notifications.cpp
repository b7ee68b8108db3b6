// Notification fragments as any bytes: taking out the command never crashes and never adds
// text.

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
    return 0;
}
