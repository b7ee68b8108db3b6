#include "gui/main/WindowedStart.h"

#include "core/KvXml.h"
#include "engine/MainEngine.h"
#include "engine/Startup.h"
#include "gui/main/Main.h"
#include "gui/main/Pictures.h"
#include "gui/main/SingleInstance.h"
#include "platform/Autostart.h"
#include "platform/System.h"

#include <QApplication>

namespace dm {

TWindowedProgram::TWindowedProgram(TAppState& state) : State(state) {}

TWindowedProgram::~TWindowedProgram() {
    Window.reset(); // saves the settings and closes every biller
    Engine.reset();
    // The parser's messages went to this program's prompts, which go now.
    TKvXML::SetMessageHandler(previousHandler_);
}

bool TWindowedProgram::Start() {
    Engine = std::make_unique<TMainEngine>(State, Prompts);
    Window = std::make_unique<TMain>(State, *Engine, Prompts);
    Prompts.Owner = Window.get();
    previousHandler_ = TKvXML::SetMessageHandler([this](const std::string& m) { Prompts.ShowMessage(m); });

    Engine->LoadSettings(true);
    if (State.TerminateRequested) return false;
    // The start-up update check of the About box comes with the About box.
    Window->LoadBillers();
    if (State.TerminateRequested) return false;

    MigrateAutostart(TAutostartPaths::Default(), ExecutablePath());
    if (State.OptionsOnly) {
        Window->ShowOptions(true);
        State.RequestTerminate();
        ExitCode = 0;
        return false;
    }
    // A first start meets the Add Biller wizard; whoever cancels it ends the program.
    if (Engine->Billers().empty()) {
        Window->AddBiller();
        if (Engine->Billers().empty()) {
            State.RequestTerminate();
            ExitCode = 0;
            return false;
        }
    }
    if (!State.StartMinimized) Window->show();
    Window->StartTimers();
    return true;
}

int RunWindowed(const std::vector<std::string>& arguments) {
    QApplication::setQuitOnLastWindowClosed(false); // the window hides to the tray
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    // Lets the desktop link the windows to the installed entry (its icon, its name).
    QGuiApplication::setDesktopFileName(QStringLiteral("invara-desktop-manager"));
    QApplication::setWindowIcon(AppIcon());

    QStringList handed;
    for (const std::string& a : arguments) handed << QString::fromStdString(a);
    TSingleInstance guard;
    if (!guard.Claim(handed)) return 0;

    TGuiPrompts startupPrompts;
    TAppState state = RunStartup(TStartupEnvironment::Current(arguments), startupPrompts);
    if (state.TerminateRequested) return 1;

    TWindowedProgram program(state);
    // The running copy ignores the arguments of the second one and only comes to the front.
    QObject::connect(&guard, &TSingleInstance::activated, [&program] {
        if (program.Window) program.Window->BringToFront();
    });
    if (!program.Start()) return program.ExitCode;
    return QApplication::exec();
}

} // namespace dm
