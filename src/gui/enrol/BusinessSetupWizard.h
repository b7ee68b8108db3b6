#pragma once

// The service's own setup pages for a business it has not finished setting up, shown in the
// embedded browser after the Add Biller wizard's QuickBooks check. The window signs in with the
// new biller's login and closes by itself once a page reports success. The user may also close
// it (Escape or the close box), and it closes when the sign-in gives no session.

#include "gui/panel/Browser.h"
#include "net/Web.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <string>

namespace dm {

struct TAppState;

extern const char* const BusinessSetupSuccessMarker;

class TBusinessSetupWizard : public QDialog, private TBrowserEvents {
    Q_OBJECT
public:
    TBusinessSetupWizard(const TAppState& app, QWidget* parent = nullptr);
    ~TBusinessSetupWizard() override;

    TBrowserView* Web = nullptr; // null when the browser module cannot be loaded
    std::string UserName;
    std::string Password;

    // Sends the sign-in; the setup pages follow its answer.
    void Start();

signals:
    // A completed document was read (tests wait for it).
    void documentRead(const QUrl& url);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BrowserDocumentComplete(const QUrl& url) override;
    void SignInResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void PlaceBrowser();
    void CloseOnce();

    const TAppState& app_;
    bool closing_ = false;
};

// Runs the window modally for the Add Biller wizard.
void RunBusinessSetupWizard(const TAppState& app, QWidget* parent, const std::string& userName,
                            const std::string& password);

} // namespace dm
