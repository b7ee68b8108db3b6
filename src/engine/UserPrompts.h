#pragma once

// Everything the engine must ask or show the user goes through this interface. The windowed
// program answers with dialogs, the headless one with safe answers, tests with scripted ones.
// The calls are synchronous; other billers' timers keep running meanwhile, so after a call
// returns the caller checks that what it works on still exists.

#include "engine/SyncMessages.h"

#include <functional>

#include <optional>
#include <string>

namespace dm {

struct TCredentials {
    std::string UserName;
    std::string Password;
};

enum class TFileNotFoundChoice {
    None,    // closed without a choice: nothing happens
    Disable, // automatic synchronisation and payment notifications off
    Remove,  // remove the biller
    Link,    // forget the stored path and link to the file open in QuickBooks
};

enum class TAnswer { Yes, No, Cancel };

class TSync;
class TUnsentInvoiceFiles;

struct TReviewResult {
    bool Closed = false;     // the window's close box: the session is cancelled
    bool SkipEmails = false; // "Sync checked invoices but do not send any emails"
};

class TUserPrompts {
public:
    virtual ~TUserPrompts() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // The same with the error icon.
    virtual void ShowError(const std::string& text) { ShowMessage(text); }
    // A question with Yes and No; the safe answer is No.
    virtual bool AskYesNo(const std::string& question) { return false; }
    // A question with Yes, No and Cancel; the safe answer is Cancel.
    virtual TAnswer AskYesNoCancel(const std::string& question) { return TAnswer::Cancel; }
    // The service did not accept the stored password: a new one, or nothing when cancelled.
    virtual std::optional<std::string> AskPassword(const std::string& businessName, const std::string& billerId,
                                                   const std::string& userName) {
        return std::nullopt;
    }
    // The service rejected the user name or password; new ones, or nothing when cancelled.
    virtual std::optional<TCredentials> AskCredentials(const std::string& businessName,
                                                       const TCredentials& current) = 0;
    // The company file the service named does not exist.
    virtual TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string& businessName,
                                                       const std::string& billerId) = 0;
    // A page the service asks to show, in a modal window.
    virtual void ShowServicePopup(const TPopupSpec& popup) = 0;

    // A notification fragment (a payment, an update) for the popup beside the taskbar;
    // onlyWhenHidden: only while the main window is not visible.
    virtual void ShowNotification(bool onlyWhenHidden, const std::string& fragment) {}
    // A page of our own (the summary of an all-biller run) in a modal window.
    virtual void ShowHtml(const std::string& caption, const std::string& html) {}
    // The review of new invoices: the dialog ticks records through the files and returns how
    // it was closed. The safe answer is that of its Cancel button: nothing ticked, go on. The
    // frame's session waits meanwhile; its channel carries the attachment requests. A file
    // error is thrown on as TUnsentInvoiceError.
    virtual TReviewResult ReviewUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool allowAttachments) {
        return {};
    }
};

} // namespace dm
