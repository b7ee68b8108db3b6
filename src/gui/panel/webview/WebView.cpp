// The browser engine module: QtWebEngine behind the interface of gui/panel/Browser.h. Only
// this library links QtWebEngine, and the agent loads it the first time a page view is wanted.

#include "gui/panel/Browser.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QQuickWidget>
#include <QRandomGenerator>
#include <QVBoxLayout>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <memory>

namespace dm {

namespace {

constexpr const char* LocalBase = "app://local/";

// The pages the agent writes are set as markup; nothing is ever fetched from app:.
class TAppSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::UrlNotFound); }
};

// Runs in the isolated world of every frame, where page scripts cannot see the token: link
// clicks on the agent's pseudo-addresses never reach the navigation handler (Chromium drops
// about: targets and fragment changes silently), so they are caught here and reported
// through the console; so is each sub-frame's load.
QString ReporterScript(const QString& token) {
    return QStringLiteral(R"JS((function () {
  const token = %1;
  document.addEventListener('click', function (e) {
    // A page script's synthetic click is not the user's.
    if (!e.isTrusted) return;
    const a = e.target && e.target.closest ? e.target.closest('a[href]') : null;
    if (!a) return;
    const href = a.href;
    if (href.startsWith('about:') || href.startsWith('app://local/')) {
      e.preventDefault();
      console.log(token + ' link ' + href);
    }
  }, true);
  if (window !== window.top)
    window.addEventListener('load', function () { console.log(token + ' complete ' + location.href); });
})();)JS")
        .arg(QString::fromUtf8(QJsonDocument(QJsonArray{token}).toJson(QJsonDocument::Compact).mid(1).chopped(1)));
}

QString JsonArgs(const QStringList& values) {
    QJsonArray a;
    for (const QString& v : values) a.append(v);
    const QByteArray json = QJsonDocument(a).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

class TWebEngine;

class TWebPage : public QWebEnginePage {
public:
    TWebPage(TWebEngine& engine, TBrowserEvents& events, QObject* parent);
    bool loadingHtml = false;
    bool untrusted = false;
    // A link the user followed out of an untrusted page: web addresses to the user's browser.
    void OpenOutside(const QUrl& url) const;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // Silent: nothing of the page's console reaches the user or the terminal.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override;

private:
    TWebEngine& engine_;
    TBrowserEvents& events_;
};

class TWebView : public TBrowserView {
public:
    TWebView(TWebEngine& engine, TBrowserEvents& events, QWidget* parent);
    ~TWebView() override;

    void Navigate(const QUrl& url) override { page_->load(url); }
    void LoadHtml(const QString& html) override {
        page_->loadingHtml = true;
        page_->setHtml(html, QUrl(QString::fromLatin1(LocalBase)));
    }
    void Back() override { page_->triggerAction(QWebEnginePage::Back); }
    void Refresh() override { page_->triggerAction(QWebEnginePage::Reload); }
    QUrl Url() const override { return page_->url(); }
    void PageText(std::function<void(const QString&)> done) override { page_->toHtml(std::move(done)); }
    void ContentType(std::function<void(const QString&)> done) override {
        page_->runJavaScript(QStringLiteral("document.contentType"), QWebEngineScript::ApplicationWorld,
                             [done](const QVariant& v) { done(v.toString()); });
    }
    void ElementAttribute(const QString& tag, const QString& id, const QString& attribute,
                          std::function<void(const QString&, const QString&)> done) override;
    void Print(std::function<void(bool)> done) override;
    void Activate() override {
        if (view_->focusProxy()) view_->focusProxy()->setFocus(Qt::OtherFocusReason);
        else view_->setFocus(Qt::OtherFocusReason);
    }
    void SetUntrusted() override {
        page_->untrusted = true;
        QWebEngineSettings* s = page_->settings();
        s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    }

    TWebPage* Page() const { return page_; }

private:
    QWebEngineView* view_;
    TWebPage* page_;
    TBrowserEvents& events_;
    QMetaObject::Connection focus_;
    bool focused_ = false;
};

class TWebEngine : public TBrowserEngine {
public:
    explicit TWebEngine(const TBrowserSetup& setup) : setup_(setup) {
        // Too late once the first profile exists; the module is loaded before any.
        if (QWebEngineUrlScheme::schemeByName("app").name().isEmpty()) {
            QWebEngineUrlScheme scheme("app");
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
            scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
            QWebEngineUrlScheme::registerScheme(scheme);
        }
        profile_ = new QWebEngineProfile(QStringLiteral("InvaraDesktopManager"), qApp);
        if (!setup.StorageFolder.empty()) {
            const QString folder = QString::fromStdString(setup.StorageFolder) + QStringLiteral("WebProfile");
            profile_->setPersistentStoragePath(folder);
            profile_->setCachePath(folder + QStringLiteral("/cache"));
        }
        profile_->installUrlSchemeHandler("app", new TAppSchemeHandler(profile_));
        QWebEngineSettings* s = profile_->settings();
        s->setAttribute(QWebEngineSettings::PluginsEnabled, true);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);

        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        for (quint32 w : words) token_ += QString::number(w, 16).rightJustified(8, QLatin1Char('0'));
        token_ = QStringLiteral("dm-") + token_;
        QWebEngineScript reporter;
        reporter.setName(QStringLiteral("dm-reporter"));
        reporter.setInjectionPoint(QWebEngineScript::DocumentCreation);
        reporter.setWorldId(QWebEngineScript::ApplicationWorld);
        reporter.setRunsOnSubFrames(true);
        reporter.setSourceCode(ReporterScript(token_));
        profile_->scripts()->insert(reporter);
    }

    TBrowserView* CreateView(TBrowserEvents& events, QWidget* parent) override {
        return new TWebView(*this, events, parent);
    }
    void Configure(const TBrowserSetup& setup) override { setup_ = setup; }

    QWebEngineProfile* Profile() const { return profile_; }
    const TBrowserSetup& Setup() const { return setup_; }
    const QString& Token() const { return token_; }

private:
    TBrowserSetup setup_;
    QWebEngineProfile* profile_;
    QString token_;
};

