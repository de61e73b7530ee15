// The program's entry as the platform calls it, with the real operating system and runtime.
#pragma once

#include "platform/forms.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The command line's modes, which need no window: their exit code, or nothing when the
// program is to open its window. Called before any window, COM or common control is set up.
std::optional<int> CommandLineMain(Os& os, const std::vector<std::wstring>& arguments);

int ProgramMain(Os& os, Runtime& runtime);

} // namespace platform
