#pragma once

#include "engine/AppState.h"

namespace dm {

// The engine without a window: reads the settings, runs the work asked for on the command
// line ("-syncall", "-sync=ID"), prints one line per step and a summary per biller. Returns the
// process exit code: 0 only when every biller ended without errors.
int RunHeadless(TAppState& state);

} // namespace dm
