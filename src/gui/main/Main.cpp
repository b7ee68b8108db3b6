#include "gui/main/Main.h"

#include "core/General.h"
#include "engine/AddBusiness.h"
#include "engine/AppState.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "engine/ViewLog.h"
#include "engine/Notifications.h"
#include "gui/dialogs/AboutView.h"
#include "gui/dialogs/OptionsView.h"
#include "gui/dialogs/SearchBillers.h"
#include "gui/dialogs/ViewLogView.h"
#include "gui/enrol/AddBusinessView.h"
#include "gui/main/DesktopNotifier.h"
#include "gui/main/GuiText.h"
#include "gui/main/NotifyPopup.h"
#include "gui/sync/AccessRepair.h"
#include "gui/main/Pictures.h"
#include "gui/main/UpdateBar.h"
#include "gui/panel/Browser.h"
#include "gui/panel/ControlPanel.h"
#include "gui/panel/LoginBubble.h"
#include "gui/sync/SyncView.h"
#include "platform/System.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace dm {

const char* const BillerRemovedMessage = "Your business has been removed from the Invara Desktop Manager.";

namespace {

constexpr int BillerBarHeight = 28;

// Tabs are a filled rectangle with the caption at its top-left corner.
class TBillerTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        for (int i = 0; i < count(); ++i) {
            const QRect r = tabRect(i);
            const bool current = i == currentIndex();
            p.fillRect(r, current ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
            p.setPen(palette().color(QPalette::Mid));
            p.drawRect(r.adjusted(0, 0, -1, current ? 0 : -1));
            style()->drawItemText(&p, r.adjusted(6, 4, -2, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic,
                                  palette(), true, tabText(i), QPalette::WindowText);
        }
    }
};

class TPageControl : public QTabWidget {
public:
    explicit TPageControl(QWidget* parent) : QTabWidget(parent) { setTabBar(new TBillerTabBar(this)); }
};

} // namespace

