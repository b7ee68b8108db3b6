#pragma once

// The start-up steps that need no window: the command line, the storage folder with the
// legacy migration, left-over files, pruning of rotated logs and the program's own version.

#include "engine/AppState.h"

#include <string>
#include <vector>

namespace dm {

class TUserPrompts;

struct TStartupEnvironment {
    std::vector<std::string> Arguments; // without the program name
    std::string ExecutableFolder;       // where "hf.opt" and "hft.opt" are looked for
    std::string AppDataFolder;          // without a trailing "/"
    std::string UserName;
    std::string VersionResource;        // "a.b.c.d"; the compiled-in version when empty
    static TStartupEnvironment Current(const std::vector<std::string>& arguments);
};

// Chooses StorageFolder and moves a legacy settings file into it. Returns false, after telling
// the user and asking the application to terminate, when the folder cannot be used.
bool PrepareStorageFolder(TAppState& state, const std::string& appDataFolder, TUserPrompts& prompts);

// Everything up to loading the options. Check TerminateRequested on the result.
TAppState RunStartup(const TStartupEnvironment& environment, TUserPrompts& prompts);

} // namespace dm
