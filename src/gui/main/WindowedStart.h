#pragma once

// The windowed program: the single-instance guard, start-up, the engine and the main window,
// in the order the program has always started.

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

    // From loading the options to starting the timers. False when the program is to end.
    bool Start();

    TAppState& State;
    TGuiPrompts Prompts;
    std::unique_ptr<TMainEngine> Engine;
    std::unique_ptr<TMain> Window;
};

// Runs the program with its window; a QApplication must exist. Returns the exit code.
int RunWindowed(const std::vector<std::string>& arguments);

} // namespace dm