TMain::TMain(TAppState& app, TMainEngine& engine, TUserPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), app_(app), engine_(engine), prompts_(prompts) {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(GuiText(app.WindowCaption.empty() ? std::string(ApplicationTitle) : app.WindowCaption));
    setWindowIcon(AppIcon());
    ApplyFormFont(this);
    resize(652, 494);
    setMinimumSize(652, 460);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(326, 247));

    trayProbed_ = TrayAvailable = TrayProbe();
    // Only the service's own pages load inside the agent; nothing is loaded yet.
    SetBrowserSetup({app.BaseUrl, app.StorageFolder, {}, {}, {}});

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    client_->installEventFilter(this);
    setCentralWidget(client_);

    PageControl1 = new TPageControl(client_);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageChange(); });

    lblNoBiller = new QLabel(client_);
    lblNoBiller->setObjectName(QStringLiteral("lblNoBiller"));
    lblNoBiller->setAlignment(Qt::AlignCenter);
    lblNoBiller->setWordWrap(true);
    lblNoBiller->setTextFormat(Qt::PlainText);
    lblNoBiller->setFont(FormFont(11, true));
    lblNoBiller->setText(QStringLiteral("No biller is set up.\n\nChoose File > Add Biller... to link your business.\n\n"
                                        "The settings file %1 lists no business.")
                             .arg(GuiText(engine.Settings.Path())));
    lblNoBiller->hide();

    BuildBillerBar(client_);

    pnlUpdate = new TUpdateBar(client_);
    connect(pnlUpdate, &TUpdateBar::skipClicked, this, &TMain::SkipUpdate);
    connect(pnlUpdate, &TUpdateBar::downloadClicked, this, [this] { ShowAbout(true); });

    if (!app.StatusBarText.empty()) {
        StatusPanel = new QLabel(GuiText(app.StatusBarText));
        StatusPanel->setFixedWidth(300);
        statusBar()->addWidget(StatusPanel);
        statusBar()->setSizeGripEnabled(false);
    }

    BuildMenus();

    TrayIcon = new QSystemTrayIcon(AppIcon(), this);
    TrayIcon->setToolTip(QString::fromLatin1(ApplicationTitle));
    PopupMenu1 = new QMenu(this);
    mnuTrayOpen = PopupMenu1->addAction(QStringLiteral("Open Desktop Manager"));
    mnuTrayExit = PopupMenu1->addAction(QStringLiteral("Exit"));
    connect(mnuTrayOpen, &QAction::triggered, this, [this] {
        RestoreFromTray();
        tmrStartup.start();
    });
    connect(mnuTrayExit, &QAction::triggered, this, &TMain::Exit);
    TrayIcon->setContextMenu(PopupMenu1);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, &TMain::TrayIconActivated);
    tmrTrayWatch.setInterval(5000);
    tmrTrayWatch.setTimerType(Qt::VeryCoarseTimer);
    connect(&tmrTrayWatch, &QTimer::timeout, this, &TMain::tmrTrayWatchTimer);
    connect(&engine, &TMainEngine::billerAdded, this,
            [this](TSync* frame) { connect(frame, &TSync::changed, this, &TMain::UpdateTrayState); });
    connect(&engine, &TMainEngine::sessionFinished, this, &TMain::UpdateTrayState);

    tmrStartup.setSingleShot(true);
    tmrStartup.setInterval(200);
    connect(&tmrStartup, &QTimer::timeout, this, &TMain::tmrStartupTimer);

    connect(&engine, &TMainEngine::billerAdded, this, &TMain::BillerAdded);
    connect(&engine, &TMainEngine::billerRemoved, this, &TMain::BillerRemoved);
    connect(&engine, &TMainEngine::syncInProgressChanged, this, [this](bool on) {
        if (!engine_.SyncAllActive) btnSyncAllBillers->setEnabled(!on);
    });
    connect(&engine, &TMainEngine::syncAllChanged, this, &TMain::SyncAllChanged);
    connect(&engine, &TMainEngine::billerActivated, this, [this](TSync* frame) {
        if (QWidget* page = PageOf(frame)) PageControl1->setCurrentWidget(page);
        startedInRun_.push_back(frame);
        if (TControlPanel* panel = PanelOf(frame)) panel->hide();
        if (const TBillerPage* p = Find(frame)) UpdateBubble(*p);
    });
    connect(&engine, &TMainEngine::updateAnnounced, this, &TMain::ShowUpdateBar);
    // The schedule runs from the window's creation on.
    engine.tmrAutoSync.start();
    for (TSync* frame : engine.Billers()) BillerAdded(frame);
    UpdateBillerBar();
}

TMain::~TMain() { Shutdown(); }

void TMain::BuildMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuAddBiller = mnuFile->addAction(QStringLiteral("&Add Biller..."));
    mnuAddBiller->setShortcut(QKeySequence(QStringLiteral("Ctrl+A")));
    mnuOptions = mnuFile->addAction(QStringLiteral("Options..."));
    mnuViewLog = mnuFile->addAction(QStringLiteral("View Log..."));
    mnuSearchBillers = mnuFile->addAction(QStringLiteral("Search for Biller..."));
    mnuSearchBillers->setShortcut(QKeySequence(Qt::Key_F3));
    mnuFile->addSeparator();
    mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));
    mnuExit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(mnuExit, &QAction::triggered, this, &TMain::Exit);
    connect(mnuAddBiller, &QAction::triggered, this, &TMain::AddBiller);
    connect(mnuViewLog, &QAction::triggered, this, &TMain::mnuViewLogClick);
    connect(mnuSearchBillers, &QAction::triggered, this, &TMain::btnSearchBillersClick);
    mnuOptions->setVisible(!app_.HostedMode);
    connect(mnuOptions, &QAction::triggered, this, [this] { ShowOptions(false); });
    connect(mnuFile, &QMenu::aboutToShow, this,
            [this] { mnuViewLog->setVisible(!app_.HostedMode && !engine_.Options.NoLogs); });
    mnuViewLog->setVisible(!app_.HostedMode && !engine_.Options.NoLogs);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuAbout = help->addAction(QStringLiteral("&About..."));
    connect(mnuAbout, &QAction::triggered, this, [this] { ShowAbout(false); });

    if (app_.ShowLocalMenu) {
        mnuLocal = menuBar()->addMenu(QStringLiteral("Local"));
        mnuLocal->addAction(QStringLiteral("Test")); // has no visible effect
    }
}

