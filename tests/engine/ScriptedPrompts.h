#pragma once

// The user as tests play it: records everything shown and gives the answers scripted before.

#include "engine/UserPrompts.h"

#include <deque>
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

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowError(const std::string& text) override {
        messages.push_back(text);
        errors.push_back(text);
    }
    std::optional<dm::TCredentials> AskCredentials(const std::string& businessName,
                                                   const dm::TCredentials&) override {
        asked.push_back("credentials " + businessName);
        if (credentials.empty()) return std::nullopt;
        auto answer = credentials.front();
        credentials.pop_front();
        return answer;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string&,
                                                   const std::string&) override {
        asked.push_back("file " + path);
        if (fileChoices.empty()) return dm::TFileNotFoundChoice::None;
        auto answer = fileChoices.front();
        fileChoices.pop_front();
        return answer;
    }
    void ShowServicePopup(const dm::TPopupSpec& popup) override { popups.push_back(popup); }
};

} // namespace dmtest
