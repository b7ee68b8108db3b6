#pragma once

// What start-up decides once per run from the command line, the marker files and the
// environment; read-only for the rest of the run except where noted.

#include <string>
#include <vector>

namespace dm {

extern const char* const ApplicationTitle; // "Invara Desktop Manager"

struct TAppState {
    std::vector<std::string> Arguments;

    // Server environment.
    std::string BaseUrl;
    std::string BusinessUrl;
    std::string SyncServiceUrl; // may be re-based by a service redirect
    std::string ServiceUrl;     // likewise
    std::string UploaderUrl;
    std::string ReportErrorUrl;
    std::string EnvironmentPrefix; // in front of the settings file name
    std::string TabCaptionPrefix;  // in front of the caption of each loaded biller
    std::string WindowCaption;     // the environment prefixes and the title
    std::string StatusBarText;     // empty: the environment status bar is hidden
    bool ShowLocalMenu = false;

    std::string HostedPartner;
    bool HostedMode = false;
    bool TestMode = false;
    bool LoginExternal = false;
    bool IsVistaOrLater = true;
    bool UpdateLaunched = false;

    // Switches for the main window.
    bool StartMinimized = false;
    bool OptionsOnly = false;
    bool HighFrequency = false; // also set by loading a stored interval of 7 or more
    bool FastServiceUpdates = false;
    bool AlternateConnectionSwitch = false; // -ih
    bool Headless = false;

    // Files.
    std::string CommandLineStorageFolder; // from -storage= and -storageadduser
    std::string StorageFolder;            // ending with "/"

    std::string VersionText;
    std::string BuildNumber;

    // Asking the application to terminate: the event loop ends at its next turn.
    bool TerminateRequested = false;
    void RequestTerminate();

    std::string SettingsFileName() const; // StorageFolder + prefix + "invdesk.xml"
};

struct TStartupInputs {
    std::vector<std::string> Arguments; // without the program name
    bool HfMarker = false;              // "hf.opt" beside the executable
    bool HftMarker = false;             // "hft.opt"
    std::string UserName;               // for -storageadduser ("User" when unknown)
};

// The base URLs of the environments.
extern const char* const ProductionBaseUrl;
extern const char* const DevelopmentBaseUrl;
extern const char* const QaBaseUrl;
extern const char* const BetaBaseUrl;
extern const char* const AwsTestBaseUrl;
extern const char* const LocalTestBaseUrl;

// The command line, left to right; unknown arguments are ignored. A pure function.
TAppState DecideStartup(const TStartupInputs& inputs);
// BusinessUrl and the endpoint URLs from BaseUrl.
void ComposeUrls(TAppState& state);

} // namespace dm