void TMain::BuildBillerBar(QWidget* client) {
    pnlBillers = new QWidget(client);
    pnlBillers->setObjectName(QStringLiteral("pnlBillers"));
    pnlBillers->setAutoFillBackground(true);
    QPalette white = pnlBillers->palette();
    white.setColor(QPalette::Window, Qt::white);
    pnlBillers->setPalette(white);
    pnlBillers->hide();

    lbxBillers = new QComboBox(pnlBillers);
    lbxBillers->setObjectName(QStringLiteral("lbxBillers"));
    lbxBillers->setFont(PixelFont(12, true));
    lbxBillers->setGeometry(4, 3, 280, 22);
    connect(lbxBillers, &QComboBox::currentTextChanged, lbxBillers, &QWidget::setToolTip);
    connect(lbxBillers, &QComboBox::activated, this, &TMain::lbxBillersChange);

    btnSearchBillers = new QPushButton(QStringLiteral("Search"), pnlBillers);
    btnSearchBillers->setObjectName(QStringLiteral("btnSearchBillers"));
    btnSearchBillers->setGeometry(290, 2, 70, 24);
    connect(btnSearchBillers, &QPushButton::clicked, this, &TMain::btnSearchBillersClick);

    btnSyncAllBillers = new QPushButton(QStringLiteral("Sync All Billers"), pnlBillers);
    btnSyncAllBillers->setObjectName(QStringLiteral("btnSyncAllBillers"));
    btnSyncAllBillers->setFont(FormFont(8, true));
    btnSyncAllBillers->setGeometry(366, 2, 120, 24);
    connect(btnSyncAllBillers, &QPushButton::clicked, this, [this] { engine_.SyncAll(true); });

    lblSyncAll = new QLabel(QStringLiteral("Synchronizing all billers..."), pnlBillers);
    lblSyncAll->setObjectName(QStringLiteral("lblSyncAll"));
    lblSyncAll->setFont(PixelFont(15, true));
    lblSyncAll->setGeometry(8, 4, 600, 20);
    lblSyncAll->hide();
}

void TMain::lbxBillersChange(int index) {
    auto* page = qobject_cast<QWidget*>(lbxBillers->itemData(index).value<QObject*>());
    if (page) PageControl1->setCurrentWidget(page);
    PageChange();
}

void TMain::btnSearchBillersClick() {
    TSearchBillers search(*lbxBillers, this);
    if (search.exec() != QDialog::Accepted) return;
    QObject* page = search.SelectedPage();
    if (!page) return;
    for (int i = 0; i < lbxBillers->count(); ++i) {
        if (lbxBillers->itemData(i).value<QObject*>() == page) {
            lbxBillers->setCurrentIndex(i);
            lbxBillersChange(i);
            return;
        }
    }
}

void TMain::mnuViewLogClick() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    TViewLog log(app_.StorageFolder, app_.BusinessUrl, prompts_, [this] { return engine_.LogSessionOpen(); });
    TViewLogView view(log, this);
    QGuiApplication::restoreOverrideCursor();
    view.exec();
}

const TMain::TBillerPage* TMain::Find(const TSync* frame) const {
    for (const TBillerPage& p : pages_)
        if (p.frame == frame) return &p;
    return nullptr;
}

TSyncView* TMain::ViewOf(const TSync* frame) const {
    const TBillerPage* p = Find(frame);
    return p ? p->view : nullptr;
}

TLoginBubble* TMain::BubbleOf(const TSync* frame) const {
    const TBillerPage* p = Find(frame);
    return p ? p->bubble : nullptr;
}

QWidget* TMain::PageOf(const TSync* frame) const {
    const TBillerPage* p = Find(frame);
    return p ? p->page : nullptr;
}

TSync* TMain::BillerForPage(const QWidget* page) const {
    for (const TBillerPage& p : pages_)
        if (p.page == page) return p.frame;
    return nullptr;
}

