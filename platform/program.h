// The program's entry as the platform calls it, with the real operating system and runtime.
#pragma once

#include "platform/forms.h"

namespace platform {

int ProgramMain(Os& os, Runtime& runtime);

} // namespace platform
