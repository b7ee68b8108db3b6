#include "engine/MainEngine.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/About.h"
#include "engine/AddBusiness.h"
#include "engine/Notifications.h"
#include "engine/Schedule.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "platform/System.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>

namespace dm {

const char* const SyncAllQuestion =
    "Do you want to review new invoices from QuickBooks and choose which \rinvoices to send to Invara for each "
    "biller during this synchronization \rof all billers?\r\rAny billers you have set \"Automatically send new "
    "invoices\" for will not \rrequire review of new invoices during this synchronization.\r\rYou can click Cancel "
    "now to stop the synchronization of all billers.";
const char* const SyncAllSummaryCaption = "Invara Synchronize All Billers Summary";
const char* const UpdateNoticeFragment =
    "<div style=\"margin-bottom: 10px;\"><b><a href=\"#download_update\">Download an updated version of the Invara "
    "Desktop Manager.</a></b></div><div>Click the link above to download and install the new version of the "
    "<nobr>Invara</nobr> Desktop Manager.</div>";

TMainEngine::TMainEngine(TAppState& app, TUserPrompts& prompts, Clock clock)
    : App(app), Prompts(prompts), Now(std::move(clock)), Settings(app, prompts),
      log_(app.StorageFolder, Options.NoLogs, Now) {
    Options.AlternateConnection = app.AlternateConnectionSwitch;
    ApplyWebOptions();
    tmrAutoSync.setInterval(10000);
    connect(&tmrAutoSync, &QTimer::timeout, this, &TMainEngine::tmrAutoSyncTimer);
    tmrCheckForUpdates.setInterval(1000);
    connect(&tmrCheckForUpdates, &QTimer::timeout, this, &TMainEngine::CheckForUpdates);
}

TMainEngine::~TMainEngine() {
    for (auto it = billers_.rbegin(); it != billers_.rend(); ++it) delete *it;
}

void TMainEngine::SetSyncInProgress(bool on) {
    if (syncInProgress_ == on) return;
    syncInProgress_ = on;
    emit syncInProgressChanged(on);
}

void TMainEngine::ApplyWebOptions() {
    TWebOptions web = WebOptions();
    web.TestMode = App.TestMode;
    web.AlternateConnection = Options.AlternateConnection;
    web.UseDefaultProxy = Options.UseDefaultProxy;
    SetWebOptions(web);
}

void TMainEngine::LoadSettings(bool optionsOnly) {
    TSettingsStore::TLoaded loaded = Settings.LoadSettings(optionsOnly, Options);
    ApplyWebOptions();
    if (optionsOnly) return;
    for (const BillerRecord& record : loaded.billers) AddBiller(record, true);
}

void TMainEngine::SaveSettings() {
    std::vector<const BillerRecord*> records;
    for (const TSync* frame : billers_) records.push_back(&frame->Biller);
    Settings.SaveSettings(Options, records);
}

TSync* TMainEngine::AddBiller(const BillerRecord& biller, bool loaded) {
    auto* frame = new TSync(*this, biller);
    frame->FrameName = "sync" + std::to_string(++frameCounter_);
    frame->ListEntry = loaded ? "Biller " + biller.id + " - " + biller.name : biller.name;
    billers_.push_back(frame);
    emit billerAdded(frame);
    return frame;
}

TSync* TMainEngine::EnrolBiller(const TAddBusiness& wizard, bool firstSession) {
    QPointer<TSync> frame = AddBiller(wizard.NewBiller(), false);
    SaveSettings();
    // The frame is still confirming its account: the session follows that confirmation.
    if (frame && firstSession && wizard.StartsFirstSession()) frame->btnSyncNowClick(true);
    return frame;
}

std::vector<TSync*> TMainEngine::SortedBillers() const {
    std::vector<TSync*> sorted = billers_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const TSync* a, const TSync* b) {
        return ToLowerAscii(a->ListEntry) < ToLowerAscii(b->ListEntry);
    });
    return sorted;
}

void TMainEngine::RequestRemoveBiller(TSync* frame) {
    if (std::find(billers_.begin(), billers_.end(), frame) == billers_.end()) return;
    frame->RemovePending = true;
    // Posted, so that a frame is never destroyed inside its own handlers.
    QMetaObject::invokeMethod(this, [this, frame] { RemoveNow(frame); }, Qt::QueuedConnection);
}

void TMainEngine::RemoveNow(TSync* frame) {
    auto it = std::find(billers_.begin(), billers_.end(), frame);
    if (it == billers_.end()) return;
    if (frame->Busy()) {
        // A dialog of this frame is still open; try again once it has returned.
        QMetaObject::invokeMethod(this, [this, frame] { RemoveNow(frame); }, Qt::QueuedConnection);
        return;
    }
    billers_.erase(it);
    frame->CloseQuickBooksOnExit();
    const bool wasRunning = frame->Phase != TSync::phIdle;
    if (wasRunning) SetSyncInProgress(false);
    emit billerRemoved(frame);
    delete frame;
    SaveSettings();
    // What waited for the session that went with the biller goes on.
    if (wasRunning && !SyncInProgress() && !StartQueued() && SyncAllActive) SyncNextBiller();
}

