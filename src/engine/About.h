#pragma once

// The About box without its widgets: the version line, the update check of the box (at
// start-up, from the menu) and the download of the new version, which goes to the desktop's
// software installer. The view shows what this holds and forwards the clicks.

#include "net/Web.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dm {

struct TAppState;
class TUserPrompts;

extern const char* const CheckingForUpdatesText;  // "Checking for updates..."
extern const char* const UpdateCheckFailedText;   // "Unable to check for updates. Try again."
extern const char* const UpToDateText;            // "Your software is up to date."
extern const char* const UpdateAvailableText;     // "An updated version is available."
extern const char* const DownloadingUpdateText;   // "Downloading update..."
extern const char* const DownloadFailedText;      // "Unable to download the update. Try again."
extern const char* const TestModeBannerText;      // "Local test mode enabled."
// The agent's package, below BaseUrl; saved under this name in a private folder.
extern const char* const UpdatePackageName;

// What an answer of "dm_checkupdate.php" says.
struct TUpdateAnswer {
    bool Readable = false;   // an XML document with every element closed
    bool Update = false;     // "response/update" is "1"
    int StartupVersion = 0;  // "response/versions/startup", else the build number, else 0
    std::string Url;         // "response/url"
    std::string Message;     // "response/updatemessage", "|" turned into CR
};
TUpdateAnswer ReadUpdateAnswer(const std::string& body, const std::string& buildNumber);
// The fields of the check: v, b, then o=1 when the user asked (not at start-up), then
// DBGSESSID=1 in test mode.
std::vector<std::string> UpdateCheckFields(const TAppState& app, bool userAsked);

// True when the file begins as a Debian package does (an ar archive whose first member is
// "debian-binary"): an error page saved in its place is not handed to the installer.
bool IsDebianPackageFile(const std::string& path);

class TAbout : public QObject {
    Q_OBJECT
public:
    enum class TStatus {
        Checking,
        CheckFailed,   // link: check again
        UpToDate,
        Available,     // link: download
        Downloading,
        DownloadFailed, // link: download again
        Launched,      // the package went to the installer
        NoInstaller,   // downloaded, but nothing on this desktop opens packages
    };

    TAbout(TAppState& app, TUserPrompts& prompts);
    ~TAbout() override;

    TAppState& App;
    TUserPrompts& Prompts;

    bool StartupCheck = false;
    std::string UpdateUrl;
    std::string InstallerPath;

    QTimer tmrCheckUpdate; // 500 ms, running from the creation on
    QTimer tmrGetUpdate;   // 1 ms, for the download mode

    // The version line: "Version 1.4.1 Build 377".
    std::string VersionLine() const;
    TStatus Status = TStatus::Checking;
    // The status line, and whether it acts as a link now.
    std::string StatusText() const;
    bool StatusIsLink() const;
    bool ShowStatus() const; // no status at all in the hosted variants
    bool ShowOk = true;
    bool ShowProgress = false;
    std::int64_t ProgressMax = 0;
    std::int64_t ProgressPosition = 0;

    // The download mode of the update bar and the popup's link: no check, the download at once.
    void UseDownloadMode();

    void tmrCheckUpdateTimer();
    void tmrGetUpdateTimer();
    // The status link; fromUser false is the download timer's call.
    void Label4Click(bool fromUser = true);
    // The box is closing: answers still on the way go nowhere.
    void Detach();

    // Hands the downloaded package to the desktop's software installer; false when nothing
    // could open it. Set by the view; the package is never made executable or run.
    std::function<bool(const std::string& path)> OpenInstaller;
    // Test hook: the pause before the download starts and before the hand-over (500 ms).
    int PauseMs = 500;

signals:
    void changed();
    void closeRequested();
    void frontRequested();

private:
    void CheckResponse(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void DownloadProgress(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void StartDownload();
    void Launch();
    void RemoveDownloadFolder();
    void SetStatus(TStatus status);

    std::unique_ptr<TWebOwner> owner_;
    std::string downloadFolder_;
};

} // namespace dm