void TMain::LoadBillers() {
    loading_ = true;
    engine_.LoadSettings(false);
    loading_ = false;
    UpdateBillerBar();
    PageChange();
}

void TMain::BillerAdded(TSync* frame) {
    if (Find(frame)) return;
    auto* page = new QWidget;
    page->setObjectName(GuiText(frame->FrameName) + QStringLiteral("Page"));
    page->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* view = new TSyncView(*frame, engine_, prompts_, page);
    layout->addWidget(view);
    auto* bubble = new TLoginBubble(page);
    bubble->hide();
    layout->addWidget(bubble, 1);
    layout->addStretch(0);

    view->btnSyncOptions->setEnabled(!engine_.SyncAllActive);
    connect(view, &TSyncView::optionsClicked, this, [this] { ShowOptions(true); });
    connect(view, &TSyncView::controlPanelClicked, this, [this, view](TSync* f) {
        if (view->btnControlPanel->text() == QLatin1String("Login")) OpenControlPanel(f);
        else CloseControlPanel(f);
    });
    // The control panel's home page shows the data of the session that just ended.
    connect(frame, &TSync::sessionFinished, page, [this, frame] {
        if (engine_.SyncAllActive) return;
        if (TControlPanel* panel = PanelOf(frame)) panel->RefreshIfHome();
    });

    // Billers of the settings file carry the environment prefix; billers added in this run do not.
    const std::string name = EscapeAmpersands(frame->Biller.name);
    const QString caption = GuiText(loading_ ? app_.TabCaptionPrefix + name : name);
    const std::string& entry = frame->ListEntry;

    pages_.push_back({frame, page, view, bubble});
    PageControl1->addTab(page, caption);

    // The list is sorted without regard to case; each entry is linked to its page.
    const QString text = GuiText(entry);
    int at = 0;
    while (at < lbxBillers->count() && QString::compare(lbxBillers->itemText(at), text, Qt::CaseInsensitive) <= 0)
        ++at;
    lbxBillers->insertItem(at, text, QVariant::fromValue(static_cast<QObject*>(page)));
    // A long name is cut short in the box; its whole entry stays readable in the tooltip.
    lbxBillers->setItemData(at, text, Qt::ToolTipRole);

    connect(frame, &TSync::changed, page, [this, frame] {
        if (const TBillerPage* p = Find(frame)) UpdateBubble(*p);
    });
    AddAccessRepair(*frame, page);
    UpdateBubble(pages_.back());
    if (!loading_) UpdateBillerBar();
}

void TMain::AddAccessRepair(TSync& frame, QWidget* page) {
    auto* repair = new TAccessRepair(frame, prompts_, WindowSearch, page);
    repair->setObjectName(QStringLiteral("AccessRepair"));
    // While the help window is up it is the program's only window.
    repair->HideMainWindow = [this] {
        TrayIcon->hide();
        hide();
    };
    repair->ShowMainWindow = [window = QPointer<TMain>(this)] {
        if (!window) return;
        window->TrayIcon->setVisible(window->TrayAvailable && window->trayStarted_);
        window->RestoreFromTray();
    };
}

void TMain::UpdateBubble(const TBillerPage& page) {
    if (!page.frame) return;
    // A biller synchronising in an all-biller run shows its progress without the hint.
    const bool inRun = engine_.SyncAllActive &&
                       std::find(startedInRun_.begin(), startedInRun_.end(), page.frame) != startedInRun_.end();
    page.bubble->setVisible(page.frame->Layout == TSync::TButtonLayout::Confirmed && !inRun && !page.panel);
}

void TMain::SyncAllChanged() {
    const bool active = engine_.SyncAllActive;
    if (active && !lblSyncAll->isVisible()) lbxBillers->setCurrentIndex(-1); // the run starts
    lbxBillers->setVisible(!active);
    btnSearchBillers->setVisible(!active);
    btnSyncAllBillers->setVisible(!active);
    lblSyncAll->setText(GuiText(engine_.SyncAllProgress));
    lblSyncAll->setVisible(active && !engine_.SyncAllProgress.empty());
    if (!active) {
        startedInRun_.clear();
        btnSyncAllBillers->setEnabled(!engine_.SyncInProgress());
        PageChange();
    }
    for (const TBillerPage& p : pages_) {
        p.view->btnControlPanel->setEnabled(!active);
        p.view->btnSyncOptions->setEnabled(!active);
        if (!active && p.panel) p.panel->show();
        UpdateBubble(p);
    }
}

