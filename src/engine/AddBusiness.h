#pragma once

// Enrolling a biller: the login check, the account confirmation and the QuickBooks check that
// the Add Biller wizard runs, and the new biller made from what they found. The wizard's window
// and the headless enrolment both drive this object; neither decides anything of its own.

#include "engine/AccountConfirmation.h"
#include "engine/Settings.h"
#include "net/Web.h"

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

namespace dm {

class TMainEngine;

extern const char* const EnterLoginMessage;
extern const char* const AlreadyLinkedMessage;
extern const char* const ConnectionFailedText; // followed by the error number

// Where the wizard goes with a confirmation answer, in the order of precedence.
enum class TConfirmStep {
    Done,     // the account is set up: no QuickBooks step, no web setup
    Connect,  // the QuickBooks step comes next
    Back,     // back to the login, with the service's message when it sent one
    Stay,     // none of these: the wizard waits on its confirmation page
};
TConfirmStep ConfirmStepOf(const TConfirmationReply& reply);

// The fixed pages the wizard shows. Service texts enter them HTML-escaped.
std::string ConnectPageHtml(const std::string& businessName);
std::string QuickBooksErrorHtml(const std::string& errorMessage);

class TAddBusiness : public QObject {
    Q_OBJECT
public:
    explicit TAddBusiness(TMainEngine& main, QObject* parent = nullptr);

    // What the user typed.
    std::string UserName;
    std::string Password;

    // What the confirmation found.
    std::string BusinessName;
    std::string BusinessId;
    std::string BusinessType = "qbd";
    bool SetupWizard = false;

    // Next on the login page: the messages to show, in order, and the box that takes the focus.
    struct TLoginCheck {
        enum TFocus { None, UserNameBox, PasswordBox };
        std::vector<std::string> Messages;
        TFocus Focus = None;
        bool Ok() const { return Messages.empty(); }
    };
    TLoginCheck CheckLogin() const;

    // Sends the confirmation; the answer comes as confirmed() or confirmFailed().
    void ConfirmAccount();
    bool Confirming() const { return confirming_; }

    // Opens a session with the company file open in QuickBooks and ends it again. Empty when
    // that worked; otherwise QuickBooks' message.
    std::string CheckQuickBooks();

    // The wizard closes with OK: the one-session flag is cleared for the first session, unless
    // another biller's session holds it.
    void Finish();

    // The biller the main window adds from the five values.
    BillerRecord NewBiller() const;
    // Whether the new biller's first session starts at once.
    bool StartsFirstSession() const;

signals:
    // message: the service's text for a step back (may be empty).
    void confirmed(dm::TConfirmStep step, const std::string& message);
    // The request failed at the network level: the text to show, with the error number.
    void confirmFailed(const std::string& text);

private:
    void ConfirmAccountResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);

    TMainEngine& main_;
    TWebOwner webOwner_;
    bool confirming_ = false;
};

} // namespace dm
