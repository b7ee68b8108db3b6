#include "platform/Autostart.h"

#include "platform/System.h"

#include <QDir>
#include <QStandardPaths>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace dm {

const char* const AutostartFileName = "invara-desktop-manager.desktop";

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The value of a key in the [Desktop Entry] group; empty when absent.
std::string EntryValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

// Exec quoting of the desktop entry format: quote the path, escaping what it reserves.
std::string QuoteExec(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

TAutostartPaths TAutostartPaths::Default() {
    std::string config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    return {config + "/autostart/", "/etc/xdg/autostart/"};
}

bool AutostartEnabled(const TAutostartPaths& paths) {
    const std::string text = ReadText(paths.UserFolder + AutostartFileName);
    return !text.empty() && EntryValue(text, "Hidden") != "true" && !EntryValue(text, "Exec").empty();
}

void SetAutostart(const TAutostartPaths& paths, bool enabled, const std::string& executablePath) {
    const std::string file = paths.UserFolder + AutostartFileName;
    if (!enabled) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        // With the user's entry gone a system-wide one would start the program again.
        if (std::filesystem::exists(paths.SystemFolder + AutostartFileName))
            ReplaceFileAtomically(file, "[Desktop Entry]\nType=Application\nName=Invara Desktop Manager\nHidden=true\n");
        return;
    }
    std::filesystem::create_directories(paths.UserFolder);
    ReplaceFileAtomically(file, "[Desktop Entry]\nType=Application\nName=Invara Desktop Manager\nExec=" +
                                    QuoteExec(executablePath) + "\nTerminal=false\n");
}

void MigrateAutostart(const TAutostartPaths& paths, const std::string& executablePath) {
    const std::string system = ReadText(paths.SystemFolder + AutostartFileName);
    if (system.empty() || EntryValue(system, "Exec").empty() || EntryValue(system, "Hidden") == "true") return;
    if (std::filesystem::exists(paths.UserFolder + AutostartFileName)) return;
    SetAutostart(paths, true, executablePath);
}

} // namespace dm
