#include "gui/main/WindowedStart.h"

#include "core/KvXml.h"
#include "engine/MainEngine.h"
#include "engine/Startup.h"
#include "gui/dialogs/AboutView.h"
#include "gui/main/Main.h"
#include "gui/main/Pictures.h"
#include "gui/main/SingleInstance.h"
#include "platform/Autostart.h"
#include "platform/System.h"
#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QSessionManager>

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
    if (!State.HostedMode) {
        TAboutView about(State, Prompts, Window.get());
        about.ShowStartupCheck();
    }
    // The package went to the installer, which replaces this program: nothing more starts.
    if (State.UpdateLaunched) {
        ExitCode = 0;
        return false;
    }
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

    // SIGTERM, SIGINT and SIGHUP end the program as File > Exit does. Watched before the start,
    // whose message boxes turn event loops of their own.
    TTerminationSignals terminations;
    TWindowedProgram program(state);
    // The running copy ignores the arguments of the second one and only comes to the front.
    QObject::connect(&guard, &TSingleInstance::activated, [&program] {
        if (program.Window) program.Window->BringToFront();
    });
    QObject::connect(&terminations, &TTerminationSignals::received, [&program] {
        if (program.Window) program.Window->Exit();
    });
    // The session manager's logout: the settings first (another program may still cancel the
    // logout), then, when the application quits, the orderly end of every session.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, [&program](QSessionManager&) {
        if (program.Engine) program.Engine->SaveSettings();
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&program] {
        if (program.Window) program.Window->Shutdown();
    });
    auto exitCode = [&terminations](int otherwise) {
        return terminations.Received() ? TTerminationSignals::ExitCode(terminations.Received()) : otherwise;
    };
    // A quit asked for before the event loop runs would be lost: the start checks for it.
    if (!program.Start() || terminations.Received()) return exitCode(program.ExitCode);
    return exitCode(QApplication::exec());
}

} // namespace dm
