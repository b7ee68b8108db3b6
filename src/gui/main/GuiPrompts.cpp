#include "gui/main/GuiPrompts.h"

#include "core/General.h"
#include "engine/AppState.h"
#include "engine/ControlPanelRules.h"
#include "gui/dialogs/HtmlWindow.h"
#include "gui/dialogs/QBFileNotFound.h"
#include "gui/invoices/UnsentInvoices.h"
#include "gui/main/GuiText.h"
#include "gui/main/Main.h"
#include "gui/panel/AuthFailed.h"
#include "gui/panel/Browser.h"
#include "gui/panel/ControlPanel.h"
#include "gui/panel/WebPopup.h"
#include "gui/sync/UnableConfirm.h"
#include "platform/System.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

namespace dm {

namespace {

// Another biller's dialog may already be open: the new one sits below and right of it, so that
// neither hides the other.
void AwayFromOpenDialog(QWidget& dialog) {
    if (QWidget* open = QApplication::activeModalWidget(); open && open != &dialog && open->isVisible())
        dialog.move(open->pos() + QPoint(32, 32));
}

int Box(QWidget* owner, QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QString::fromLatin1(ApplicationTitle), GuiMessageText(text), buttons, owner);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText); // texts from the service are never markup
    box.adjustSize();
    AwayFromOpenDialog(box);
    return box.exec();
}

void CentreOnScreen(QWidget& window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
    }
    AwayFromOpenDialog(window);
}

} // namespace

void TGuiPrompts::ShowMessage(const std::string& text) {
    Box(Owner, QMessageBox::NoIcon, text, QMessageBox::Ok);
}

void TGuiPrompts::ShowError(const std::string& text) { Box(Owner, QMessageBox::Critical, text, QMessageBox::Ok); }

bool TGuiPrompts::AskYesNo(const std::string& question) {
    return Box(Owner, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

TAnswer TGuiPrompts::AskYesNoCancel(const std::string& question) {
    switch (Box(Owner, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return TAnswer::Yes;
    case QMessageBox::No: return TAnswer::No;
    default: return TAnswer::Cancel;
    }
}

std::optional<std::string> TGuiPrompts::AskPassword(const std::string& businessName, const std::string& billerId,
                                                    const std::string& userName) {
    TUnableConfirm dialog(businessName, billerId, userName, Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return EngineText(dialog.txtPassword->text());
}

std::optional<TCredentials> TGuiPrompts::AskCredentials(const std::string& businessName, const TCredentials& current) {
    TAuthFailed dialog(businessName, current.UserName, current.Password, Owner);
    CentreOnScreen(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return TCredentials{EngineText(dialog.txtUserName->text(), current.UserName),
                        EngineText(dialog.txtPassword->text(), current.Password)};
}

bool TGuiPrompts::AskOkCancel(const std::string& question) {
    return Box(Owner, QMessageBox::Question, question, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

TFileNotFoundChoice TGuiPrompts::AskCompanyFileNotFound(const std::string& path, const std::string& businessName,
                                                       const std::string& billerId) {
    TQBFileNotFound dialog(*this, Owner);
    dialog.ShowFileNotFound(path, businessName, billerId);
    // The order in which the choices are tested, should more than one be set.
    if (dialog.ChoseDisable) return TFileNotFoundChoice::Disable;
    if (dialog.ChoseRemove) return TFileNotFoundChoice::Remove;
    if (dialog.ChoseLink) return TFileNotFoundChoice::Link;
    return TFileNotFoundChoice::None;
}

std::function<void(TBrowserView*)> TGuiPrompts::ActiveBrowserHook() const {
    QPointer<TMain> main = qobject_cast<TMain*>(Owner.data());
    return [main](TBrowserView* browser) {
        if (main) main->SetActiveBrowser(browser);
    };
}

void TGuiPrompts::ShowServicePopup(const TPopupSpec& popup) {
    // A page of another host is the user's browser's business; other addresses are not opened:
    // the address comes from the network, so it is a web page or nothing, never a program.
    if (!popup.Url.empty()) {
        const TBrowserTarget target = BrowserTargetOfAddress(popup.Url);
        if (target == TBrowserTarget::Desktop && !OpenWebAddress(popup.Url))
            Box(Owner, QMessageBox::Warning,
                "No program is set up on this computer to open web pages.\r\r" + TextHead(popup.Url, 1024),
                QMessageBox::Ok);
        if (target != TBrowserTarget::Agent) return;
    }
    TWebPopup window(*this, Owner);
    window.ControlPanel1->OnActiveBrowser = ActiveBrowserHook();
    window.StartUrl = popup.Url;
    QRect area(0, 0, 1024, 768);
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
    window.ApplyGeometry(PopupGeometry(popup, area.width(), area.height()));
    if (popup.HideMaximize) window.HideMaximize();
    if (popup.Maximized) window.setWindowState(Qt::WindowMaximized);
    window.exec();
}

void TGuiPrompts::ShowHtml(const std::string& caption, const std::string& html) {
    TWebPopup window(*this, Owner);
    if (!window.ControlPanel1->Web) {
        // Without the browser module the summary is still readable, if without its toolbar.
        THtmlWindow fallback(GuiText(caption), GuiText(html), Owner);
        fallback.exec();
        return;
    }
    window.ControlPanel1->OnActiveBrowser = ActiveBrowserHook();
    LoadHtmlIntoBrowser(*window.ControlPanel1->Web, html);
    window.setWindowTitle(GuiText(caption));
    window.exec();
}

void TGuiPrompts::ShowNotification(bool onlyWhenHidden, const std::string& fragment) {
    // The popup belongs to the main window; before it exists there is nowhere to show one.
    if (auto* main = qobject_cast<TMain*>(Owner.data())) main->ShowNotification(onlyWhenHidden, fragment);
}

TReviewResult TGuiPrompts::ReviewUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool allowAttachments) {
    TUnsentInvoices dialog(frame, files, allowAttachments, Owner);
    int workArea = 600;
    if (QScreen* screen = QGuiApplication::primaryScreen()) workArea = screen->availableGeometry().height();
    dialog.resize(700, ReviewWindowHeight(workArea));
    CentreOnScreen(dialog);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (!dialog.FileError.empty()) throw TUnsentInvoiceError(dialog.FileError);
    return {!accepted || dialog.ClosedByBox, dialog.chkDoNotSend->isChecked()};
}

} // namespace dm
