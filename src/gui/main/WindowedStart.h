#pragma once

// The windowed program: the single-instance guard, start-up, the engine and the main window,
// in the order the program has always started.

#include "core/KvXml.h"
#include "engine/AppState.h"
#include "gui/main/GuiPrompts.h"

#include <memory>
#include <string>
#include <vector>

namespace dm {

class TMain;
class TMainEngine;

// What one windowed run builds, in the order it builds it; also used by the start-up benchmark.
class TWindowedProgram {
public:
    explicit TWindowedProgram(TAppState& state);
    ~TWindowedProgram();

    // From loading the options to starting the timers. False when the program is to end, with
    // ExitCode.
    bool Start();
    int ExitCode = 1;

    TAppState& State;
    TGuiPrompts Prompts;
    std::unique_ptr<TMainEngine> Engine;
    std::unique_ptr<TMain> Window;

private:
    TKvXML::MessageHandler previousHandler_;
};

// Runs the program with its window; a QApplication must exist. Returns the exit code.
int RunWindowed(const std::vector<std::string>& arguments);

} // namespace dm
