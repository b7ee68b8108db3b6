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

const char* const UsageText =
    "Usage: invara-desktop-manager [SWITCH]...\n"
    "       invara-desktop-manager -headless (-syncall | -sync=ID) [SWITCH]...\n"
    "       invara-desktop-manager -headless -addbiller -user=NAME [SWITCH]... < password\n"
    "\n"
    "Links QuickBooks company files to the Invara invoicing service. The window opens when a\n"
    "display is there and -headless is not given; otherwise the agent runs headless, prints each\n"
    "step and a summary line per biller, and ends. A second start hands its switches to the\n"
    "running copy. Switch names compare without case; unknown arguments are ignored.\n"
    "\n"
    "  -headless              run without a window\n"
    "  -syncall               headless: synchronise every biller in turn\n"
    "  -sync=ID               headless: synchronise the biller with this id\n"
    "  -addbiller -user=NAME  headless: enrol the account NAME as a new biller; the password\n"
    "                         is read from standard input\n"
    "  -m                     start in the notification area\n"
    "  -options               open the options, then end\n"
    "  -storage=FOLDER        settings and logs in FOLDER (default ~/.local/share/Invara/)\n"
    "  -storageadduser        add the user's name to that folder\n"
    "  -localtest, -dev, -qa, -beta, -aws\n"
    "                         the service environment (the last one wins)\n"
    "  -baseurl=URL           any service root\n"
    "  -ih                    the alternate HTTP client\n"
    "  -hf, -hft, -loginexternal, -rightnetworks, -cloud9, -unidata, -hosted\n"
    "                         hosted and partner variants\n"
    "  --help                 this text\n"
    "  --version              the version\n"
    "\n"
    "Headless exit status: 0 every biller ended without errors, 1 one failed, 2 no biller.\n"
    "With -addbiller: 0 the biller was added, 1 it was not (the reason is printed).\n";

} // namespace

int main(int argc, char** argv) {
    dm::IgnoreBrokenPipes();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // Answered before anything starts, so that neither reaches a running copy.
    for (const std::string& a : arguments) {
        if (a == "--help") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (a == "--version") {
            dm::TVersionInfo version;
            std::printf("invara-desktop-manager %s (build %s)\n", version.VersionText().c_str(),
                        version.BuildNumber().c_str());
            return 0;
        }
    }
    bool headless = !DisplayAvailable();
    for (const std::string& a : arguments)
        if (dm::EqualsNoCase(a, "-headless")) headless = true;

    if (!headless) {
        // The browser module, loaded later, shares OpenGL contexts with the widgets.
        QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
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
