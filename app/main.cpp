// LarkSpool starts with its main window and lives exactly as long as it.
#include "app/Form1.h"
#include "platform/program.h"

int platform::ProgramMain(Os& os, Runtime& runtime)
{
    Form1 form(os, runtime);
    return runtime.Run(form);
}
