#include "engine/AppState.h"
#include "engine/Startup.h"
#include "engine/UserPrompts.h"

#include "ScriptedPrompts.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dm;
namespace fs = std::filesystem;

namespace {

using RecordingPrompts = dmtest::TScriptedPrompts;

TAppState Decide(std::vector<std::string> args, bool hf = false, bool hft = false) {
    return DecideStartup({std::move(args), hf, hft, "ann"});
}

} // namespace

TEST(Startup, EnvironmentsAndPrefixes) {
    struct Case {
        std::vector<std::string> args;
        std::string baseUrl, prefix, tabPrefix, caption, statusBar;
        bool testMode;
    } cases[] = {
        {{}, ProductionBaseUrl, "", "", "Invara Desktop Manager", "", false},
        {{"-DEV"}, DevelopmentBaseUrl, "dev", "Dev - ", "[ Dev ] Invara Desktop Manager", "Dev Environment", false},
        {{"-dev", "-qa"}, QaBaseUrl, "qa", "QA - ", "[ QA ] [ Dev ] Invara Desktop Manager", "QA Environment", false},
        {{"-beta"}, BetaBaseUrl, "beta", "Beta - ", "[ Beta ] Invara Desktop Manager", "Beta Environment", false},
        {{"-aws"}, AwsTestBaseUrl, "", "", "Invara Desktop Manager", "", true},
        {{"-localtest"}, LocalTestBaseUrl, "", "", "Invara Desktop Manager", "", true},
        // The last environment wins the URL; the others keep what earlier switches set.
        {{"-dev", "-localtest"}, LocalTestBaseUrl, "dev", "Dev - ", "[ Dev ] Invara Desktop Manager", "Dev Environment", true},
        {{"-localtest", "-baseurl=http://127.0.0.1:9/Base"}, "http://127.0.0.1:9/Base/", "", "", "Invara Desktop Manager", "", true},
        {{"-unknown", "dev"}, ProductionBaseUrl, "", "", "Invara Desktop Manager", "", false},
    };
    for (const Case& c : cases) {
        TAppState s = Decide(c.args);
        std::string label = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(s.BaseUrl, c.baseUrl) << label;
        EXPECT_EQ(s.EnvironmentPrefix, c.prefix) << label;
        EXPECT_EQ(s.TabCaptionPrefix, c.tabPrefix) << label;
        EXPECT_EQ(s.WindowCaption, c.caption) << label;
        EXPECT_EQ(s.StatusBarText, c.statusBar) << label;
        EXPECT_EQ(s.TestMode, c.testMode) << label;
    }
    TAppState local = Decide({"-localtest"});
    EXPECT_TRUE(local.ShowLocalMenu);
    EXPECT_EQ(local.BusinessUrl, "http://localhost:8080/business/");
    EXPECT_EQ(local.SyncServiceUrl, "http://localhost:8080/webservices/quickbooks.php");
    EXPECT_EQ(local.ServiceUrl, "http://localhost:8080/webservices/service.php");
    EXPECT_EQ(local.UploaderUrl, "http://localhost:8080/webservices/uploader.php");
    EXPECT_EQ(local.ReportErrorUrl, "http://localhost:8080/webservices/report_error.php");
}

TEST(Startup, SwitchesPartnersAndMarkers) {
    TAppState s = Decide({"-M", "-Options", "-hf", "-HFT", "-ih", "-loginexternal", "-headless"});
    EXPECT_TRUE(s.StartMinimized && s.OptionsOnly && s.HighFrequency && s.FastServiceUpdates &&
                s.AlternateConnectionSwitch && s.LoginExternal && s.Headless);
    TAppState none = Decide({});
    EXPECT_FALSE(none.StartMinimized || none.OptionsOnly || none.HighFrequency || none.FastServiceUpdates ||
                 none.HostedMode);

    for (auto [sw, partner] : {std::pair{"-rightnetworks", "rightnetworks"}, {"-cloud9", "cloud9"},
                               {"-UNIDATA", "unidata"}, {"-hosted", "hosted"}}) {
        TAppState p = Decide({sw});
        EXPECT_TRUE(p.HostedMode) << sw;
        EXPECT_EQ(p.HostedPartner, partner);
    }
    TAppState markers = Decide({}, true, true);
    EXPECT_TRUE(markers.HighFrequency);
    EXPECT_TRUE(markers.FastServiceUpdates);
}