bool TMainEngine::IsUserNameLinked(const std::string& userName) const {
    const std::string wanted = ToLowerAscii(TrimBlanks(userName));
    return std::any_of(billers_.begin(), billers_.end(),
                       [&](const TSync* f) { return ToLowerAscii(TrimBlanks(f->Biller.username)) == wanted; });
}

void TMainEngine::SyncBillerById(const std::string& id, bool paymentsOnly) {
    std::vector<QPointer<TSync>> matching;
    for (TSync* f : billers_)
        if (f->Biller.id == id) matching.emplace_back(f);
    // Not a second session beside the running one: it would cut that one's log and clear the
    // flag while itself still runs.
    for (const QPointer<TSync>& f : matching)
        if (f) StartWhenFree(f, {paymentsOnly, false, false, false});
}

void TMainEngine::StartWhenFree(TSync* frame, const TSync::TSessionStart& start) {
    if (!SyncInProgress() || frame->Phase != TSync::phIdle || frame->QbConnected) {
        frame->Start(start);
        return;
    }
    for (const auto& [queued, options] : queuedStarts_)
        if (queued == frame && options == start) return;
    queuedStarts_.emplace_back(frame, start);
}

bool TMainEngine::StartQueued() {
    while (!queuedStarts_.empty() && !SyncInProgress()) {
        auto [frame, start] = queuedStarts_.front();
        queuedStarts_.erase(queuedStarts_.begin());
        if (frame) frame->Start(start);
    }
    return SyncInProgress();
}

// The log is a trace for the user and support: a disk that refuses it must not stop a session.
void TMainEngine::BeginLogSession(const std::string& billerId) {
    logBillerId_ = billerId;
    try {
        log_.BeginLogSession(billerId);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "activity log: %s\n", e.what());
    }
}

void TMainEngine::LogLine(const std::string& message, const std::string& details) {
    emit logged(logBillerId_, message);
    try {
        log_.LogLine(message, details);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "activity log: %s\n", e.what());
    }
}

void TMainEngine::LogWebFailure(const std::string& billerId) {
    const std::string& cause = WebFailureReason();
    if (cause.empty()) return;
    emit webFailed(billerId, cause);
    LogLine("Connection failure: " + TextHead(cause, 1024));
}

void TMainEngine::ShowServicePopup(TPopupSpec popup) {
    if (!popup.Url.empty() && !IsWebAddress(popup.Url)) {
        LogLine("Refused to open an address from the service that is not a web address.", TextHead(popup.Url, 1024));
        popup.Url.clear();
    }
    Prompts.ShowServicePopup(popup);
}

void TMainEngine::EndLogSession(bool failed) {
    try {
        log_.EndLogSession(failed);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "activity log: %s\n", e.what());
    }
}

void TMainEngine::ShowNotification(bool onlyWhenHidden, const std::string& fragment, bool show) {
    TNotificationCommand command = ExtractNotificationCommand(fragment);
    if (command.Found && command.Command == "DM:syncpayments") SyncBillerById(command.Argument, true);
    if (TrimBlanks(command.Rest).empty() || !show) return;
    Prompts.ShowNotification(onlyWhenHidden, command.Rest);
}

// --- All-biller runs ------------------------------------------------------------------------

void TMainEngine::SyncAll(bool fromButton, bool review) {
    if (SyncAllActive) return;
    if (fromButton) {
        bool anyQuickBooks = std::any_of(billers_.begin(), billers_.end(),
                                         [](const TSync* f) { return f->Biller.type != "ezi"; });
        if (!anyQuickBooks) {
            review = true;
        } else {
            TAnswer answer = Prompts.AskYesNoCancel(SyncAllQuestion);
            if (answer == TAnswer::Cancel) return;
            review = answer == TAnswer::Yes;
        }
    }
    ReviewInSyncAll = review;
    SyncAllActive = true;
    runOrder_.clear();
    for (TSync* f : SortedBillers()) runOrder_.emplace_back(f);
    runNext_ = 0;
    emit syncAllChanged();
    // A session already running (a payment notification's) is not joined: the run begins
    // when it ends.
    if (!SyncInProgress()) SyncNextBiller();
}

void TMainEngine::ContinueSyncAll(TSync* finished) {
    emit sessionFinished(finished);
    if (SyncInProgress()) return;
    // Starts that waited for this session go first; the run goes on when they have ended.
    if (StartQueued()) return;
    if (SyncAllActive) SyncNextBiller();
}

