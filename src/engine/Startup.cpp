#include "engine/Startup.h"

#include "core/General.h"
#include "engine/ActivityLog.h"
#include "engine/Settings.h"
#include "engine/UserPrompts.h"
#include "platform/System.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace dm {

TStartupEnvironment TStartupEnvironment::Current(const std::vector<std::string>& arguments) {
    return {arguments, dm::ExecutableFolder(), dm::AppDataFolder(), WindowsUserName("User"), {}};
}

namespace {

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Copies the legacy file to the target unless the target exists, then removes the legacy
// file. When the copy fails the legacy file stays, so that no settings are lost.
void MigrateLegacyFile(const std::string& legacy, const std::string& target) {
    if (!Exists(legacy)) return;
    std::error_code ec;
    if (!Exists(target)) {
        fs::copy_file(legacy, target, ec);
        if (ec) return;
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, ec);
    }
    fs::remove(legacy, ec);
}

} // namespace

bool PrepareStorageFolder(TAppState& state, const std::string& appDataFolder, TUserPrompts& prompts) {
    if (!state.CommandLineStorageFolder.empty()) {
        state.StorageFolder = state.CommandLineStorageFolder;
        std::vector<std::string> ignored;
        if (!ListFiles(state.StorageFolder, "log_*.txt", ignored)) {
            prompts.ShowMessage("The storage path specified on the command line is not valid:\r\r" +
                                state.StorageFolder);
            state.RequestTerminate();
            return false;
        }
        return true;
    }
    std::string data = appDataFolder;
    if (data.empty() || data.back() != '/') data += '/';
    state.StorageFolder = data + "Invara/";
    std::error_code ec;
    fs::create_directories(state.StorageFolder, ec);
    std::vector<std::string> ignored;
    if (!ListFiles(state.StorageFolder, "log_*.txt", ignored)) {
        prompts.ShowMessage("The storage folder cannot be created or read:\r\r" + state.StorageFolder);
        state.RequestTerminate();
        return false;
    }
    // Always the production name, whatever the environment.
    MigrateLegacyFile(data + "Merovant/mvt.xml", state.StorageFolder + "invdesk.xml");
    return true;
}

TAppState RunStartup(const TStartupEnvironment& environment, TUserPrompts& prompts) {
    TStartupInputs inputs;
    inputs.Arguments = environment.Arguments;
    inputs.HfMarker = Exists(environment.ExecutableFolder + "hf.opt");
    inputs.HftMarker = Exists(environment.ExecutableFolder + "hft.opt");
    inputs.UserName = environment.UserName;
    TAppState state = DecideStartup(inputs);

    if (!PrepareStorageFolder(state, environment.AppDataFolder, prompts)) return state;

    std::error_code ec;
    fs::remove(state.StorageFolder + "qbsync.exe", ec); // left over by older versions
    // Interrupted saves leave siblings that hold the tokens.
    TSettingsStore(state, prompts).RemoveStaleTemporaries();

    PruneLogs(state.StorageFolder);

    TVersionInfo version = environment.VersionResource.empty() ? TVersionInfo()
                                                               : TVersionInfo(environment.VersionResource);
    state.VersionText = version.VersionText();
    state.BuildNumber = version.BuildNumber();
    return state;
}

} // namespace dm
