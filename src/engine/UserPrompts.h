#pragma once

// Everything the engine must ask or show the user goes through this interface. The windowed
// program answers with dialogs, the headless one with safe answers, tests with scripted ones.
// After a call returns, the caller checks that what it works on still exists.

#include <string>

namespace dm {

class TUserPrompts {
public:
    virtual ~TUserPrompts() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
};

} // namespace dm