TEST(Startup, StorageFolderSwitchesKeepTheFoldersCase) {
    struct Case {
        std::vector<std::string> args;
        std::string folder;
    } cases[] = {
        {{"-storage=/Data/Books"}, "/Data/Books/"},
        {{"-STORAGE=/data/"}, "/data/"},
        {{"-storage=/data", "-storageadduser"}, "/data/ann/"},
        {{"-storageadduser"}, "ann/"},
        {{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Decide(c.args).CommandLineStorageFolder, c.folder);
    EXPECT_EQ(DecideStartup({{"-storageadduser"}, false, false, ""}).CommandLineStorageFolder, "User/");
}

TEST(Startup, DefaultStorageFolderMigratesTheLegacyFile) {
    dmtest::TempDir data;
    fs::create_directories(data.Path() / "Merovant");
    dmtest::WriteFileBytes(data.Path() / "Merovant" / "mvt.xml", "legacy");
    RecordingPrompts prompts;
    TAppState s = Decide({"-dev"});
    ASSERT_TRUE(PrepareStorageFolder(s, data.Path().string(), prompts));
    EXPECT_EQ(s.StorageFolder, data.Folder() + "Invara/");
    // Always the production name, whatever the environment.
    EXPECT_EQ(dmtest::ReadFileBytes(data.Path() / "Invara" / "invdesk.xml"), "legacy");
    EXPECT_FALSE(fs::exists(data.Path() / "Merovant" / "mvt.xml"));
    EXPECT_EQ(s.SettingsFileName(), data.Folder() + "Invara/devinvdesk.xml");

    // An existing file is not overwritten; the legacy one still goes.
    dmtest::WriteFileBytes(data.Path() / "Merovant" / "mvt.xml", "older");
    ASSERT_TRUE(PrepareStorageFolder(s, data.Path().string(), prompts));
    EXPECT_EQ(dmtest::ReadFileBytes(data.Path() / "Invara" / "invdesk.xml"), "legacy");
    EXPECT_FALSE(fs::exists(data.Path() / "Merovant" / "mvt.xml"));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST(Startup, InvalidCommandLineFolderStopsStartUp) {
    dmtest::TempDir data;
    RecordingPrompts prompts;
    TStartupEnvironment env{{"-storage=" + data.Folder() + "missing"}, data.Folder(), data.Path().string(), "ann", ""};
    TAppState s = RunStartup(env, prompts);
    EXPECT_TRUE(s.TerminateRequested);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0],
              "The storage path specified on the command line is not valid:\r\r" + data.Folder() + "missing/");
}

TEST(Startup, RunStartupCleansUpAndReadsTheVersion) {
    dmtest::TempDir data;
    fs::create_directories(data.Path() / "store");
    dmtest::WriteFileBytes(data.Path() / "store" / "qbsync.exe", "old");
    dmtest::WriteFileBytes(data.Path() / "hf.opt", "");
    for (int n = 1; n <= 11; ++n) dmtest::WriteFileBytes(data.Path() / "store" / ("log_" + std::to_string(n) + ".txt"), "x");
    // Left by a save that was killed: it holds the tokens. (Process 2^22 + 1 is not running.)
    const fs::path interrupted = data.Path() / "store" / "invdesk.xml.tmp-4194305-0";
    dmtest::WriteFileBytes(interrupted, "<token>313631-373138</token>");
    RecordingPrompts prompts;
    TStartupEnvironment env{{"-storage=" + data.Folder() + "store"}, data.Folder(), data.Path().string(), "ann", "2.0.10.5"};
    TAppState s = RunStartup(env, prompts);
    EXPECT_FALSE(s.TerminateRequested);
    EXPECT_EQ(s.StorageFolder, data.Folder() + "store/");
    EXPECT_FALSE(fs::exists(data.Path() / "store" / "qbsync.exe"));
    EXPECT_FALSE(fs::exists(interrupted));
    EXPECT_FALSE(fs::exists(data.Path() / "store" / "log_1.txt"));
    EXPECT_TRUE(fs::exists(data.Path() / "store" / "log_2.txt"));
    EXPECT_TRUE(s.HighFrequency);
    EXPECT_EQ(s.VersionText, "2.0.10");
    EXPECT_EQ(s.BuildNumber, "5");

    TStartupEnvironment invalidVersion = env;
    invalidVersion.VersionResource = "garbage";
    TAppState v = RunStartup(invalidVersion, prompts);
    EXPECT_EQ(v.VersionText, "0.0.0");
    EXPECT_EQ(v.BuildNumber, "0");
}
