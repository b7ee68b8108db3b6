#include "engine/MainEngine.h"

#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "net/Web.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>

namespace dm {

TMainEngine::TMainEngine(TAppState& app, TUserPrompts& prompts, Clock clock)
    : App(app), Prompts(prompts), Now(std::move(clock)), Settings(app, prompts),
      log_(app.StorageFolder, Options.NoLogs, Now) {
    Options.AlternateConnection = app.AlternateConnectionSwitch;
    ApplyWebOptions();
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
    for (const BillerRecord& record : loaded.billers) AddBiller(record);
}

void TMainEngine::SaveSettings() {
    std::vector<const BillerRecord*> records;
    for (const TSync* frame : billers_) records.push_back(&frame->Biller);
    Settings.SaveSettings(Options, records);
}

TSync* TMainEngine::AddBiller(const BillerRecord& biller) {
    auto* frame = new TSync(*this, biller);
    frame->FrameName = "sync" + std::to_string(++frameCounter_);
    billers_.push_back(frame);
    emit billerAdded(frame);
    return frame;
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
    if (frame->Phase != TSync::phIdle) SetSyncInProgress(false);
    emit billerRemoved(frame);
    delete frame;
    SaveSettings();
}

bool TMainEngine::IsUserNameLinked(const std::string& userName) const {
    return std::any_of(billers_.begin(), billers_.end(),
                       [&](const TSync* f) { return f->Biller.username == userName; });
}

TSync* TMainEngine::BillerById(const std::string& id) const {
    for (TSync* f : billers_)
        if (f->Biller.id == id) return f;
    return nullptr;
}

void TMainEngine::SyncBillerById(const std::string& id) {
    if (TSync* frame = BillerById(id)) frame->StartSync(true, false, false);
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

void TMainEngine::EndLogSession(bool failed) {
    try {
        log_.EndLogSession(failed);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "activity log: %s\n", e.what());
    }
}

void TMainEngine::ContinueSyncAll(TSync* finished) { emit sessionFinished(finished); }

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
