// The program's entry: the windowed front end when a display is there, else the headless one.

#include "app/Headless.h"
#include "core/General.h"
#include "engine/AppState.h"
#include "engine/Startup.h"
#include "engine/UserPrompts.h"
#include "gui/main/WindowedStart.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Start-up messages before any front end exists.
class TStartupPrompts : public dm::TUserPrompts {
public:
    void ShowMessage(const std::string& text) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\r') c = '\n';
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::optional<dm::TCredentials> AskCredentials(const std::string&, const dm::TCredentials&) override {
        return std::nullopt;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string&, const std::string&, const std::string&) override {
        return dm::TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const dm::TPopupSpec&) override {}
};

bool HasEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// A window needs somewhere to appear: an X or Wayland display, or a platform chosen explicitly
// (offscreen for tests and benchmarks).
bool DisplayAvailable() {
    return HasEnvironment("DISPLAY") || HasEnvironment("WAYLAND_DISPLAY") || HasEnvironment("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    bool headless = !DisplayAvailable();
    for (const std::string& a : arguments)
        if (dm::EqualsNoCase(a, "-headless")) headless = true;

    if (!headless) {
        QApplication app(argc, argv);
        return dm::RunWindowed(arguments);
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(dm::ApplicationTitle));
    TStartupPrompts prompts;
    dm::TAppState state = dm::RunStartup(dm::TStartupEnvironment::Current(arguments), prompts);
    if (state.TerminateRequested) return 1;
    return dm::RunHeadless(state);
}
