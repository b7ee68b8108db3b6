#pragma once

// Starting with the desktop session, through XDG autostart entries. The user's entry
// $XDG_CONFIG_HOME/autostart/invara-desktop-manager.desktop takes the place of a system-wide
// entry of the same name in any of $XDG_CONFIG_DIRS (the package ships one in /etc/xdg); a
// user entry with Hidden=true masks it.

#include <string>
#include <vector>

namespace dm {

struct TAutostartPaths {
    std::string UserFolder;                 // ending with "/"
    std::vector<std::string> SystemFolders; // each ending with "/", the most important first
    // From the environment's XDG_CONFIG_HOME and XDG_CONFIG_DIRS.
    static TAutostartPaths Default();
    // The same rules for given values: unset or empty variables take the defaults
    // (home + "/.config", "/etc/xdg"), and relative paths in them are ignored.
    static TAutostartPaths From(const std::string& home, const char* configHome, const char* configDirs);
};

extern const char* const AutostartFileName;

// The value of a key in the [Desktop Entry] group of a desktop entry file; nothing when the
// group or the key is missing.
bool DesktopEntryValue(const std::string& text, const std::string& key, std::string& value);
// An entry that the session would start: a [Desktop Entry] with a command, neither hidden nor
// switched off.
bool DesktopEntryEnabled(const std::string& text);

// An enabled entry of ours takes effect at the next session: the user's, or else the first
// system-wide one.
bool AutostartEnabled(const TAutostartPaths& paths);
// Writes the user's entry starting the program at this absolute path, or removes it (and masks
// a system-wide entry). Throws std::system_error when the entry cannot be written.
void SetAutostart(const TAutostartPaths& paths, bool enabled, const std::string& executablePath);
// Moves a system-wide entry to the user: when the system entry starts something, the user gets
// an entry of their own for this executable, which also takes the system one's place. Nothing
// happens when the user already has an entry (theirs, or one that turned the start off), nor
// when the user's folder cannot be written.
void MigrateAutostart(const TAutostartPaths& paths, const std::string& executablePath);

} // namespace dm
