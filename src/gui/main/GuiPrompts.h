#pragma once

// The user prompts of the windowed program: modal message boxes and dialogs. Each call turns
// a nested event loop, so other billers' timers keep firing while it is open.

#include "engine/UserPrompts.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace dm {

class TBrowserView;

class TGuiPrompts : public TUserPrompts {
public:
    // Dialogs are centred on this window once it exists.
    QPointer<QWidget> Owner;

    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    TAnswer AskYesNoCancel(const std::string& question) override;
    // A confirmation with OK and Cancel; true for OK.
    bool AskOkCancel(const std::string& question);
    std::optional<std::string> AskPassword(const std::string& businessName, const std::string& billerId,
                                           const std::string& userName) override;
    std::optional<TCredentials> AskCredentials(const std::string& businessName, const TCredentials& current) override;
    TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string& businessName,
                                               const std::string& billerId) override;
    void ShowServicePopup(const TPopupSpec& popup) override;
    void ShowHtml(const std::string& caption, const std::string& html) override;
    void ShowNotification(bool onlyWhenHidden, const std::string& fragment) override;
    TReviewResult ReviewUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool allowAttachments) override;

private:
    // Popups tell the main window which page has the keyboard focus.
    std::function<void(TBrowserView*)> ActiveBrowserHook() const;
};

} // namespace dm
