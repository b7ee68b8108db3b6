#include "platform/Autostart.h"

#include "core/General.h"
#include "platform/System.h"

#include <QDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dm {

const char* const AutostartFileName = "invara-desktop-manager.desktop";

namespace {

// Empty when the file is missing or unreadable.
std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string AutostartFolder(std::string configFolder) {
    if (configFolder.back() != '/') configFolder += '/';
    return configFolder + "autostart/";
}

// The desktop entry format escapes an Exec argument twice: the quoting of the command line
// (quotes around the argument, a backslash before '"', '`', '$' and '\'), then the escapes
// of every string value (each backslash doubled). A '%' would start a field code.
std::string QuoteExec(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\') value += "\\\\";
        else if (c == '\n') value += "\\n";
        else if (c == '\r') value += "\\r";
        else if (c == '\t') value += "\\t";
        else value += c;
    }
    return value;
}

const char* const EntryHead = "[Desktop Entry]\nType=Application\nName=Invara Desktop Manager\n";

} // namespace

TAutostartPaths TAutostartPaths::From(const std::string& home, const char* configHome, const char* configDirs) {
    TAutostartPaths paths;
    const std::string userConfig = configHome && configHome[0] == '/' ? configHome : home + "/.config";
    paths.UserFolder = AutostartFolder(userConfig);
    if (configDirs && configDirs[0])
        for (const std::string& dir : SplitText(':', configDirs))
            if (!dir.empty() && dir[0] == '/') paths.SystemFolders.push_back(AutostartFolder(dir));
    if (paths.SystemFolders.empty()) paths.SystemFolders.push_back("/etc/xdg/autostart/");
    return paths;
}

TAutostartPaths TAutostartPaths::Default() {
    return From(QDir::homePath().toStdString(), std::getenv("XDG_CONFIG_HOME"), std::getenv("XDG_CONFIG_DIRS"));
}

bool DesktopEntryValue(const std::string& text, const std::string& key, std::string& value) {
    std::istringstream in(text);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (trimmed[0] == '[') {
            inEntry = trimmed == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos || TrimBlanks(trimmed.substr(0, equals)) != key) continue;
        value = std::string(TrimBlanks(trimmed.substr(equals + 1)));
        return true;
    }
    return false;
}

bool DesktopEntryEnabled(const std::string& text) {
    std::string value;
    if (DesktopEntryValue(text, "Hidden", value) && value == "true") return false;
    // How GNOME and others switch an entry off without removing it.
    if (DesktopEntryValue(text, "X-GNOME-Autostart-enabled", value) && value == "false") return false;
    return DesktopEntryValue(text, "Exec", value) && !value.empty();
}

bool AutostartEnabled(const TAutostartPaths& paths) {
    // The first entry of the name found decides, however it reads.
    const std::string user = paths.UserFolder + AutostartFileName;
    if (FileExists(user)) return DesktopEntryEnabled(ReadText(user));
    for (const std::string& folder : paths.SystemFolders)
        if (const std::string system = folder + AutostartFileName; FileExists(system))
            return DesktopEntryEnabled(ReadText(system));
    return false;
}

void SetAutostart(const TAutostartPaths& paths, bool enabled, const std::string& executablePath) {
    const std::string file = paths.UserFolder + AutostartFileName;
    if (enabled) {
        std::filesystem::create_directories(paths.UserFolder);
        ReplaceFileAtomically(file, std::string(EntryHead) + "Exec=" + QuoteExec(executablePath) + "\nTerminal=false\n");
        return;
    }
    bool system = false;
    for (const std::string& folder : paths.SystemFolders) system = system || FileExists(folder + AutostartFileName);
    // With the user's entry gone a system-wide one would start the program again.
    if (system) {
        std::filesystem::create_directories(paths.UserFolder);
        ReplaceFileAtomically(file, std::string(EntryHead) + "Hidden=true\n");
    } else {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (ec) throw std::system_error(ec);
    }
}

void MigrateAutostart(const TAutostartPaths& paths, const std::string& executablePath) {
    if (FileExists(paths.UserFolder + AutostartFileName)) return;
    for (const std::string& folder : paths.SystemFolders) {
        const std::string system = folder + AutostartFileName;
        if (!FileExists(system)) continue;
        try {
            if (DesktopEntryEnabled(ReadText(system))) SetAutostart(paths, true, executablePath);
        } catch (const std::exception&) {
            // An unwritable configuration folder leaves the system entry doing the start.
        }
        return;
    }
}

} // namespace dm
