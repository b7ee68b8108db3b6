#include "engine/About.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/AppState.h"
#include "engine/UserPrompts.h"
#include "platform/System.h"

#include <QPointer>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace dm {

const char* const CheckingForUpdatesText = "Checking for updates...";
const char* const UpdateCheckFailedText = "Unable to check for updates. Try again.";
const char* const UpToDateText = "Your software is up to date.";
const char* const UpdateAvailableText = "An updated version is available.";
const char* const DownloadingUpdateText = "Downloading update...";
const char* const DownloadFailedText = "Unable to download the update. Try again.";
const char* const TestModeBannerText = "Local test mode enabled.";
const char* const UpdatePackageName = "invara-desktop-manager.deb";

TUpdateAnswer ReadUpdateAnswer(const std::string& body, const std::string& buildNumber) {
    TKvXML doc;
    doc.Silent = true;
    TUpdateAnswer answer;
    answer.Readable = doc.Parse(body) == TKvXML::TParseResult::Parsed;
    answer.Update = doc.Root()->PathText("response/update") == "1";
    answer.StartupVersion = ParseInteger(doc.Root()->PathText("response/versions/startup"))
                                .value_or(ParseInteger(buildNumber).value_or(0));
    answer.Url = doc.Root()->PathText("response/url");
    answer.Message = ReplaceText('|', "\r", doc.Root()->PathText("response/updatemessage"));
    return answer;
}

std::vector<std::string> UpdateCheckFields(const TAppState& app, bool userAsked) {
    std::vector<std::string> fields{"v=" + app.VersionText, "b=" + app.BuildNumber};
    if (userAsked) fields.push_back("o=1");
    if (app.TestMode) fields.push_back("DBGSESSID=1");
    return fields;
}

bool IsDebianPackageFile(const std::string& path) {
    static constexpr char magic[] = "!<arch>\ndebian-binary";
    char head[sizeof magic - 1] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && std::memcmp(head, magic, sizeof head) == 0;
}

TAbout::TAbout(TAppState& app, TUserPrompts& prompts)
    : App(app), Prompts(prompts), owner_(std::make_unique<TWebOwner>()) {
    tmrCheckUpdate.setSingleShot(true);
    tmrCheckUpdate.setInterval(500);
    connect(&tmrCheckUpdate, &QTimer::timeout, this, &TAbout::tmrCheckUpdateTimer);
    tmrGetUpdate.setSingleShot(true);
    tmrGetUpdate.setInterval(1);
    connect(&tmrGetUpdate, &QTimer::timeout, this, &TAbout::tmrGetUpdateTimer);
    tmrCheckUpdate.start();
}

TAbout::~TAbout() {
    Detach();
    // A package that was never handed over is of no use to anyone.
    if (Status != TStatus::Launched && Status != TStatus::NoInstaller) RemoveDownloadFolder();
}

std::string TAbout::VersionLine() const { return "Version " + App.VersionText + " Build " + App.BuildNumber; }

std::string TAbout::StatusText() const {
    switch (Status) {
    case TStatus::Checking: return CheckingForUpdatesText;
    case TStatus::CheckFailed: return UpdateCheckFailedText;
    case TStatus::UpToDate: return UpToDateText;
    case TStatus::Available: return UpdateAvailableText;
    case TStatus::Downloading:
    case TStatus::Launched: return DownloadingUpdateText;
    case TStatus::DownloadFailed: return DownloadFailedText;
    case TStatus::NoInstaller: return "Open " + InstallerPath + " to install the update.";
    }
    return {};
}

bool TAbout::StatusIsLink() const {
    return Status == TStatus::CheckFailed || Status == TStatus::Available || Status == TStatus::DownloadFailed;
}

bool TAbout::ShowStatus() const { return !App.HostedMode; }

void TAbout::SetStatus(TStatus status) {
    Status = status;
    emit changed();
}

void TAbout::UseDownloadMode() {
    tmrCheckUpdate.stop();
    tmrGetUpdate.start();
}

void TAbout::Detach() { owner_ = std::make_unique<TWebOwner>(); }

