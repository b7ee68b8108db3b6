#pragma once

// QuickBooks refused a company file to the agent because its administrator has not allowed
// it: the agent offers to open QuickBooks' Preferences on the page where integrated
// applications are allowed, and shows a help window with the steps right below it. The help
// window goes as soon as the Preferences window does.

#include "platform/Windows.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

class QTextBrowser;

namespace dm {

class TSync;
class TUserPrompts;

extern const char* const FixAccessQuestion;
extern const char* const PreferencesWindowClass; // "MauiForm"
extern const char* const PreferencesTitlePart;   // "Preferences"

// Where the repair got to.
enum TRepairOutcome {
    roNotFound = 0,       // QuickBooks, its menu or its Preferences window not found
    roPageReached = 1,    // the integrated-applications page is shown
    roPageNotReached = 2, // the Preferences window is open on some other page
};

// The help window's page for the outcome.
std::string HelpAuthorizePage(int outcome);

class THelpAuthorize : public QWidget {
    Q_OBJECT
public:
    explicit THelpAuthorize(TWindowSearch& search);

    QTextBrowser* Web;
    // Watches for the Preferences window to go; runs only while the help window is shown
    // with a Preferences window to follow.
    QTimer tmrWatchQBPrefsWindow;
    // Runs once when the window closes: the main window and tray icon come back.
    std::function<void()> OnClosed;

    void tmrWatchQBPrefsWindowTimer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TWindowSearch& search_;
};

class TAccessRepair : public QObject {
    Q_OBJECT
public:
    TAccessRepair(TSync& frame, TUserPrompts& prompts, TWindowSearch& search, QObject* parent = nullptr);
    ~TAccessRepair() override;

    // One-shot, armed when a session fails with an access-denied message.
    QTimer tmrFixQBFileAccess;
    void tmrFixQBFileAccessTimer();

    int Outcome = roNotFound;
    QPointer<THelpAuthorize> LastHelp;
    // The main window steps aside while the help window is shown.
    std::function<void()> HideMainWindow, ShowMainWindow;
    // The pauses between the steps block, as the user is meant to wait for QuickBooks.
    std::function<void(int milliseconds)> Pause;

private:
    bool SendKeys(const std::string& keys);
    TUserPrompts& prompts_;
    TWindowSearch& search_;
};

} // namespace dm
