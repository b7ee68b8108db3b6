#include "gui/sync/AccessRepair.h"

#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/main/GuiText.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <chrono>
#include <thread>

namespace dm {

const char* const FixAccessQuestion =
    "Invara has not been given access \rto your QuickBooks company file.\r\rWould you like help fixing this?"
    "\r\rQuickBooks must be open before clicking\r\"Yes\".";
const char* const PreferencesWindowClass = "MauiForm";
const char* const PreferencesTitlePart = "Preferences";

namespace {

const char* const PageMarkerClass = "MauiCheckBox";
const char* const PageMarkerText = "application whose certificate";

const char* const InstructionsIntro =
    "<p>QuickBooks is currently not authorized to allow Invara to access your company file. To correct this "
    "follow these steps:</p><ol>";
const char* const GoToPageSteps = "<li>Click on the \"Integrated Applications\" option in the list on the "
                                  "left-side above.</li><li>Click on the \"Company Preferences\" tab above.</li>";
const char* const AllowSteps =
    "<li>Find and click on the \"Invara Desktop Manager\" line in the \"Application Name\" list above.</li>"
    "<li>Click the \"Properties...\" button.</li><li>Put a checkmark next to the \"Allow this application to read "
    "and modify this company file\" checkbox by clicking on it.</li><li>Click the \"OK\" button to close the "
    "Properties window.</li><li>If \"Invara Desktop Manager\" is listed more than once in the \"Application "
    "Name\" list above then go back to step 1 and perform the steps for every occurence of the Invara Desktop "
    "Manager.</li><li>Click the \"OK\" button to close the Preferences window.</li></ol>";
const char* const PageHead =
    "<head><style>BODY { font-family: Arial; font-size: 9pt; }P { font-family: Arial; font-size: 9pt; }OL { "
    "font-family: Arial; font-size: 9pt; }LI { font-family: Arial; font-size: 9pt; margin-bottom: 4px; "
    "}</style></head><body bgcolor=\"#FFFFC0\">";

// The list of preferences is walked this far before the page counts as not found.
constexpr int PageTries = 7;
constexpr int PreferencesLookups = 51;

} // namespace

std::string HelpAuthorizePage(int outcome) {
    std::string instructions;
    if (outcome == roPageReached) instructions = std::string(InstructionsIntro) + AllowSteps;
    if (outcome == roPageNotReached) instructions = std::string(InstructionsIntro) + GoToPageSteps + AllowSteps;
    return PageHead + instructions + "</body>";
}

THelpAuthorize::THelpAuthorize(TWindowSearch& search) : search_(search) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Invara Help"));
    setObjectName(QStringLiteral("HelpAuthorize"));
    ApplyFormFont(this);
    resize(499, 163);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Web = new QTextBrowser(this);
    Web->setFrameShape(QFrame::NoFrame);
    Web->setOpenLinks(false);
    layout->addWidget(Web);
    tmrWatchQBPrefsWindow.setInterval(10);
    connect(&tmrWatchQBPrefsWindow, &QTimer::timeout, this, &THelpAuthorize::tmrWatchQBPrefsWindowTimer);
}

void THelpAuthorize::tmrWatchQBPrefsWindowTimer() {
    if (!search_.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart)) close();
}

void THelpAuthorize::closeEvent(QCloseEvent* event) {
    tmrWatchQBPrefsWindow.stop();
    QWidget::closeEvent(event);
    if (auto restore = std::exchange(OnClosed, nullptr)) restore();
}

TAccessRepair::TAccessRepair(TSync& frame, TUserPrompts& prompts, TWindowSearch& search, QObject* parent)
    : QObject(parent), prompts_(prompts), search_(search) {
    tmrFixQBFileAccess.setInterval(1);
    tmrFixQBFileAccess.setSingleShot(true);
    connect(&tmrFixQBFileAccess, &QTimer::timeout, this, &TAccessRepair::tmrFixQBFileAccessTimer);
    connect(&frame, &TSync::accessRepairWanted, this, [this] { tmrFixQBFileAccess.start(); });
    Pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

TAccessRepair::~TAccessRepair() {
    // The program is ending: the help window goes without bringing back a window that goes too.
    if (LastHelp) {
        LastHelp->OnClosed = nullptr;
        delete LastHelp.data();
    }
}

bool TAccessRepair::SendKeys(const std::string& keys) {
    const TSendKeysResult result = dm::SendKeys(keys, true, search_.Windows().Keyboard());
    if (!result.Ok)
        QMessageBox::critical(nullptr, QString::fromLatin1(SendKeysTitle), QString::fromLatin1(result.Error));
    return result.Ok;
}

void TAccessRepair::tmrFixQBFileAccessTimer() {
    tmrFixQBFileAccess.stop();
    // The biller may be removed while the question is open, and this repair with it.
    QPointer<TAccessRepair> self(this);
    if (!prompts_.AskYesNo(FixAccessQuestion) || !self) return;

    Outcome = roNotFound;
    TWindowMatch prefs;
    TWindowRect rect;
    if (search_.ActivateQuickBooks() && search_.ClickQuickBooksMenu("Edit", "Preferences...")) {
        // QuickBooks opens the window in its own time: the menu command only asked it to.
        for (int i = 0; i < PreferencesLookups && !prefs; ++i) {
            prefs = search_.FindTopWindow(PreferencesWindowClass, PreferencesTitlePart);
            if (!prefs) Pause(10);
        }
    }
    TWindowSystem& windows = search_.Windows();
    if (prefs) {
        Pause(10);
        if (std::optional<TWindowRect> r = windows.Rect(prefs.Window)) {
            rect = {r->Left, 0, r->Width, r->Height};
            windows.Move(prefs.Window, r->Left, 0);
        }
        Outcome = roPageNotReached;
        SendKeys("{home}");
        for (int i = 0; i < PageTries; ++i) {
            // Each key is handled by QuickBooks after it arrives, not when it is sent.
            Pause(250);
            if (search_.FindChildWindow(prefs.Window, PageMarkerClass, PageMarkerText)) {
                SendKeys("%c");
                Outcome = roPageReached;
                break;
            }
            SendKeys("{down}");
        }
    }

    auto* help = new THelpAuthorize(search_);
    LastHelp = help;
    if (HideMainWindow) HideMainWindow();
    if (Outcome == roPageNotReached)
        if (std::optional<TWindowRect> r = windows.Rect(prefs.Window)) rect = *r;
    if (Outcome != roNotFound) {
        help->move(rect.Left, rect.Bottom());
        help->resize(rect.Width, help->height());
    }
    help->Web->setHtml(GuiText(HelpAuthorizePage(Outcome)));
    help->OnClosed = ShowMainWindow;
    help->show();
    // Without a Preferences window there is nothing to follow: the page stays until it is closed.
    if (Outcome != roNotFound) help->tmrWatchQBPrefsWindow.start();
}

} // namespace dm
