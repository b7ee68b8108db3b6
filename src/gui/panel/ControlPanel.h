#pragma once

// The service's web control panel inside a biller's tab, and the same frame inside every web
// popup. It signs the biller's user in with a form post, opens the start page with the session
// id, and acts on the command markers that the service writes into its pages as comments.

#include "engine/ControlPanelRules.h"
#include "gui/panel/Browser.h"
#include "net/Web.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QPushButton;

namespace dm {

class TMainEngine;
class TSync;
class TUserPrompts;

// The wait indicator: a turning arc, 30 x 30.
class TWaitAnim : public QWidget {
public:
    explicit TWaitAnim(QWidget* parent);
    void Start();
    void Stop();
    bool Animating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QTimer timer_;
    int step_ = 0;
};

class TControlPanel : public QWidget, private TBrowserEvents {
    Q_OBJECT
public:
    // engine is null in a popup, which never signs in.
    TControlPanel(TUserPrompts& prompts, TMainEngine* engine, bool isPopup, QWidget* parent = nullptr);
    ~TControlPanel() override;

    TWaitAnim* WaitAnim;
    QWidget* WebContain;
    TBrowserView* Web = nullptr;          // null when the browser module cannot be loaded
    QWidget* Panel2;                      // never shown
    TBrowserView* WebReconnect = nullptr; // made on the first reconnect
    QWidget* Panel1;
    QPushButton* btnBack;
    QPushButton* btnPrint;
    QPushButton* btnClose;

    QPointer<TSync> Sync;
    bool Reconnecting = false;
    bool AtHome = false;
    std::string Password;
    bool RememberPassword = false;
    bool Closed = false;
    const bool IsPopup;

    // False only when the user cancelled the sign-in dialog.
    bool Login(TSync* sync);
    void Reconnect();
    void RefreshIfHome();
    void ActivateBrowser();
    // The attribute, or an error text; the answer comes asynchronously.
    void GetElementAttribute(const QString& tag, const QString& id, const QString& attribute,
                             std::function<void(const QString& value, const QString& error)> done);
    void btnBackClick();
    void btnPrintClick();
    void btnCloseClick();

    // The page gained (the view) or lost (null) the keyboard focus: the main window's
    // SetActiveBrowser. Popups made for new windows hand it on.
    std::function<void(TBrowserView*)> OnActiveBrowser;

signals:
    // The panel is to be freed by the main window, after the current handler has returned.
    void closeRequested(dm::TSync* sync);
    // A page of this panel finished its markers (tests and benchmarks wait for it).
    void pageProcessed(const QUrl& url);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class TReconnectEvents;
    void LoginResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    // The close action: at most once, then nothing of the frame is touched again.
    void RequestClose();
    void ShowPrintToolbar();
    void WebBeforeNavigate2(const QUrl& url);
    void WebDownloadComplete();
    void WebDocumentComplete(const QUrl& url);
    void PageLoaded(const QUrl& url, const QString& text, const QString& contentType);
    void WebReconnectDownloadComplete();
    TBrowserView* WebNewWindow2(const QUrl& url);
    void SetActiveBrowser(TBrowserView* browser);

    // Browser events of Web.
    void BrowserBeforeNavigate(const QUrl& url) override { WebBeforeNavigate2(url); }
    void BrowserDownloadComplete() override { WebDownloadComplete(); }
    void BrowserDocumentComplete(const QUrl& url) override { WebDocumentComplete(url); }
    TBrowserView* BrowserNewWindow(const QUrl& url) override { return WebNewWindow2(url); }
    void BrowserWindowClose() override;
    void BrowserFocus(bool in) override { SetActiveBrowser(in ? Web : nullptr); }

    TUserPrompts& prompts_;
    TMainEngine* engine_;
    std::unique_ptr<TReconnectEvents> reconnectEvents_;
    // Read after each page so that a new-window request, which must be answered at once,
    // knows whether the page asks for the user's browser.
    QString newWindowExternal_;
    int reconnectRefusals_ = 0;
};

} // namespace dm
