#include "gui/enrol/BusinessSetupWizard.h"

#include "engine/AppState.h"
#include "engine/ControlPanelRules.h"
#include "gui/main/GuiText.h"
#include "net/Web.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace dm {

const char* const BusinessSetupSuccessMarker = "<!-- DMCOMMAND_SUCCESS";

TBusinessSetupWizard::TBusinessSetupWizard(const TAppState& app, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      app_(app) {
    setObjectName(QStringLiteral("BusinessSetupWizard"));
    setWindowTitle(QStringLiteral("Invara Business Setup"));
    ApplyFormFont(this);
    // 684 wide; as high as the work area allows less the frame and 20 pixels, at most 905.
    QRect area(0, 0, 1024, 768);
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
    const int frame = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int height = std::clamp(area.height() - frame - 20, 200, 905);
    setFixedSize(684, height);
    move(area.center() - QPoint(684 / 2, height / 2));
    if (TBrowserEngine* engine = BrowserEngine()) {
        Web = engine->CreateView(*this, this);
        Web->setObjectName(QStringLiteral("Web"));
    }
    PlaceBrowser();
}

TBusinessSetupWizard::~TBusinessSetupWizard() {
    // A page being destroyed may still answer a pending read: nothing of this window runs then.
    closing_ = true;
    delete Web;
    Web = nullptr;
}

void TBusinessSetupWizard::Start() {
    if (!Web) {
        // Without the browser the setup cannot be shown; the wizard goes on.
        QTimer::singleShot(0, this, [this] { CloseOnce(); });
        return;
    }
    WebPost(app_.BusinessUrl + "dm_authenticate_2.php?DBGSESSID=1",
            std::vector<std::string>{"un=" + UserName, "pw=" + Password}, FormContentType, {},
            WebHandler(this, &TBusinessSetupWizard::SignInResponse), this);
}

void TBusinessSetupWizard::SignInResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (closing_) return;
    // A sign-in that fails on the network would otherwise leave a window with no way out.
    if (status == wsFailed) return CloseOnce();
    if (status != wsDone) return;
    const TSignInReply reply = ParseSignInReply(text);
    if (reply.sid.empty()) return CloseOnce();
    Web->Navigate(QUrl(GuiText(app_.BusinessUrl + "dm_start.php?sid=" + reply.sid + "&p=dm_setup")));
}

void TBusinessSetupWizard::BrowserDocumentComplete(const QUrl& url) {
    if (closing_ || !Web) return;
    QPointer<TBusinessSetupWizard> self(this);
    Web->PageText([self, url](const QString& text) {
        if (!self || self->closing_) return;
        emit self->documentRead(url);
        if (text.contains(QLatin1String(BusinessSetupSuccessMarker))) self->CloseOnce();
    });
}

void TBusinessSetupWizard::CloseOnce() {
    if (closing_) return;
    closing_ = true;
    accept();
}

void TBusinessSetupWizard::PlaceBrowser() {
    // The browser overlaps the client area by 2 pixels so that its own border stays hidden.
    if (Web) Web->setGeometry(-2, -2, width() + 4, height() + 4);
}

void TBusinessSetupWizard::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceBrowser();
}

void TBusinessSetupWizard::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    PlaceBrowser();
}

void RunBusinessSetupWizard(const TAppState& app, QWidget* parent, const std::string& userName,
                            const std::string& password) {
    TBusinessSetupWizard window(app, parent);
    window.UserName = userName;
    window.Password = password;
    window.Start();
    window.exec();
}

} // namespace dm
