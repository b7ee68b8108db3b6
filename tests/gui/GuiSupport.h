#pragma once

// What the window tests share: screenshots, answering modal dialogs, scripted prompts and a
// main window on the real engine against the local service and the QuickBooks stand-in.

#include "engine/AppState.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "gui/main/Main.h"

#include "ScriptedPrompts.h"
#include "TestService.h"
#include "TestSupport.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace dmtest {

// Saves what the widget shows as build/screenshots/NAME.png and returns the path.
std::string SaveScreenshot(QWidget* widget, const std::string& name);
std::string SaveImage(const QImage& image, const std::string& name);

// Runs the action on the next modal dialog, once it is open (a nested event loop runs then);
// the About box of a start-up update check is passed over.
void WhenModal(std::function<void(QWidget*)> action);


nlohmann::json Account(const std::string& user, const std::string& name, const std::string& id);
// A settings file entry for the account.
std::string Business(const std::string& user, const std::string& name, const std::string& id);

// Points XDG_CONFIG_HOME and XDG_CONFIG_DIRS into a fresh folder for the life of a test, so
// that no test touches the autostart entries of the user running it.
class TXdgFolders {
public:
    TXdgFolders();
    ~TXdgFolders();
    std::string UserEntry() const;
    std::string SystemEntry() const;
    void WriteEntry(const std::string& path, const std::string& text) const;

    TempDir dir;
    const std::string user, system;

private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

struct TWindowFixture {
    TempDir dir;
    std::unique_ptr<dm::TTestService> service;
    dm::TAppState app;
    TScriptedPrompts prompts;
    std::unique_ptr<dm::TMainEngine> engine;
    std::unique_ptr<dm::TMain> window;

    explicit TWindowFixture(nlohmann::json accounts, nlohmann::json faults = nlohmann::json::array());
    ~TWindowFixture();

    // The settings file with these <business> entries.
    void Settings(const std::string& businesses);
    // Engine and window as the program builds them, billers loaded, window shown.
    void Open(bool trayAvailable = false);
    // Every biller's account confirmation has been answered.
    bool WaitConfirmed();
    dm::TSync* Biller(size_t index) const { return engine->Billers().at(index); }
    std::string QbHome() const { return dir.Folder() + "qb/"; }
    // Drives the stand-in's command line, as a user at QuickBooks would.
    void Qb(const QStringList& args) const;
};

} // namespace dmtest
