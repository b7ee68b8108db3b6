#pragma once

// The program's only main window: one tab per biller with its status strip and login hint,
// the biller bar when there are several, the update bar, the menus and the tray icon. The
// billers, settings, log and sessions belong to the engine; the window shows them and passes
// the user's commands on.

#include "engine/Sync.h"
#include "platform/Windows.h"

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

namespace dm {

class TBrowserView;
class TControlPanel;
class TDesktopNotifier;
class TNotifyPopup;
class TLoginBubble;
class TMainEngine;
class TSync;
class TSyncView;
class TUpdateBar;
class TUserPrompts;
struct TAppState;

extern const char* const BillerRemovedMessage;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    TMain(TAppState& app, TMainEngine& engine, TUserPrompts& prompts, QWidget* parent = nullptr);
    ~TMain() override;

    // Components, named as the rest of the program knows them.
    QTabWidget* PageControl1;
    QWidget* pnlBillers;
    QComboBox* lbxBillers;
    QPushButton* btnSearchBillers;
    QPushButton* btnSyncAllBillers;
    QLabel* lblSyncAll;
    TUpdateBar* pnlUpdate;
    QLabel* StatusPanel = nullptr; // the environment text; null without one
    QLabel* lblNoBiller;
    QSystemTrayIcon* TrayIcon;
    QMenu* PopupMenu1;
    QMenu* mnuFile;
    QAction* mnuAddBiller;
    QAction* mnuOptions;
    QAction* mnuViewLog;
    QAction* mnuSearchBillers;
    QAction* mnuExit;
    QAction* mnuAbout;
    QMenu* mnuLocal = nullptr;
    QAction* mnuTrayOpen;
    QAction* mnuTrayExit;
    QTimer tmrStartup;

    // Where no notification area exists the window is only ever minimised, so it cannot be lost.
    bool TrayAvailable;
    // The desktop's panel may come after the agent (started at login) or go away: the tray is
    // looked for again every few seconds, and the window moves between hiding in it and being
    // minimised.
    std::function<bool()> TrayProbe = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    QTimer tmrTrayWatch;
    void tmrTrayWatchTimer();
    // The tray's tooltip and icon tell idle, synchronising (biller and percent) or last session failed.
    void UpdateTrayState();

    // The billers of the settings file, each with its tab; their captions carry the environment prefix.
    void LoadBillers();
    // The start-up timer, once everything is loaded.
    void StartTimers();

    TSyncView* ViewOf(const TSync* frame) const;
    TLoginBubble* BubbleOf(const TSync* frame) const;
    QWidget* PageOf(const TSync* frame) const;
    TSync* BillerForPage(const QWidget* page) const;

    // The Add Biller wizard, modal; a biller enrolled in it gets its tab, becomes the current one
    // and is saved. Also run at start-up when there is no biller.
    void AddBiller();

    void UpdateBillerBar();
    void ApplyLayoutRule();
    void PageChange();
    // The Login button: the control panel signs in (or the user's browser opens the secure
    // login page with the "loginbrowser" option); Logout and the panel's own close requests
    // free it again.
    void OpenControlPanel(TSync* frame);
    void CloseControlPanel(TSync* frame);
    TControlPanel* PanelOf(const TSync* frame) const;
    QPointer<TControlPanel> LastControlPanel;
    // The page that has the keyboard focus; Qt delivers the keys itself, so this only records it.
    void SetActiveBrowser(TBrowserView* browser);
    TBrowserView* ActiveBrowser() const;
    // The Options dialog, modal; the settings are saved afterwards however it was closed.
    // billerView (a biller's Options button, -options): with several billers it opens on the
    // Billers tab with the active tab's biller.
    void ShowOptions(bool billerView);
    // Choosing an entry of the biller list shows its biller's page.
    void lbxBillersChange(int index);
    // The biller search, from the bar's button and F3.
    void btnSearchBillersClick();
    // The log viewer, modal.
    void mnuViewLogClick();

    // The update bar: shown once a newer version is announced, gone after "Skip Update".
    void ShowUpdateBar();
    void SkipUpdate();
    // The About box, modal; in download mode it fetches the new version at once.
    void ShowAbout(bool downloadMode);

    // A notification fragment for the popup beside the desktop's panel. onlyWhenHidden: not
    // while the main window is on screen (it shows its own update bar then). While the window
    // is out of sight the desktop's notification service also gets a short notice.
    void ShowNotification(bool onlyWhenHidden, const std::string& fragment);
    // The one popup, once the first fragment was shown.
    TNotifyPopup* NotifyPopup() const { return notifyPopup_.get(); }
    // The desktop's notification service on the session bus, unless one is set first (tests).
    TDesktopNotifier& Notifier();
    void SetNotifier(std::unique_ptr<TDesktopNotifier> notifier);
    // The popup's screen area, for tests; the primary screen's otherwise.
    std::function<void(QRect& screen, QRect& available)> PopupScreenArea;

    // QuickBooks' windows, for the access repair that each biller offers when QuickBooks
    // refuses it the company file.
    TWindowSearch WindowSearch{DesktopWindows()};

    void HideToTray();
    void RestoreFromTray();
    // Another copy of the program was started: this one comes to the front.
    void BringToFront();
    // The Exit commands: the event loop ends at its next turn.
    void Exit();
    // Settings saved, then every biller from the last to the first closes QuickBooks and goes.
    void Shutdown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TBillerPage {
        QPointer<TSync> frame;
        QWidget* page;
        TSyncView* view;
        TLoginBubble* bubble;
        QPointer<TControlPanel> panel;
    };
    const TBillerPage* Find(const TSync* frame) const;
    void BuildMenus();
    void BuildBillerBar(QWidget* client);
    void BillerAdded(TSync* frame);
    void BillerRemoved(TSync* frame);
    void UpdateBubble(const TBillerPage& page);
    void AddAccessRepair(TSync& frame, QWidget* page);
    void SyncAllChanged();
    void tmrStartupTimer();
    void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);

    TAppState& app_;
    TMainEngine& engine_;
    std::unique_ptr<TNotifyPopup> notifyPopup_;
    std::unique_ptr<TDesktopNotifier> notifier_;
    TUserPrompts& prompts_;
    QWidget* client_;
    std::vector<TBillerPage> pages_;
    std::vector<QPointer<TSync>> startedInRun_;
    QPointer<QWidget> activeBrowser_;
    bool openingPanel_ = false;
    bool loading_ = false;
    bool trayProbed_ = false;
    bool trayStarted_ = false;
    bool exiting_ = false;
    bool shutDown_ = false;
};

} // namespace dm
