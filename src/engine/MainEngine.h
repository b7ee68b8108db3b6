#pragma once

// What the main window owns besides its widgets: the options, the billers with their sync
// frames, the settings file, the activity log and the one-session-at-a-time flag.

#include "engine/ActivityLog.h"
#include "engine/AppState.h"
#include "engine/Settings.h"

#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dm {

class TSync;
class TUserPrompts;

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
    bool SyncInProgress() const { return syncInProgress_; }
    void SetSyncInProgress(bool on);

    // Reads the settings file; a full load creates one frame per biller.
    void LoadSettings(bool optionsOnly);
    void SaveSettings();
    // Hands the transport the options it needs; call after the options change.
    void ApplyWebOptions();

    TSync* AddBiller(const BillerRecord& biller);
    // Removes the biller once no call of its frame is running (a dialog may be open in one).
    void RequestRemoveBiller(TSync* frame);
    bool IsUserNameLinked(const std::string& userName) const;
    TSync* BillerById(const std::string& id) const;
    // A payments-only session for the biller with this id (payment notifications).
    void SyncBillerById(const std::string& id);

    void BeginLogSession(const std::string& billerId);
    void LogLine(const std::string& message, const std::string& details = {});
    void EndLogSession(bool failed);

    // Called by every frame when its session has ended.
    void ContinueSyncAll(TSync* finished);

    // Program end: settings saved, then every frame from the last to the first closes
    // QuickBooks and goes.
    void Shutdown();

signals:
    void billerAdded(dm::TSync* frame);
    void billerRemoved(dm::TSync* frame);
    void logged(const std::string& billerId, const std::string& message);
    void sessionFinished(dm::TSync* frame);
    void syncInProgressChanged(bool on);

private:
    void RemoveNow(TSync* frame);

    TActivityLog log_;
    std::vector<TSync*> billers_;
    int frameCounter_ = 0;
    bool syncInProgress_ = false;
    std::string logBillerId_;
};

} // namespace dm
