#pragma once

// The company file linked to a biller was not found: a page of our own explains it and offers
// three links (a new location, auto sync off, remove the biller). The dialog only records the
// choice; the biller's frame acts on it once the dialog has closed.

#include <QDialog>

#include <string>

class QTextBrowser;
class QUrl;

namespace dm {

class TGuiPrompts;

extern const char* const RemoveAccountQuestion;
extern const char* const LinkCompanyFileQuestion;

// The page, with the three values escaped: they come from the service and the settings file.
std::string FileNotFoundPage(const std::string& filePath, const std::string& billerName, const std::string& billerId);

class TQBFileNotFound : public QDialog {
    Q_OBJECT
public:
    explicit TQBFileNotFound(TGuiPrompts& prompts, QWidget* parent = nullptr);

    QTextBrowser* Web;
    std::string FilePath, BillerName, BillerId;
    bool ChoseDisable = false, ChoseRemove = false, ChoseLink = false;

    // Stores the values, shows the page and runs the dialog modally.
    void ShowFileNotFound(const std::string& filePath, const std::string& billerName, const std::string& billerId);
    // A link of the page, by its target ("about:link", "about:disable", "about:remove").
    void WebBeforeNavigate2(const QUrl& url);

private:
    TGuiPrompts& prompts_;
};

} // namespace dm
