#pragma once

// The seam between the windows and the browser engine. Every embedded page view is made by
// the one engine object behind BrowserEngine(), which lives in a module of its own
// (libdm_webview.so, linked against QtWebEngine) and is loaded the first time a view is
// wanted: starting the agent maps no browser. All views share one named profile, so the
// hidden re-sign-in view and the visible control panel share their session cookie.
//
// The classes here carry no Q_OBJECT on purpose: the module derives from them, and a
// meta-object would have to be shared across the library boundary.

#include "engine/ControlPanelRules.h"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <string>

namespace dm {

class TBrowserView;

// What a view reports to its owner, always on the main thread.
class TBrowserEvents {
public:
    virtual ~TBrowserEvents() = default;
    // A top-level navigation that will load inside the agent is about to start.
    virtual void BrowserBeforeNavigate(const QUrl& url) {}
    // The top frame finished loading (successfully or not).
    virtual void BrowserDownloadComplete() {}
    // A document completed: first each sub-frame, then the top frame.
    virtual void BrowserDocumentComplete(const QUrl& url) {}
    // A page asks for a new window on an address the agent may show: a view to load it in, or
    // null to hand the address to the user's browser.
    virtual TBrowserView* BrowserNewWindow(const QUrl& url) { return nullptr; }
    // A script of the page closed its window.
    virtual void BrowserWindowClose() {}
    // A link with one of the agent's pseudo-addresses ("about:link", "about:blank#x") was clicked.
    virtual void BrowserPseudoLink(const std::string& address) {}
    // The keyboard focus entered (true) or left (false) the page.
    virtual void BrowserFocus(bool in) {}
};

// One page view, a widget to place in a layout.
class TBrowserView : public QWidget {
public:
    using QWidget::QWidget;
    ~TBrowserView() override = default;

    virtual void Navigate(const QUrl& url) = 0;
    // Markup of the agent's own, on "app://local/" so that relative links resolve and come
    // back as pseudo-addresses. Chromium takes at most 2 MB this way.
    virtual void LoadHtml(const QString& html) = 0;
    virtual void Back() = 0;
    virtual void Refresh() = 0;
    virtual QUrl Url() const = 0;
    // The top document's markup as the browser holds it (comments kept).
    virtual void PageText(std::function<void(const QString&)> done) = 0;
    // document.contentType of the top document ("text/html", "application/pdf", ...).
    virtual void ContentType(std::function<void(const QString&)> done) = 0;
    // The attribute of the first element with that tag (any case) and id below the body, or
    // the empty text. error is set instead ("Invalid HTML document", "Can't find <body>
    // element") when the document is not HTML or has no body.
    virtual void ElementAttribute(const QString& tag, const QString& id, const QString& attribute,
                                  std::function<void(const QString& value, const QString& error)> done) = 0;
    // The system print dialog, then the page printed; done(false) when cancelled or failed.
    virtual void Print(std::function<void(bool printed)> done) = 0;
    // Keys go to the page.
    virtual void Activate() = 0;
    // For markup that came from the network (notification fragments): no page scripts, no
    // plug-ins, no local files, and nothing navigates inside the view any more; a link the user
    // follows to an http/https address opens in the user's browser, any other is dropped. The
    // agent's pseudo-addresses are still reported. Call before loading.
    virtual void SetUntrusted() = 0;
};

// Where the pages may go: the one policy every view applies before any navigation.
struct TBrowserSetup {
    // The service's base address: only its host's http/https pages load inside the agent.
    std::string ServiceBaseUrl;
    // Cookies, cache and local storage of the shared profile live here.
    std::string StorageFolder;
    // Opens an http/https address in the user's browser.
    std::function<void(const std::string& url)> OpenExternal;
    // Filled by the loader from the rules above (the module links none of the engine).
    std::function<TBrowserTarget(const QUrl& url)> TargetOf;
    std::function<std::string(const QUrl& url)> PseudoAddressOf;
};

class TBrowserEngine {
public:
    virtual ~TBrowserEngine() = default;
    virtual TBrowserView* CreateView(TBrowserEvents& events, QWidget* parent) = 0;
    // The policy in force (the base address may change when the options do).
    virtual void Configure(const TBrowserSetup& setup) = 0;
};

// Filled by the main window before the first view; cheap, loads nothing.
void SetBrowserSetup(const TBrowserSetup& setup);
// The policy of the views for an address that is about to be given to one.
TBrowserTarget BrowserTargetOfAddress(const std::string& url);
// The engine, loaded on the first call. Null when the module cannot be loaded; the reason is
// then in BrowserLoadError().
TBrowserEngine* BrowserEngine();
const std::string& BrowserLoadError();
// True once the module is in the process.
bool BrowserEngineLoaded();

// Loads the agent's own markup into a view (the summary, help pages, notification text).
void LoadHtmlIntoBrowser(TBrowserView& browser, const std::string& html);

// The module's entry point, resolved by name.
using TCreateBrowserEngine = TBrowserEngine* (*)(const TBrowserSetup& setup);
inline constexpr const char* BrowserModuleEntry = "dm_CreateBrowserEngine";
inline constexpr const char* BrowserModuleName = "libdm_webview.so";

} // namespace dm
