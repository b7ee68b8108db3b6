#include "engine/ViewLog.h"

#include "core/General.h"
#include "engine/UserPrompts.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

const char* const SnapshotLogName = "log_0.txt";
const char* const CurrentLogFileText = "Current Log File";
const char* const PastLogFileText = "Past log file - ";
const char* const DeleteLogFileQuestion = "Are you sure you want to delete the currently selected log file?";
const char* const DeleteAllLogsQuestion = "Are you sure you want to delete all log files?";
const char* const AllLogsDeletedMessage = "All log files deleted.";
const char* const SessionSentMessage = "Session sent to support.";

namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::vector<TLogFileEntry> LogFileEntries(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    std::vector<TLogFileEntry> entries;
    struct TPast {
        std::string Key;
        TLogFileEntry Entry;
    };
    std::vector<TPast> past;
    for (const std::string& path : paths) {
        std::string name = BaseName(path);
        if (name == SnapshotLogName) {
            entries.push_back({name, CurrentLogFileText});
            continue;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtime);
        std::string text = PastLogFileText + DateTimeText(modified);
        std::string key = modified.toString(QStringLiteral("yyyyMMddHHmm")).toStdString() + "|" + name + "|" + text;
        past.push_back({ToLowerAscii(key), {name, std::move(text)}});
    }
    std::stable_sort(past.begin(), past.end(), [](const TPast& a, const TPast& b) { return a.Key < b.Key; });
    for (auto it = past.rbegin(); it != past.rend(); ++it) entries.push_back(std::move(it->Entry));
    return entries;
}

TViewLog::TViewLog(std::string storageFolder, std::string businessUrl, TUserPrompts& prompts,
                   std::function<bool()> currentLogOpen)
    : folder_(std::move(storageFolder)), businessUrl_(std::move(businessUrl)), prompts_(prompts),
      currentLogOpen_(std::move(currentLogOpen)) {
    tmrSlice.setInterval(0);
    connect(&tmrSlice, &QTimer::timeout, this, &TViewLog::Slice);
}

TViewLog::~TViewLog() {
    job_.reset();
    ::unlink((folder_ + SnapshotLogName).c_str()); // a failure is of no consequence
}

bool TViewLog::DeleteLogFileEnabled() const {
    return LogFileIndex >= 0 && LogFileIndex < static_cast<int>(LogFiles.size()) &&
           LogFiles[LogFileIndex].Name != SnapshotLogName;
}

bool TViewLog::CurrentFileExists() const { return !CurrentLogFile.empty() && FileExists(CurrentLogFile); }

void TViewLog::Run(std::unique_ptr<TSlicedJob> job, TFinish finish) {
    job_ = std::move(job);
    finish_ = std::move(finish);
    Slice();
}

