// The program's entry: start-up, then the windowed or the headless front end.

#include "app/Headless.h"
#include "engine/AppState.h"
#include "engine/Startup.h"
#include "engine/UserPrompts.h"

#include <QCoreApplication>

#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(dm::ApplicationTitle));

    std::vector<std::string> arguments(argv + 1, argv + argc);
    TStartupPrompts prompts;
    dm::TAppState state = dm::RunStartup(dm::TStartupEnvironment::Current(arguments), prompts);
    if (state.TerminateRequested) return 1;

    // The window comes with the widgets layer; until then every start is headless.
    return dm::RunHeadless(state);
}
