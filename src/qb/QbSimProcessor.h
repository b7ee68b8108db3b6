#pragma once

// The request processor of the local QuickBooks stand-in: sessions on the company files of a
// QuickBooks folder, refused with QuickBooks' own errors and messages.

#include "qb/QbXmlResponder.h"
#include "qb/QuickBooksHome.h"
#include "qb/RequestProcessor.h"

#include <map>
#include <memory>
#include <string>

namespace dm {

class TQbSimRequestProcessor : public TRequestProcessor {
public:
    explicit TQbSimRequestProcessor(std::string homeFolder = DefaultQuickBooksHome());
    ~TQbSimRequestProcessor() override;

    void OpenConnection(const std::string& appId, const std::string& appName) override;
    TAuthPreferences& AuthPreferences() override { return preferences_; }
    std::string BeginSession(const std::string& path, int mode) override;
    std::string GetCurrentCompanyFileName(const std::string& ticket) override;
    int MajorVersion() override { return 13; }
    int MinorVersion() override { return 0; }
    std::string ProcessRequest(const std::string& ticket, const std::string& request) override;
    void EndSession(const std::string& ticket) override;
    void CloseConnection() override;

    const TQuickBooksHome& Home() const { return home_; }

private:
    struct TSession {
        std::unique_ptr<TCompanyFileStore> Store;
        TQbHostInfo Host;
        TQbXmlResponder Responder;
    };
    TSession& SessionOf(const std::string& ticket);

    TQuickBooksHome home_;
    TAuthPreferences preferences_;
    bool connected_ = false;
    std::string appName_;
    std::map<std::string, TSession> sessions_;
};

} // namespace dm
