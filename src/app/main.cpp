// The program's entry: start-up, then the windowed or the headless front end.

#include "engine/AppState.h"
#include "engine/Settings.h"
#include "engine/Startup.h"
#include "engine/UserPrompts.h"
#include "core/KvXml.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Without a display nobody can answer: messages are printed and every question gets the
// answer that changes nothing.
class TConsolePrompts : public dm::TUserPrompts {
public:
    void ShowMessage(const std::string& text) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\r') c = '\n';
        std::fprintf(stderr, "message: %s\n", line.c_str());
    }
};

void Print(const char* label, const std::string& value) { std::printf("%-22s %s\n", label, value.c_str()); }
void Print(const char* label, bool value) { Print(label, std::string(value ? "yes" : "no")); }

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(dm::ApplicationTitle));

    std::vector<std::string> arguments(argv + 1, argv + argc);
    TConsolePrompts prompts;
    dm::TKvXML::SetMessageHandler([&](const std::string& m) { prompts.ShowMessage(m); });

    dm::TAppState state = dm::RunStartup(dm::TStartupEnvironment::Current(arguments), prompts);
    if (state.TerminateRequested) return 1;

    dm::TOptions options;
    options.AlternateConnection = state.AlternateConnectionSwitch;
    dm::TSettingsStore settings(state, prompts);
    settings.LoadSettings(true, options);
    if (state.TerminateRequested) return 1;
    dm::TSettingsStore::TLoaded loaded = settings.LoadSettings(false, options);
    if (state.TerminateRequested) return 1;

    std::printf("%s %s (build %s)\n", state.WindowCaption.c_str(), state.VersionText.c_str(),
                state.BuildNumber.c_str());
    Print("service:", state.BaseUrl);
    Print("sync endpoint:", state.SyncServiceUrl);
    Print("environment:", state.StatusBarText.empty() ? std::string("(none shown)") : state.StatusBarText);
    Print("hosted partner:", state.HostedPartner.empty() ? std::string("(none)") : state.HostedPartner);
    Print("test mode:", state.TestMode);
    Print("storage folder:", state.StorageFolder);
    Print("settings file:", settings.Path());
    Print("alternate connection:", options.AlternateConnection);
    Print("default proxy:", options.UseDefaultProxy);
    Print("local logs:", !options.NoLogs);
    Print("high frequency:", state.HighFrequency);
    std::printf("billers: %zu\n", loaded.billers.size());
    for (const dm::BillerRecord& b : loaded.billers)
        std::printf("  Biller %s - %s (%s, user %s)\n", b.id.c_str(), b.name.c_str(), b.type.c_str(),
                    b.username.c_str());
    return 0;
}
