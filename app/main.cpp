// LarkSpool starts with its main window and lives exactly as long as it, unless the command
// line asks for work without a window.
#include "app/Form1.h"
#include "app/command_line.h"
#include "platform/program.h"

std::optional<int> platform::CommandLineMain(Os& os, const std::vector<std::wstring>& arguments)
{
    const app::Command command = app::ParseCommandLine(arguments);
    if (command.mode == app::Mode::Window) {
        return std::nullopt;
    }
    return app::RunCommand(os, command);
}

int platform::ProgramMain(Os& os, Runtime& runtime)
{
    Form1 form(os, runtime);
    return runtime.Run(form);
}