void TMainEngine::SyncNextBiller() {
    while (runNext_ < runOrder_.size()) {
        QPointer<TSync> frame = runOrder_[runNext_++];
        if (!frame) continue;
        emit billerActivated(frame);
        if (AutoSyncAll && !frame->Biller.autosync) continue;
        auto position = std::find(billers_.begin(), billers_.end(), frame.data()) - billers_.begin() + 1;
        SyncAllProgress = "Synchronize all billers... " + std::to_string(position) + " of " +
                          std::to_string(billers_.size()) + ": " + frame->Biller.name;
        emit syncAllChanged();
        frame->StartSync(false, false, ReviewInSyncAll);
        // A biller that cannot start (its account is blocked) is passed over instead of
        // stopping the run; one that is still being confirmed starts when that ends.
        if (!frame || frame->Phase != TSync::phIdle || frame->SyncAfterConfirm) return;
    }
    SyncAllActive = false;
    SyncAllProgress.clear();
    LastSummaryHtml = billers_.empty() ? std::string() : SummaryHtml(billers_);
    emit syncAllChanged();
    if (!AutoSyncAll && !billers_.empty()) Prompts.ShowHtml(SyncAllSummaryCaption, LastSummaryHtml);
    AutoSyncAll = false;
}

std::string TMainEngine::SummaryHtml(const std::vector<TSync*>& billers) {
    std::string html =
        "<html><head><style>body {font-family: Verdana, Arial, Helvetica;font-size: 10pt;}td {font-family: Verdana, "
        "Arial, Helvetica;font-size: 10pt;}</style></head><body><!-- DMCOMMAND_SHOW_PRINT_TOOLBAR --><table "
        "cellpadding=\"0\" cellspacing=\"0\" style=\"border-bottom: 1px solid #C0C0C0; border-left: 1px solid "
        "#C0C0C0; border-right: 1px solid #C0C0C0;\">";
    for (const TSync* f : billers) {
        std::string status, style;
        // Names and messages are plain text (a business may be called "Smith & Sons <Retail>").
        if (f->CloseReceived && !f->HadErrors) {
            status = "Successful";
        } else {
            std::string message;
            if (f->HadErrors) {
                if (f->OtherFileOpen) message = "Unable to sync while another company file is open in QuickBooks.";
                else if (f->ErrorKind == TSync::ekGeneral)
                    message = f->ErrorText.empty() ? "Last sync experienced errors." : f->ErrorText;
                else if (f->ErrorKind == TSync::ekAccessNotGranted) message = "Access to QuickBooks company file not granted.";
                else if (f->ErrorKind == TSync::ekProcessRequestFailed)
                    message = "QuickBooks encountered an error processing the request.";
            } else if (f->Blocked) {
                // No session could run: say why instead of an empty error.
                message = f->BlockedText;
            }
            status = "<i>ERROR: " + HtmlEscape(message) + "</i>";
            style = " background-color: #FFD0D0;";
        }
        html += "<tr><td width=\"1%\" style=\"border-top: 1px solid #C0C0C0; padding: 4px 8px 6px 8px;\" nowrap><b>" +
                HtmlEscape(f->Biller.name) + "</b></td><td width=\"99%\" style=\"border-top: 1px solid #C0C0C0; padding: 4px 8px 6px 8px;" +
                style + "\">" + status + "</td></tr>";
    }
    return html + "</table></body></html>";
}

// --- Schedule -------------------------------------------------------------------------------

void TMainEngine::tmrAutoSyncTimer() {
    tmrAutoSync.setInterval(10000);
    if (!Options.autosync || SyncInProgress()) return;
    const QTime now = Now().time();
    if (!ScheduleMatches(now.hour(), now.minute(), Options.autosynchour, Options.autosyncminute,
                         Options.autosynchowoften))
        return;
    if (billers_.size() > 1) {
        AutoSyncAll = true;
        SyncAll(false, false);
    } else if (billers_.size() == 1) {
        billers_[0]->StartSync(false, false, false);
    }
    // The same minute must not start a second run.
    tmrAutoSync.setInterval(70000);
}

// --- Update check ---------------------------------------------------------------------------

void TMainEngine::CheckForUpdates() {
    tmrCheckForUpdates.stop(); // once per run
    if (App.HostedMode) return;
    WebPost(App.BusinessUrl + "dm_checkupdate.php", UpdateCheckFields(App, false), FormContentType, {},
            WebHandler(this, &TMainEngine::UpdateResponse), webOwner_);
}

void TMainEngine::UpdateResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (status != wsDone) return;
    // A failed or unreadable answer is ignored: the user sees nothing of it.
    const TUpdateAnswer answer = ReadUpdateAnswer(text, App.BuildNumber);
    if (AnnouncedStartupVersion >= answer.StartupVersion || !answer.Update) return;
    AnnouncedStartupVersion = answer.StartupVersion;
    Prompts.ShowNotification(true, UpdateNoticeFragment);
    UpdateUrl = answer.Url;
    if (!UpdateUrl.empty() && !IsWebAddress(UpdateUrl)) {
        LogLine("Refused an update link that is not a web address.", TextHead(UpdateUrl, 1024));
        UpdateUrl.clear();
    }
    UpdateBarShown = true;
    emit updateAnnounced();
}

void TMainEngine::Shutdown() {
    SaveSettings();
    while (!billers_.empty()) {
        TSync* frame = billers_.back();
        billers_.pop_back();
        frame->CloseQuickBooksOnExit();
        delete frame;
    }
}

} // namespace dm
