#pragma once

// The log viewer's state and operations: the log files with a snapshot of the current log, the
// sessions of the chosen file (newest first), the events of the chosen session, the detail of
// the chosen event, sending a session to support and deleting log files. Files are read in
// slices on the main thread, so that a window showing this stays responsive on a large log; a
// small file is read at once.

#include "engine/LogReader.h"
#include "net/Web.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dm {

class TUserPrompts;

extern const char* const SnapshotLogName; // "log_0.txt"
extern const char* const CurrentLogFileText;
extern const char* const PastLogFileText;
extern const char* const DeleteLogFileQuestion;
extern const char* const DeleteAllLogsQuestion;
extern const char* const AllLogsDeletedMessage;
extern const char* const SessionSentMessage;

struct TLogFileEntry {
    std::string Name; // the file name in the storage folder
    std::string Text; // what the list shows
};

// The file list: the snapshot as the current log first, then the past logs newest first by
// modification minute (within one minute, names in reverse order). paths: full paths.
std::vector<TLogFileEntry> LogFileEntries(std::vector<std::string> paths);

class TViewLog : public QObject {
    Q_OBJECT
public:
    // currentLogOpen: whether a session is writing "log.txt" now; it is then not deleted (the
    // writer would go on into a file nobody can see).
    TViewLog(std::string storageFolder, std::string businessUrl, TUserPrompts& prompts,
             std::function<bool()> currentLogOpen = {});
    // The snapshot goes with the viewer.
    ~TViewLog() override;

    std::vector<TLogFileEntry> LogFiles;
    int LogFileIndex = -1;
    std::string CurrentLogFile; // full path of the chosen file
    std::vector<TLogSession> Sessions; // newest first
    int SessionIndex = -1;
    std::vector<TLogEvent> Events;
    int EventIndex = -1;
    int LastEventIndex = 0; // kept when another session is chosen
    std::string Content;    // the chosen event's detail
    bool Sending = false;   // "Send Session to Support" waits for its answer

    // How much is read before the window gets its turn again.
    std::int64_t SliceBytes = 4 << 20;
    int SliceMilliseconds = 15;

    // Reading goes on in slices.
    bool Busy() const { return job_ != nullptr; }
    bool DeleteLogFileEnabled() const;

    // Opening: the snapshot, the file list, the first file loaded.
    void FormCreate();
    void lbxLogFileClick(int index);
    void lbxSessionsClick(int index);
    void lbxEventsClick(int index);
    void btnSendSessionClick();
    void btnDeleteLogFileClick();
    void btnDeleteAllLogsClick();

signals:
    void filesChanged();
    void sessionsChanged();
    void eventsChanged();
    void contentChanged();
    void sendingChanged();
    // Reading goes on in the background; percent of the current file or copy.
    void progress(int percent);
    void idle();
    // Every log is gone: the window closes.
    void closeRequested();

private:
    using TFinish = std::function<void(TSlicedJob&)>;
    void Run(std::unique_ptr<TSlicedJob> job, TFinish finish);
    void Slice();
    void ListFiles();
    void ClearFile();
    bool CurrentFileExists() const;
    void SendResponse(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);

    std::string folder_;
    std::string businessUrl_;
    TUserPrompts& prompts_;
    std::function<bool()> currentLogOpen_;
    std::vector<std::string> foundAtOpening_;
    std::unique_ptr<TSlicedJob> job_;
    TFinish finish_;
    int finishing_ = 0; // the steps that follow a read run inside one another
    QTimer tmrSlice;
};

} // namespace dm
