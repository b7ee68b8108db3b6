#pragma once

// The user as tests play it: records everything shown and gives the answers scripted before.

#include "engine/UserPrompts.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dmtest {

class TScriptedPrompts : public dm::TUserPrompts {
public:
    std::vector<std::string> messages; // every message and error, in order
    std::vector<std::string> errors;   // the ones shown with the error icon
    std::vector<dm::TPopupSpec> popups;
    std::vector<std::string> asked;    // "credentials <name>", "file <path>"

    std::deque<std::optional<dm::TCredentials>> credentials;
    std::deque<dm::TFileNotFoundChoice> fileChoices;
    // Runs while a follow-up question is open, as the program's timers would.
    std::function<void(const std::string&)> whileAsked;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowError(const std::string& text) override {
        messages.push_back(text);
        errors.push_back(text);
    }
    std::optional<dm::TCredentials> AskCredentials(const std::string& businessName,
                                                   const dm::TCredentials&) override {
        asked.push_back("credentials " + businessName);
        if (whileAsked) whileAsked(asked.back());
        if (credentials.empty()) return std::nullopt;
        auto answer = credentials.front();
        credentials.pop_front();
        return answer;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string&,
                                                   const std::string&) override {
        asked.push_back("file " + path);
        if (whileAsked) whileAsked(asked.back());
        if (fileChoices.empty()) return dm::TFileNotFoundChoice::None;
        auto answer = fileChoices.front();
        fileChoices.pop_front();
        return answer;
    }
    void ShowServicePopup(const dm::TPopupSpec& popup) override { popups.push_back(popup); }

    std::vector<std::string> questions;
    std::deque<dm::TAnswer> answers;
    std::deque<std::optional<std::string>> passwords;
    std::vector<std::pair<bool, std::string>> notifications; // only-when-hidden, fragment
    // Where a window test passes the fragments on to (the main window's popup).
    std::function<void(bool, const std::string&)> onNotification;
    std::vector<std::pair<std::string, std::string>> pages;    // caption, html
    // The review: does what the test wants with the files; by default as its Cancel button.
    std::function<dm::TReviewResult(dm::TUnsentInvoiceFiles&, bool)> review;
    int reviews = 0;

    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return false;
        auto a = answers.front();
        answers.pop_front();
        return a == dm::TAnswer::Yes;
    }
    dm::TAnswer AskYesNoCancel(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) return dm::TAnswer::Cancel;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> AskPassword(const std::string& businessName, const std::string&,
                                           const std::string&) override {
        asked.push_back("password " + businessName);
        if (passwords.empty()) return std::nullopt;
        auto p = passwords.front();
        passwords.pop_front();
        return p;
    }
    void ShowNotification(bool onlyWhenHidden, const std::string& fragment) override {
        notifications.emplace_back(onlyWhenHidden, fragment);
        if (onNotification) onNotification(onlyWhenHidden, fragment);
    }
    void ShowHtml(const std::string& caption, const std::string& html) override { pages.emplace_back(caption, html); }
    dm::TReviewResult ReviewUnsentInvoices(dm::TSync&, dm::TUnsentInvoiceFiles& files, bool allowAttachments) override {
        ++reviews;
        return review ? review(files, allowAttachments) : dm::TReviewResult{};
    }
};

} // namespace dmtest
