// The Windows entry: hands the real operating system and window runtime to the program.
#include "platform/program.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/)
{
    platform::win32::Win32Os os;
    // The runtime's own parsing of the command line, so that no shell library is loaded for it.
    const std::vector<std::wstring> arguments(__wargv + 1, __wargv + __argc);
    if (const std::optional<int> exitCode = platform::CommandLineMain(os, arguments)) {
        return *exitCode;
    }
    try {
        platform::win32::Win32Runtime runtime(instance);
        return platform::ProgramMain(os, runtime);
    } catch (const std::exception& error) {
        os.MsgBox(platform::StopMessage(error), platform::MessageKind::Error);
    }
    return platform::kExitFailure;
}