TWebPage::TWebPage(TWebEngine& engine, TBrowserEvents& events, QObject* parent)
    : QWebEnginePage(engine.Profile(), parent), engine_(engine), events_(events) {
    connect(this, &QWebEnginePage::windowCloseRequested, this, [this] { events_.BrowserWindowClose(); });
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        const QUrl url = request.requestedUrl();
        const TBrowserSetup& setup = engine_.Setup();
        if (untrusted) {
            if (request.isUserInitiated()) OpenOutside(url);
            return;
        }
        // A window with no address yet is filled by the page's script and stays with us.
        const TBrowserTarget target = url.isEmpty() ? TBrowserTarget::Agent : setup.TargetOf(url);
        if (target == TBrowserTarget::Desktop) {
            if (setup.OpenExternal) setup.OpenExternal(url.toString(QUrl::FullyEncoded).toStdString());
            return;
        }
        if (target != TBrowserTarget::Agent) return;
        if (TBrowserView* view = events_.BrowserNewWindow(url)) request.openIn(static_cast<TWebView*>(view)->Page());
        else if (!url.isEmpty() && setup.OpenExternal &&
                 (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")))
            setup.OpenExternal(url.toString(QUrl::FullyEncoded).toStdString());
    });
}

bool TWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    const TBrowserSetup& setup = engine_.Setup();
    if (url.scheme() == QLatin1String("data")) {
        // Only the markup the agent itself set; a page may not open data: documents.
        const bool ours = loadingHtml && isMainFrame;
        loadingHtml = false;
        if (ours) events_.BrowserBeforeNavigate(QUrl(QString::fromLatin1(LocalBase)));
        return ours;
    }
    const std::string pseudo = setup.PseudoAddressOf(url);
    if (!pseudo.empty() && pseudo != "about:blank" && pseudo != "about:srcdoc") {
        events_.BrowserPseudoLink(pseudo);
        return false;
    }
    if (untrusted) {
        if (type == NavigationTypeLinkClicked) OpenOutside(url);
        return false;
    }
    switch (setup.TargetOf(url)) {
    case TBrowserTarget::Agent:
        if (isMainFrame) events_.BrowserBeforeNavigate(url);
        return true;
    case TBrowserTarget::Desktop:
        // Only what the user clicked goes to the desktop; a script's redirect is just stopped.
        if (type == NavigationTypeLinkClicked && setup.OpenExternal)
            setup.OpenExternal(url.toString(QUrl::FullyEncoded).toStdString());
        return false;
    case TBrowserTarget::Refused: return false;
    }
    return false;
}

