#pragma once

#include <string>

namespace dm {

struct TQbWindowOptions {
    std::string Title = "Demo Co - QuickBooks Pro";
    std::string KeysFile; // every key pressed is appended here, one per line; empty: none
    // Where "Integrated Applications" stands in the list of preferences, from 1 (QuickBooks'
    // versions order the list differently).
    int PageAt = 4;
};

// QuickBooks' main window and its Preferences window on X11, until the main window closes.
// Returns the exit status.
int RunQuickBooksWindow(const char* program, const TQbWindowOptions& options);

} // namespace dm