void TMain::BillerRemoved(TSync* frame) {
    auto it = std::find_if(pages_.begin(), pages_.end(), [&](const TBillerPage& p) { return p.frame == frame; });
    if (it == pages_.end()) return;
    QWidget* page = it->page;
    pages_.erase(it);
    for (int i = 0; i < lbxBillers->count(); ++i) {
        if (lbxBillers->itemData(i).value<QObject*>() == page) {
            lbxBillers->removeItem(i);
            break;
        }
    }
    PageControl1->removeTab(PageControl1->indexOf(page));
    delete page;
    PageChange();
    UpdateBillerBar();
    // The engine saves the settings once the frame is gone; the confirmation follows that.
    QTimer::singleShot(0, this, [this] { prompts_.ShowMessage(BillerRemovedMessage); });
}

void TMain::PageChange() {
    QWidget* page = PageControl1->currentWidget();
    // The service session may have expired while the user was elsewhere.
    if (TSync* frame = BillerForPage(page); frame && !engine_.SyncAllActive && !openingPanel_)
        if (TControlPanel* panel = PanelOf(frame)) panel->Reconnect();
    for (int i = 0; i < lbxBillers->count(); ++i) {
        if (lbxBillers->itemData(i).value<QObject*>() == page) {
            QSignalBlocker block(lbxBillers);
            lbxBillers->setCurrentIndex(i);
            break;
        }
    }
}

void TMain::AddBiller() {
    TAddBusiness wizard(engine_);
    TAddBusinessView view(wizard, app_, prompts_, this);
    view.ShowMainWindow = [this] { RestoreFromTray(); };
    if (view.exec() == QDialog::Accepted) {
        TSync* frame = engine_.EnrolBiller(wizard);
        if (QWidget* page = PageOf(frame)) PageControl1->setCurrentWidget(page);
        PageChange();
    }
    UpdateBillerBar();
}

void TMain::UpdateBillerBar() {
    const bool bar = lbxBillers->count() > 1;
    pnlBillers->setVisible(bar);
    mnuSearchBillers->setVisible(bar);
    ApplyLayoutRule();
}

void TMain::ApplyLayoutRule() {
    const int width = client_->width();
    int top = 0;
    if (pnlUpdate->isVisibleTo(this)) {
        pnlUpdate->setGeometry(0, 0, width, TUpdateBar::BarHeight);
        top = TUpdateBar::BarHeight;
    }
    const int height = client_->height() - top;
    if (pnlBillers->isVisibleTo(this)) {
        // The bar covers the tab strip.
        pnlBillers->setGeometry(0, top, width, BillerBarHeight);
        PageControl1->setGeometry(-4, top + 2, width + 8, height + 2);
        pnlBillers->raise();
    } else {
        PageControl1->setGeometry(-3, top, width + 7, height + 4);
    }
    pnlUpdate->raise();
    const bool none = pages_.empty();
    PageControl1->setVisible(!none);
    lblNoBiller->setVisible(none);
    lblNoBiller->setGeometry(20, top, std::max(0, width - 40), height);
}

