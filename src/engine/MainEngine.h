#pragma once

// What the main window owns besides its widgets: the options, the billers with their sync
// frames, the settings file, the activity log, the one-session-at-a-time flag, the schedule,
// all-biller runs and the update check.

#include "engine/ActivityLog.h"
#include "engine/AppState.h"
#include "engine/Settings.h"
#include "engine/Sync.h"
#include "engine/SyncMessages.h"
#include "net/Web.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dm {

class TAddBusiness;
class TUserPrompts;

extern const char* const SyncAllQuestion;
extern const char* const SyncAllSummaryCaption;
extern const char* const UpdateNoticeFragment;

class TMainEngine : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    TMainEngine(TAppState& app, TUserPrompts& prompts, Clock clock = &QDateTime::currentDateTime);
    ~TMainEngine() override;

    TAppState& App;
    TUserPrompts& Prompts;
    TOptions Options;
    Clock Now;
    TSettingsStore Settings;

    // The billers in tab order.
    const std::vector<TSync*>& Billers() const { return billers_; }
    // The billers in the order of the biller list (sorted by entry, ignoring case).
    std::vector<TSync*> SortedBillers() const;
    // A session runs, or the dialogs that follow one are still open.
    bool SyncInProgress() const { return syncInProgress_ || followUps_ > 0; }
    void SetSyncInProgress(bool on);

    // Held while a session's follow-up dialogs are open: SyncInProgress stays on, so that no
    // timer starts a second session (and a second dialog) meanwhile.
    class TFollowUpGuard {
    public:
        explicit TFollowUpGuard(TMainEngine& engine) : engine_(&engine) { ++engine_->followUps_; }
        ~TFollowUpGuard() { End(); }
        TFollowUpGuard(const TFollowUpGuard&) = delete;
        TFollowUpGuard& operator=(const TFollowUpGuard&) = delete;
        void End() {
            if (engine_) --engine_->followUps_;
            engine_ = nullptr;
        }

    private:
        TMainEngine* engine_;
    };

    // Starts the frame now, or, while another session runs, once no session runs any more
    // (in the order asked). A frame whose own session runs is asked at once: it keeps a
    // payments-only start for the end of that session itself.
    void StartWhenFree(TSync* frame, const TSync::TSessionStart& start);

    // Reads the settings file; a full load creates one frame per biller.
    void LoadSettings(bool optionsOnly);
    void SaveSettings();
    // Hands the transport the options it needs; call after the options change.
    void ApplyWebOptions();

    // loaded: read from the settings file (its list entry names the id).
    TSync* AddBiller(const BillerRecord& biller, bool loaded = true);
    // A biller enrolled through the Add Biller wizard: added (its list entry is its name), saved,
    // and, with firstSession, its first session asked for unless the wizard says otherwise.
    TSync* EnrolBiller(const TAddBusiness& wizard, bool firstSession = true);
    // Removes the biller once no call of its frame is running (a dialog may be open in one).
    void RequestRemoveBiller(TSync* frame);
    bool IsUserNameLinked(const std::string& userName) const;
    // StartSync for every biller with this id, waiting for a running session to end.
    void SyncBillerById(const std::string& id, bool paymentsOnly);

    void BeginLogSession(const std::string& billerId);
    void LogLine(const std::string& message, const std::string& details = {});
    void EndLogSession(bool failed);
    // A session is writing "log.txt" now.
    bool LogSessionOpen() const { return log_.IsOpen(); }
    // Inside a wsFailed handler: the transport's cause of the failure to the log (and to
    // whoever watches webFailed), while the user keeps reading the fixed text.
    void LogWebFailure(const std::string& billerId);

    // A window the service asks for. Its address came from the network: one that is not a web
    // address is refused and logged, and the window gets none.
    void ShowServicePopup(TPopupSpec popup);

    // A notification fragment: its command is run, the rest shown when there is any and show
    // is set.
    void ShowNotification(bool onlyWhenHidden, const std::string& fragment, bool show);

    // All-biller runs. fromButton: the user pressed "Sync All Billers" (the review question is
    // asked); otherwise the schedule (or the headless front end) runs it without review.
    void SyncAll(bool fromButton, bool review = false);
    bool SyncAllActive = false;
    bool AutoSyncAll = false;
    bool ReviewInSyncAll = false;
    std::string SyncAllProgress; // "Synchronize all billers... 2 of 3: name"
    std::string LastSummaryHtml;
    // Called by every frame when its session has ended.
    void ContinueSyncAll(TSync* finished);
    static std::string SummaryHtml(const std::vector<TSync*>& billers);

    // The schedule: checked every 10 s from the window's creation.
    QTimer tmrAutoSync;
    void tmrAutoSyncTimer();

    // The main window's update check, made once about a second after start-up.
    QTimer tmrCheckForUpdates;
    void CheckForUpdates();
    int AnnouncedStartupVersion = 0;
    std::string UpdateUrl;
    bool UpdateBarShown = false;

    // Program end: settings saved, then every frame from the last to the first closes
    // QuickBooks and goes.
    void Shutdown();

signals:
    void billerAdded(dm::TSync* frame);
    void billerRemoved(dm::TSync* frame);
    // The all-biller run made this biller's page the active one.
    void billerActivated(dm::TSync* frame);
    void logged(const std::string& billerId, const std::string& message);
    // The real cause of a failed request ("certificate not trusted: ..."), in a session or not.
    void webFailed(const std::string& billerId, const std::string& cause);
    void sessionFinished(dm::TSync* frame);
    void syncInProgressChanged(bool on);
    void syncAllChanged();
    void updateAnnounced();

private:
    void RemoveNow(TSync* frame);
    // Starts the first waiting start that can run; true when a session runs now.
    bool StartQueued();
    void SyncNextBiller();
    void UpdateResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);

    TActivityLog log_;
    std::vector<TSync*> billers_;
    int frameCounter_ = 0;
    bool syncInProgress_ = false;
    int followUps_ = 0;
    std::vector<std::pair<QPointer<TSync>, TSync::TSessionStart>> queuedStarts_;
    std::string logBillerId_;
    std::vector<QPointer<TSync>> runOrder_; // a biller removed during the run drops out
    size_t runNext_ = 0;
    TWebOwner webOwner_;
};

} // namespace dm