void TViewLog::Slice() {
    if (!job_) {
        tmrSlice.stop();
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    while (!job_->Step(SliceBytes)) {
        if (elapsed.elapsed() >= SliceMilliseconds) {
            tmrSlice.start();
            emit progress(job_->Percent());
            return;
        }
    }
    tmrSlice.stop();
    std::unique_ptr<TSlicedJob> job = std::move(job_);
    TFinish finish = std::move(finish_);
    // The next step (sessions, then events, then a detail) may start the next job from here.
    ++finishing_;
    if (finish) finish(*job);
    --finishing_;
    if (!job_ && finishing_ == 0) emit idle();
}

void TViewLog::FormCreate() {
    const std::string snapshot = folder_ + SnapshotLogName;
    ::unlink(snapshot.c_str());
    const std::string current = folder_ + "log.txt";
    if (FileExists(current))
        Run(std::make_unique<TFileCopy>(current, snapshot), [this](TSlicedJob&) { ListFiles(); });
    else
        ListFiles();
}

void TViewLog::ListFiles() {
    foundAtOpening_.clear();
    dm::ListFiles(folder_, "log_*.txt", foundAtOpening_);
    LogFiles = LogFileEntries(foundAtOpening_);
    emit filesChanged();
    if (!LogFiles.empty()) lbxLogFileClick(0);
}

void TViewLog::ClearFile() {
    job_.reset();
    Sessions.clear();
    SessionIndex = -1;
    Events.clear();
    EventIndex = -1;
    Content.clear();
    emit sessionsChanged();
    emit eventsChanged();
    emit contentChanged();
}

void TViewLog::lbxLogFileClick(int index) {
    if (index < 0 || index >= static_cast<int>(LogFiles.size())) return;
    LogFileIndex = index;
    CurrentLogFile = folder_ + LogFiles[index].Name;
    emit filesChanged();
    ClearFile();
    Run(std::make_unique<TSessionScan>(CurrentLogFile), [this](TSlicedJob& job) {
        auto& scan = static_cast<TSessionScan&>(job);
        Sessions.assign(std::make_move_iterator(scan.Sessions.rbegin()), std::make_move_iterator(scan.Sessions.rend()));
        SessionIndex = Sessions.empty() ? -1 : 0;
        emit sessionsChanged();
        if (SessionIndex == 0) lbxSessionsClick(0);
    });
}

void TViewLog::lbxSessionsClick(int index) {
    job_.reset();
    Content.clear();
    Events.clear();
    EventIndex = -1;
    emit contentChanged();
    emit eventsChanged();
    if (index < 0 || index >= static_cast<int>(Sessions.size()) || !CurrentFileExists()) return;
    SessionIndex = index;
    Run(std::make_unique<TEventScan>(CurrentLogFile, Sessions[index]), [this](TSlicedJob& job) {
        Events = std::move(static_cast<TEventScan&>(job).Events);
        const bool keep = LastEventIndex >= 0 && LastEventIndex < static_cast<int>(Events.size());
        if (!keep) LastEventIndex = 0;
        EventIndex = keep ? LastEventIndex : -1;
        emit eventsChanged();
        if (keep) lbxEventsClick(LastEventIndex);
    });
}

void TViewLog::lbxEventsClick(int index) {
    job_.reset();
    Content.clear();
    emit contentChanged();
    LastEventIndex = index;
    EventIndex = index >= 0 && index < static_cast<int>(Events.size()) ? index : -1;
    if (EventIndex < 0 || !CurrentFileExists()) return;
    Run(std::make_unique<TEventDetailScan>(CurrentLogFile, Events[index]), [this](TSlicedJob& job) {
        Content = std::move(static_cast<TEventDetailScan&>(job).Detail);
        emit contentChanged();
    });
}

void TViewLog::btnSendSessionClick() {
    if (Sending || SessionIndex < 0 || SessionIndex >= static_cast<int>(Sessions.size()) || !CurrentFileExists())
        return;
    // One session is what support asked for; it is read at once, whatever its size.
    TSessionTextScan scan(CurrentLogFile, Sessions[SessionIndex]);
    while (!scan.Step(SliceBytes)) {
    }
    if (scan.Hex.empty()) return;
    Sending = true;
    emit sendingChanged();
    std::vector<std::string> fields;
    fields.push_back("c=" + scan.Hex);
    scan.Hex = std::string();
    // The viewer may be gone when the answer comes: the request then tells nobody.
    WebPost(businessUrl_ + "dm_send_session.php?DBGSESSID=1", fields, FormContentType, {},
            WebHandler(this, &TViewLog::SendResponse), this);
}

void TViewLog::SendResponse(std::int32_t, WebStatus status, const std::string&, std::int32_t) {
    if (status != wsDone) return;
    Sending = false;
    emit sendingChanged();
    prompts_.ShowMessage(SessionSentMessage);
}

void TViewLog::btnDeleteLogFileClick() {
    if (!DeleteLogFileEnabled()) return;
    if (!prompts_.AskYesNo(DeleteLogFileQuestion)) return;
    const int at = LogFileIndex;
    job_.reset();
    ::unlink(CurrentLogFile.c_str());
    LogFiles.erase(LogFiles.begin() + at);
    if (LogFiles.empty()) {
        LogFileIndex = -1;
        CurrentLogFile.clear();
        emit filesChanged();
        ClearFile();
        return;
    }
    lbxLogFileClick(std::min(at, static_cast<int>(LogFiles.size()) - 1));
}

void TViewLog::btnDeleteAllLogsClick() {
    if (!prompts_.AskYesNo(DeleteAllLogsQuestion)) return;
    job_.reset();
    for (const std::string& path : foundAtOpening_) ::unlink(path.c_str());
    // A file being written cannot be deleted where the log was first kept; here it could, and
    // the rest of the running session would go nowhere.
    if (!currentLogOpen_ || !currentLogOpen_()) ::unlink((folder_ + "log.txt").c_str());
    emit closeRequested();
    prompts_.ShowMessage(AllLogsDeletedMessage);
}

} // namespace dm