void TMain::OpenControlPanel(TSync* frame) {
    if (!frame) return;
    if (engine_.Options.loginbrowser) {
        ShellOpen(app_.BaseUrl + "securelogin");
        return;
    }
    auto it = std::find_if(pages_.begin(), pages_.end(), [&](const TBillerPage& p) { return p.frame == frame; });
    if (it == pages_.end() || it->panel) return;
    QWidget* page = it->page;
    QPointer<TSyncView> view = it->view;
    auto* panel = new TControlPanel(prompts_, &engine_, false, page);
    static_cast<QVBoxLayout*>(page->layout())->insertWidget(1, panel, 1);
    connect(panel, &TControlPanel::closeRequested, this, [this](TSync* f) { CloseControlPanel(f); },
            Qt::QueuedConnection);
    panel->OnActiveBrowser = [this](TBrowserView* browser) { SetActiveBrowser(browser); };
    it->panel = panel;
    LastControlPanel = panel;
    UpdateBubble(*it);

    QPointer<TControlPanel> guard(panel);
    QPointer<TSync> biller(frame);
    if (!panel->Login(frame) || !guard || !biller || !view) return;
    openingPanel_ = true; // the sign-in just started; no second one for the page change
    PageControl1->setCurrentWidget(page);
    openingPanel_ = false;
    view->btnControlPanel->setText(QStringLiteral("Logout"));
    view->update();
}

void TMain::ShowOptions(bool billerView) {
    std::vector<TSync*> list;
    for (int i = 0; i < lbxBillers->count(); ++i)
        if (TSync* frame = BillerForPage(qobject_cast<QWidget*>(lbxBillers->itemData(i).value<QObject*>())))
            list.push_back(frame);
    TOptionsView dialog(engine_, prompts_, list, this);
    if (billerView && list.size() > 1) {
        dialog.PageControl1->setCurrentWidget(dialog.TabSheet3);
        dialog.SelectBiller(BillerForPage(PageControl1->currentWidget()));
        dialog.btnGeneralImportInvoiceOptions->hide();
        dialog.chkForceMultiUser->setEnabled(true);
    } else if (billerView && list.size() == 1 && list[0]->Biller.type == "ezi") {
        dialog.btnGeneralImportInvoiceOptions->show();
        dialog.chkForceMultiUser->setEnabled(false);
    }
    dialog.exec();
    engine_.ApplyWebOptions();
    engine_.SaveSettings();
}

void TMain::CloseControlPanel(TSync* frame) {
    auto it = std::find_if(pages_.begin(), pages_.end(), [&](const TBillerPage& p) { return p.frame == frame; });
    // A second request for a panel that is already gone does nothing.
    if (it == pages_.end() || !it->panel) return;
    TControlPanel* panel = it->panel;
    if (activeBrowser_ && panel->isAncestorOf(activeBrowser_)) activeBrowser_ = nullptr;
    if (panel->Web) panel->Web->hide();
    panel->hide();
    it->panel = nullptr;
    // The panel may be inside one of its own handlers.
    panel->deleteLater();
    it->view->btnControlPanel->setText(QStringLiteral("Login"));
    it->view->update();
    UpdateBubble(*it);
}

TControlPanel* TMain::PanelOf(const TSync* frame) const {
    const TBillerPage* p = Find(frame);
    return p ? p->panel.data() : nullptr;
}

void TMain::SetActiveBrowser(TBrowserView* browser) { activeBrowser_ = browser; }

TBrowserView* TMain::ActiveBrowser() const { return static_cast<TBrowserView*>(activeBrowser_.data()); }


void TMain::ShowUpdateBar() {
    if (pnlUpdate->isVisibleTo(this)) return;
    pnlUpdate->Announce();
    pnlUpdate->show();
    ApplyLayoutRule();
}

void TMain::SkipUpdate() {
    pnlUpdate->hide();
    ApplyLayoutRule();
}

void TMain::ShowAbout(bool downloadMode) {
    TAboutView about(app_, prompts_, this);
    if (downloadMode) about.UseDownloadMode();
    about.exec();
}

TDesktopNotifier& TMain::Notifier() {
    if (!notifier_) SetNotifier(std::make_unique<TDesktopNotifier>());
    return *notifier_;
}

void TMain::SetNotifier(std::unique_ptr<TDesktopNotifier> notifier) {
    notifier_ = std::move(notifier);
    connect(notifier_.get(), &TDesktopNotifier::activated, this, [this] {
        if (notifyPopup_ && notifyPopup_->Showing) {
            notifyPopup_->show();
            notifyPopup_->raise();
            notifyPopup_->activateWindow();
        }
    });
}

