#include "engine/AppState.h"

#include "core/General.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace dm {

const char* const ApplicationTitle = "Invara Desktop Manager";

const char* const ProductionBaseUrl = "https://www.invara.com/";
const char* const DevelopmentBaseUrl = "https://dev.invara.com/";
const char* const QaBaseUrl = "https://qa.invara.com/";
const char* const BetaBaseUrl = "https://beta.invara.com/";
const char* const AwsTestBaseUrl = "http://aws-test.invara.com/";
const char* const LocalTestBaseUrl = "http://localhost:8080/";

void TAppState::RequestTerminate() {
    TerminateRequested = true;
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
}

std::string TAppState::SettingsFileName() const { return StorageFolder + EnvironmentPrefix + "invdesk.xml"; }

namespace {

struct Environment {
    const char* Switch;
    const char* BaseUrl;
    const char* Prefix;      // null: the switch does not set it
    const char* TabCaption;  // null: likewise
    const char* Caption;     // null: likewise
    const char* StatusBar;   // null: likewise
    bool TestMode;
};

const Environment Environments[] = {
    {"-dev", DevelopmentBaseUrl, "dev", "Dev - ", "[ Dev ] ", "Dev Environment", false},
    {"-qa", QaBaseUrl, "qa", "QA - ", "[ QA ] ", "QA Environment", false},
    {"-beta", BetaBaseUrl, "beta", "Beta - ", "[ Beta ] ", "Beta Environment", false},
    {"-aws", AwsTestBaseUrl, nullptr, nullptr, nullptr, nullptr, true},
    {"-localtest", LocalTestBaseUrl, nullptr, nullptr, nullptr, nullptr, true},
};

const std::pair<const char*, const char*> Partners[] = {
    {"-rightnetworks", "rightnetworks"},
    {"-cloud9", "cloud9"},
    {"-unidata", "unidata"},
    {"-hosted", "hosted"},
};

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(std::string_view(text).substr(0, prefix.size()), prefix);
}

} // namespace

TAppState DecideStartup(const TStartupInputs& inputs) {
    TAppState s;
    s.Arguments = inputs.Arguments;
    s.BaseUrl = ProductionBaseUrl;
    std::string captionPrefix;

    for (const std::string& arg : inputs.Arguments) {
        const std::string a = ToLowerAscii(arg);
        if (a == "-m") s.StartMinimized = true;
        else if (a == "-options") s.OptionsOnly = true;
        else if (a == "-hf") s.HighFrequency = true;
        else if (a == "-hft") s.FastServiceUpdates = true;
        else if (a == "-ih") s.AlternateConnectionSwitch = true;
        else if (a == "-loginexternal") s.LoginExternal = true;
        else if (a == "-headless") s.Headless = true;
        else if (StartsWithNoCase(arg, "-storage=")) {
            // The folder keeps its case: file names are case-sensitive here.
            s.CommandLineStorageFolder = arg.substr(9);
            if (s.CommandLineStorageFolder.empty() || s.CommandLineStorageFolder.back() != '/')
                s.CommandLineStorageFolder += '/';
        } else if (a == "-storageadduser") {
            s.CommandLineStorageFolder += (inputs.UserName.empty() ? std::string("User") : inputs.UserName) + "/";
        } else if (StartsWithNoCase(arg, "-baseurl=")) {
            s.BaseUrl = arg.substr(9);
            if (s.BaseUrl.empty() || s.BaseUrl.back() != '/') s.BaseUrl += '/';
        } else {
            for (const Environment& e : Environments) {
                if (a != e.Switch) continue;
                s.BaseUrl = e.BaseUrl;
                if (e.Prefix) s.EnvironmentPrefix = e.Prefix;
                if (e.TabCaption) s.TabCaptionPrefix = e.TabCaption;
                if (e.Caption) captionPrefix = e.Caption + captionPrefix;
                if (e.StatusBar) s.StatusBarText = e.StatusBar;
                if (e.TestMode) s.TestMode = true;
                if (a == "-localtest") s.ShowLocalMenu = true;
            }
            for (const auto& [sw, partner] : Partners) {
                if (a != sw) continue;
                s.HostedMode = true;
                s.HostedPartner = partner;
            }
        }
    }
    s.WindowCaption = captionPrefix + ApplicationTitle;
    if (inputs.HfMarker) s.HighFrequency = true;
    if (inputs.HftMarker) s.FastServiceUpdates = true;
    ComposeUrls(s);
    return s;
}

void ComposeUrls(TAppState& s) {
    s.BusinessUrl = s.BaseUrl + "business/";
    s.SyncServiceUrl = s.BaseUrl + "webservices/quickbooks.php";
    s.ServiceUrl = s.BaseUrl + "webservices/service.php";
    s.UploaderUrl = s.BaseUrl + "webservices/uploader.php";
    s.ReportErrorUrl = s.BaseUrl + "webservices/report_error.php";
}

} // namespace dm