void TWebPage::OpenOutside(const QUrl& url) const {
    const TBrowserSetup& setup = engine_.Setup();
    if (!setup.OpenExternal || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) return;
    setup.OpenExternal(url.toString(QUrl::FullyEncoded).toStdString());
}

void TWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) {
    const QString& token = engine_.Token();
    if (!message.startsWith(token + QLatin1Char(' '))) return;
    const QString rest = message.mid(token.size() + 1);
    if (rest.startsWith(QLatin1String("link "))) {
        const std::string pseudo = engine_.Setup().PseudoAddressOf(QUrl(rest.mid(5)));
        if (!pseudo.empty()) events_.BrowserPseudoLink(pseudo);
    } else if (rest.startsWith(QLatin1String("complete "))) {
        events_.BrowserDocumentComplete(QUrl(rest.mid(9)));
    }
}

TWebView::TWebView(TWebEngine& engine, TBrowserEvents& events, QWidget* parent)
    : TBrowserView(parent), events_(events) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The page's render widget draws to a texture. Qt recreates a shown window's native window
    // the first time such a child appears in it, and a modal dialog then loses its modality;
    // a texture child from the start keeps the window as it was created.
    auto* texture = new QQuickWidget(this);
    texture->setFixedSize(0, 0);
    texture->hide();
    view_ = new QWebEngineView(this);
    page_ = new TWebPage(engine, events, view_);
    view_->setPage(page_);
    layout->addWidget(view_);
    setFocusProxy(view_);
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool) {
        events_.BrowserDownloadComplete();
        events_.BrowserDocumentComplete(page_->url());
    });
    focus_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        const bool in = now && (now == view_ || view_->isAncestorOf(now));
        if (in == focused_) return;
        focused_ = in;
        events_.BrowserFocus(in);
    });
}

TWebView::~TWebView() {
    // Nothing of a view that is going reaches its owner any more.
    disconnect(focus_);
    page_->disconnect(this);
    page_->disconnect(page_);
}

void TWebView::ElementAttribute(const QString& tag, const QString& id, const QString& attribute,
                                std::function<void(const QString&, const QString&)> done) {
    const QString script = QStringLiteral(R"JS((function (tag, id, attribute) {
  if (document.contentType !== 'text/html' || !(document instanceof HTMLDocument)) return {error: 'Invalid HTML document'};
  const body = document.body;
  if (!body) return {error: "Can't find <body> element"};
  const all = body.getElementsByTagName(tag.toUpperCase());
  for (let i = 0; i < all.length; ++i) {
    if (all[i].id !== id) continue;
    const v = attribute in all[i] ? all[i][attribute] : all[i].getAttribute(attribute);
    return {value: v === null || v === undefined ? '' : String(v)};
  }
  return {value: ''};
})(%1))JS")
                               .arg(JsonArgs({tag, id, attribute}));
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld, [done](const QVariant& v) {
        const QVariantMap m = v.toMap();
        if (m.contains(QStringLiteral("error"))) done(QString(), m.value(QStringLiteral("error")).toString());
        else done(m.value(QStringLiteral("value")).toString(), QString());
    });
}

void TWebView::Print(std::function<void(bool)> done) {
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), window());
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (dialog.exec() != QDialog::Accepted) {
        done(false);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(view_, &QWebEngineView::printFinished, this, [printer, connection, done](bool ok) {
        disconnect(*connection);
        QApplication::restoreOverrideCursor();
        done(ok);
    });
    view_->print(printer.get());
}

} // namespace

} // namespace dm

extern "C" Q_DECL_EXPORT dm::TBrowserEngine* dm_CreateBrowserEngine(const dm::TBrowserSetup& setup) {
    return new dm::TWebEngine(setup);
}
