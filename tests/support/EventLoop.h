#pragma once

#include <chrono>
#include <functional>

namespace dmtest {

// Turns the event loop until the condition holds or the bound passes; returns the condition.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(10));

} // namespace dmtest
