// The run count in the per-user settings store, shared by the main window and the command line.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <functional>
#include <string>

namespace app {

// The stored count as text when it is a count. A first run finds no entry and starts at 0; an
// entry that is not a count (changed from outside) is told through `tell`, and counting starts
// again from 0.
std::wstring ReadRunCount(platform::Os& os, const std::function<void(const std::wstring&)>& tell);
void StoreRunCount(platform::Os& os, std::int64_t count);

} // namespace app
