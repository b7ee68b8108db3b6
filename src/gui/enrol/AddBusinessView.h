#pragma once

// The Add Biller wizard's window: the login page, the confirmation, the connect text, the
// QuickBooks check and the last page, with Back, Next and Cancel below. What happens on each
// page is decided by the engine's TAddBusiness; this window shows it and passes the buttons on.

#include "engine/AddBusiness.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTextBrowser;

namespace dm {

class TUserPrompts;
struct TAppState;

// The service's web setup, run modally once the QuickBooks check has passed when the
// confirmation asked for it. Whichever way it ends, the wizard goes on to its last page.
using TBusinessSetupRunner =
    std::function<void(QWidget* parent, const std::string& userName, const std::string& password)>;
// A replacement for the setup window (tests); empty, the wizard runs TBusinessSetupWizard.
TBusinessSetupRunner& BusinessSetupRunner();

class TAddBusinessView : public QDialog {
    Q_OBJECT
public:
    TAddBusinessView(TAddBusiness& wizard, const TAppState& app, TUserPrompts& prompts, QWidget* parent = nullptr);

    // Pages, in order.
    QStackedWidget* Pages;
    QWidget* stepUserNamePassword;
    QWidget* stepConfirmAccount;
    QWidget* stepConnectQB;
    QWidget* stepConfirmQB;
    QWidget* stepDone;

    QLabel* Label3;
    QLabel* Label4; // the sign-up link of the hosted variants
    QLabel* Label9;
    QLineEdit* txtUserName;
    QLineEdit* txtPassword;
    QLabel* lblConfirmText;
    QProgressBar* aniConfirmAccount;
    QTextBrowser* htmlConnect;
    QProgressBar* aniConfirmQB;
    QTextBrowser* htmlQbError;
    QPushButton* btnBack;
    QPushButton* btnNext;
    QPushButton* btnCancel;

    QTimer tmrStartup;
    QTimer tmrConnectQB;
    QTimer tmrDone;
    QTimer tmrClose;

    // The main window comes out of the notification area when the wizard comes to the front.
    std::function<void()> ShowMainWindow;
    TBusinessSetupRunner RunSetupWizard = BusinessSetupRunner();

    void btnNextClick();
    void btnBackClick();

public slots:
    // Cancel; Escape only where Cancel is offered.
    void reject() override;

private:
    void GoTo(QWidget* page);
    void Confirmed(TConfirmStep step, const std::string& message);
    void ConfirmFailed(const std::string& text);
    void tmrStartupTimer();
    void tmrConnectQBTimer();
    void tmrDoneTimer();
    void tmrCloseTimer();

    TAddBusiness& wizard_;
    const TAppState& app_;
    TUserPrompts& prompts_;
};

} // namespace dm
