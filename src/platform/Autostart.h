#pragma once

// Starting with the desktop session. The per-user entry is
// ~/.config/autostart/invara-desktop-manager.desktop; a system-wide entry of the same name in
// /etc/xdg/autostart is overridden by it.

#include <string>

namespace dm {

struct TAutostartPaths {
    std::string UserFolder;   // ending with "/"
    std::string SystemFolder; // ending with "/"
    static TAutostartPaths Default();
};

extern const char* const AutostartFileName;

bool AutostartEnabled(const TAutostartPaths& paths);
// Writes the user's entry starting the program at this absolute path, or removes it.
void SetAutostart(const TAutostartPaths& paths, bool enabled, const std::string& executablePath);
// Moves a system-wide entry to the user: when the system entry starts something, the user gets
// an entry of their own for this executable, which also takes the system one's place. Nothing
// happens when the user already has an entry (theirs, or one that turned the start off).
void MigrateAutostart(const TAutostartPaths& paths, const std::string& executablePath);

} // namespace dm