void TMain::ShowNotification(bool onlyWhenHidden, const std::string& fragment) {
    if (!notifyPopup_) {
        notifyPopup_ = std::make_unique<TNotifyPopup>(windowTitle());
        if (PopupScreenArea) notifyPopup_->ScreenArea = PopupScreenArea;
        notifyPopup_->OnDownloadUpdate = [this] { ShowAbout(true); };
    }
    const bool windowOnScreen = isVisible() && !isMinimized();
    if (onlyWhenHidden && windowOnScreen) return;
    notifyPopup_->Add(fragment);
    if (!windowOnScreen) Notifier().Notify(QStringLiteral("Invara"), GuiText(NotificationText(fragment)));
}

void TMain::StartTimers() {
    tmrStartup.setInterval(app_.StartMinimized ? 1 : 200);
    tmrStartup.start();
    engine_.tmrCheckForUpdates.setInterval(1000);
    engine_.tmrCheckForUpdates.start();
    tmrTrayWatch.start();
}

void TMain::tmrStartupTimer() {
    trayStarted_ = true;
    if (TrayAvailable) TrayIcon->show();
    if (app_.StartMinimized) {
        app_.StartMinimized = false;
        HideToTray();
        return;
    }
    show();
    raise();
    activateWindow();
}

void TMain::HideToTray() {
    // A hidden window under an open modal dialog would leave the dialog without a way back (its
    // own minimise takes the window with it): only minimise then.
    if (!TrayAvailable || QApplication::activeModalWidget()) {
        showMinimized();
        return;
    }
    TrayIcon->show();
    hide();
}

void TMain::RestoreFromTray() {
    showNormal();
    raise();
    activateWindow();
    // The dialog that waits for an answer comes first, or the window looks frozen.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
        modal->showNormal();
        modal->raise();
        modal->activateWindow();
    }
}

void TMain::tmrTrayWatchTimer() {
    const bool available = TrayProbe();
    if (available == trayProbed_) return;
    trayProbed_ = TrayAvailable = available;
    if (available) {
        if (!trayStarted_) return;
        TrayIcon->show();
        if (isMinimized()) HideToTray();
        return;
    }
    TrayIcon->hide();
    if (!isVisible() && !exiting_) showMinimized(); // it was in the tray that has gone
}

void TMain::UpdateTrayState() {
    QString state;
    bool failed = false;
    for (TSync* frame : engine_.Billers()) {
        if (frame->Phase != TSync::phIdle) {
            state = QStringLiteral("Synchronizing %1: %2%").arg(GuiText(frame->Biller.name)).arg(
                std::clamp(frame->Percentage, 0, 100));
            failed = false;
            break;
        }
        if (frame->HadErrors && state.isEmpty()) {
            state = QStringLiteral("Last sync of %1 failed").arg(GuiText(frame->Biller.name));
            failed = true;
        }
    }
    const QString tip = QString::fromLatin1(ApplicationTitle) + (state.isEmpty() ? QString() : QLatin1Char('\n') + state);
    if (TrayIcon->toolTip() != tip) TrayIcon->setToolTip(tip);
    const bool showsFailed = TrayIcon->property("failed").toBool();
    if (showsFailed != failed) {
        TrayIcon->setIcon(failed ? AppIconFailed() : AppIcon());
        TrayIcon->setProperty("failed", failed);
    }
}

void TMain::BringToFront() { RestoreFromTray(); }

void TMain::TrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
}

void TMain::Exit() {
    exiting_ = true;
    // An open dialog is answered as its Cancel button first, so that what waits on it unwinds
    // with the safe answer before the program ends.
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this) break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal) break; // it refused to close
    }
    QCoreApplication::quit();
}

void TMain::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    TrayIcon->hide();
    engine_.Shutdown();
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) delete it->page;
    pages_.clear();
}

void TMain::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    // The close box keeps the program running.
    event->ignore();
    HideToTray();
}

void TMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && TrayAvailable &&
        isVisible()) {
        // Hiding inside the state change confuses some window managers; do it right after.
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized) HideToTray();
        });
    }
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) ApplyLayoutRule();
    return QMainWindow::eventFilter(watched, event);
}

} // namespace dm