void TAbout::tmrCheckUpdateTimer() {
    tmrCheckUpdate.stop();
    if (App.HostedMode) return;
    WebPost(App.BusinessUrl + "dm_checkupdate.php", UpdateCheckFields(App, !StartupCheck), FormContentType, {},
            WebHandler(this, &TAbout::CheckResponse), *owner_);
}

void TAbout::CheckResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (status != wsFailed && status != wsDone) return;
    const TUpdateAnswer answer = status == wsDone ? ReadUpdateAnswer(text, App.BuildNumber) : TUpdateAnswer{};
    // An answer that is no XML document says nothing about updates: a failure, not "up to date".
    if (status == wsFailed || !answer.Readable) {
        if (StartupCheck) {
            emit closeRequested();
            return;
        }
        ShowOk = true;
        SetStatus(TStatus::CheckFailed);
        return;
    }
    emit frontRequested();
    if (!answer.Update) {
        SetStatus(TStatus::UpToDate);
    } else {
        UpdateUrl = answer.Url;
        if (StartupCheck) {
            QPointer<TAbout> self(this);
            const bool yes = Prompts.AskYesNo(answer.Message);
            if (!self) return;
            if (yes) {
                StartDownload();
                return;
            }
        } else {
            SetStatus(TStatus::Available);
        }
    }
    if (StartupCheck) emit closeRequested();
    ShowOk = true;
    emit changed();
}

void TAbout::Label4Click(bool fromUser) {
    if (fromUser && !StatusIsLink()) return;
    if (Status == TStatus::CheckFailed) {
        tmrCheckUpdate.start(500);
        SetStatus(TStatus::Checking);
        return;
    }
    ShowOk = false;
    StartDownload();
}

void TAbout::tmrGetUpdateTimer() {
    tmrGetUpdate.stop();
    Label4Click(false);
}

void TAbout::StartDownload() {
    // The package always comes from the service's own root: the answer's address names the
    // installer of another system.
    UpdateUrl = App.BaseUrl + UpdatePackageName;
    RemoveDownloadFolder();
    ShowProgress = true;
    ProgressMax = ProgressPosition = 0;
    downloadFolder_ = CreatePrivateTempFolder("invara-update-");
    if (downloadFolder_.empty()) {
        ShowOk = true;
        SetStatus(TStatus::DownloadFailed);
        return;
    }
    InstallerPath = downloadFolder_ + UpdatePackageName;
    SetStatus(TStatus::Downloading);
    QTimer::singleShot(PauseMs, this, [this] {
        TWebOptions options = WebOptions();
        options.UserStarted = true;
        WebGet(UpdateUrl, InstallerPath, WebHandler(this, &TAbout::DownloadProgress), *owner_, options);
    });
}

void TAbout::DownloadProgress(std::int32_t, WebStatus status, const std::string&, std::int32_t value) {
    switch (status) {
    case wsContentLength:
        ProgressMax = value;
        emit changed();
        return;
    case wsProgress:
        ProgressPosition = value;
        emit changed();
        return;
    case wsDone:
        if (IsDebianPackageFile(InstallerPath)) {
            App.UpdateLaunched = true;
            QTimer::singleShot(PauseMs, this, &TAbout::Launch);
            return;
        }
        [[fallthrough]];
    case wsFailed:
        // The box says so and offers the download again; the user may also just close it.
        RemoveDownloadFolder();
        ShowOk = true;
        ShowProgress = false;
        SetStatus(TStatus::DownloadFailed);
        return;
    default: return;
    }
}

void TAbout::Launch() {
    if (!OpenInstaller || !OpenInstaller(InstallerPath)) {
        // The package stays where it is, for the user to open; the program goes on.
        App.UpdateLaunched = false;
        ShowOk = true;
        ShowProgress = false;
        SetStatus(TStatus::NoInstaller);
        return;
    }
    App.RequestTerminate();
    SetStatus(TStatus::Launched);
    emit closeRequested();
}

void TAbout::RemoveDownloadFolder() {
    if (downloadFolder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(downloadFolder_, ec);
    downloadFolder_.clear();
}

} // namespace dm
