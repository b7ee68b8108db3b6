#include "gui/dialogs/QBFileNotFound.h"

#include "core/General.h"
#include "gui/main/GuiPrompts.h"
#include "gui/main/GuiText.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace dm {

const char* const RemoveAccountQuestion = "Are you sure you want to remove this account from the Desktop Manager?";
const char* const LinkCompanyFileQuestion =
    "Open the company file in QuickBooks you want to link your \rInvara account to then click the OK button to "
    "continue.";

std::string FileNotFoundPage(const std::string& filePath, const std::string& billerName, const std::string& billerId) {
    std::string page =
        "<head><style type=\"text/css\">HTML { overflow: auto; }BODY { overflow: auto; font-family: Arial; font-size: "
        "10pt; }H1 { font-family: Arial; font-size: 14pt; font-weight: bold; }A { font-weight: bold; font-size: 12pt; "
        "color: #4040C0; }</style></head><body><h1>Your QuickBooks Company file could not be found.</h1><p "
        "style=\"margin-bottom: 4px;\">Your Invara account for ";
    page += HtmlEscape(billerName);
    page += " (Biller #";
    page += HtmlEscape(billerId);
    page += ") ";
    page += "is linked to a specific company file which was located at:</p>";
    page += "<p style=\"margin-top: 8px;\"><b>";
    page += HtmlEscape(filePath);
    page += "</b></p>";
    page += "<p>";
    page += "To resolve this ";
    page += "error you can choose one of the following three solutions:";
    page += "</p>";
    page += "<p><a href=\"link\">Link to New Company File Location</a><br>";
    page += "Select a different company file to synchronize with your existing ";
    page += "Invara account. Only use this option to synchronize ";
    page += "to the same company that has been moved to a different location or given ";
    page += "a different filename. Synchronizing with a different company will cause ";
    page += "problems in your Invara account.</p>";
    page += "<p><a href=\"disable\">Disable Auto Sync</a><br>Turn off auto-sync for now until ";
    page += "you have been able to restore your company file to its' original location.</p>";
    page += "<p><a href=\"remove\">Remove Account</a><br>Remove this biller account ";
    page += "from your Desktop Manager. The biller account will no longer be synchronized ";
    page += "with Invara.</p>";
    page += "</body>";
    return page;
}

TQBFileNotFound::TQBFileNotFound(TGuiPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("QBFileNotFound"));
    setWindowTitle(QStringLiteral("QuickBooks Company File Not Found"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ApplyFormFont(this);
    setFixedSize(499, 453);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Web = new QTextBrowser(this);
    Web->setObjectName(QStringLiteral("Web"));
    // Links are commands of the dialog: the page never navigates.
    Web->setOpenLinks(false);
    Web->setOpenExternalLinks(false);
    connect(Web, &QTextBrowser::anchorClicked, this, &TQBFileNotFound::WebBeforeNavigate2);
    layout->addWidget(Web);
}

void TQBFileNotFound::ShowFileNotFound(const std::string& filePath, const std::string& billerName,
                                       const std::string& billerId) {
    FilePath = filePath;
    BillerName = billerName;
    BillerId = billerId;
    Web->setHtml(GuiText(FileNotFoundPage(FilePath, BillerName, BillerId)));
    exec();
}

void TQBFileNotFound::WebBeforeNavigate2(const QUrl& url) {
    // The page is loaded into a blank document, so its relative links name "about:" targets.
    const QString target = url.scheme().isEmpty() ? QStringLiteral("about:") + url.toString() : url.toString();
    if (target == QLatin1String("about:remove")) {
        if (!prompts_.AskYesNo(RemoveAccountQuestion)) return;
        ChoseRemove = true;
        accept();
    } else if (target == QLatin1String("about:disable")) {
        ChoseDisable = true;
        accept();
    } else if (target == QLatin1String("about:link")) {
        if (!prompts_.AskOkCancel(LinkCompanyFileQuestion)) return;
        ChoseLink = true;
        accept();
    }
}

} // namespace dm
