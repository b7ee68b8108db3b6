#pragma once

// The menu bar of another program through the accessibility bus.

#include <cstdint>
#include <string>

namespace dm {

// Invokes the item of the menu of the menu bar of the application with the process id, the
// captions compared as MenuCaptionKey gives them. False when no accessibility bus is reachable,
// the program is not on it, or the menu or item is not there.
bool AtSpiClickMenu(std::int64_t processId, const std::string& menu, const std::string& item);

} // namespace dm
