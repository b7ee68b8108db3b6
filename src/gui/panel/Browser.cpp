#include "gui/panel/Browser.h"

#include "engine/ControlPanelRules.h"
#include "gui/main/GuiText.h"
#include "platform/System.h"

#include <QFileInfo>
#include <QLibrary>

#include <memory>

namespace dm {

namespace {

struct TLoader {
    TBrowserSetup setup;
    std::unique_ptr<TBrowserEngine> engine;
    std::string error;
    bool tried = false;
};

TLoader& Loader() {
    static TLoader loader;
    return loader;
}

// The rules every view applies, filled in here so that the module needs none of the engine.
TBrowserSetup Completed(TBrowserSetup setup) {
    const std::string base = setup.ServiceBaseUrl;
    setup.TargetOf = [base](const QUrl& url) {
        return BrowserTargetOf(url.toString(QUrl::FullyEncoded).toStdString(), base);
    };
    setup.PseudoAddressOf = [](const QUrl& url) {
        return AgentPseudoAddress(url.toString(QUrl::FullyEncoded).toStdString());
    };
    if (!setup.OpenExternal) setup.OpenExternal = [](const std::string& url) { ShellOpen(url); };
    return setup;
}

// Next to the program in the build tree, in the package's library folder once installed.
QString ModulePath() {
    const QString folder = QString::fromStdString(ExecutableFolder());
    for (const QString& candidate : {folder + QLatin1String(BrowserModuleName),
                                     folder + QStringLiteral("../lib/invara-desktop-manager/") +
                                         QLatin1String(BrowserModuleName)})
        if (QFileInfo::exists(candidate)) return candidate;
    return folder + QLatin1String(BrowserModuleName);
}

} // namespace

void SetBrowserSetup(const TBrowserSetup& setup) {
    TLoader& l = Loader();
    l.setup = Completed(setup);
    if (l.engine) l.engine->Configure(l.setup);
}

TBrowserTarget BrowserTargetOfAddress(const std::string& url) {
    return BrowserTargetOf(url, Loader().setup.ServiceBaseUrl);
}

TBrowserEngine* BrowserEngine() {
    TLoader& l = Loader();
    if (l.engine || l.tried) return l.engine.get();
    l.tried = true;
    if (!l.setup.TargetOf) l.setup = Completed(l.setup);
    // The module stays loaded for the life of the process: its profile belongs to the
    // application object.
    auto* library = new QLibrary(ModulePath());
    auto create = reinterpret_cast<TCreateBrowserEngine>(library->resolve(BrowserModuleEntry));
    if (!create) {
        l.error = EngineText(library->errorString());
        delete library;
        return nullptr;
    }
    l.engine.reset(create(l.setup));
    return l.engine.get();
}

const std::string& BrowserLoadError() { return Loader().error; }

bool BrowserEngineLoaded() { return Loader().engine != nullptr; }

void LoadHtmlIntoBrowser(TBrowserView& browser, const std::string& html) { browser.LoadHtml(GuiText(html)); }

} // namespace dm
