// The command line for scheduled and scripted backups. Without arguments the program opens its
// window; with one of these it does its work on the console it was started from and ends.
#pragma once

#include "backup/schedule.h"
#include "platform/os.h"

#include <optional>
#include <string>
#include <vector>

namespace app {

enum class Mode { Window, Backup, Check, Restore, Copies, List, Schedule, Usage, NotUnderstood };

struct Command {
    Mode mode = Mode::Window;
    std::wstring file;      // /check's or /restore's backup file; /copies' folder or "off"
    bool hasFile = false;   // /copies with a folder or "off"
    int keep = 0;           // /backup /keep N: the backups that stay; 0 keeps all
    bool automatic = false; // /backup /auto: only a changed list, and automatic backups thinned out
    // /schedule with a schedule to register (or off); nothing: tell the schedule.
    std::optional<backup::Schedule> schedule{};
    std::wstring problem; // NotUnderstood: the line that names what was not understood
};

// Switches start with / or -, in any letter case.
Command ParseCommandLine(const std::vector<std::wstring>& arguments);

// Exit codes of the command line.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNothingToBackUp = 2;
constexpr int kExitExportFailed = 3;
constexpr int kExitDiffers = 4;
constexpr int kExitUnreadable = 5;
constexpr int kExitCopyFailed = 6;    // the backup checked out, its copy failed
constexpr int kExitRefused = 7;       // the file writes outside the key or deletes; nothing changed
constexpr int kExitNotRestored = 8;   // the list from before is back
constexpr int kExitRestoreFailed = 9; // not restored, and the list from before is not back either
constexpr int kExitBusy = 10;         // another LarkSpool is restoring the list; nothing changed

// Runs a mode other than Window and gives its exit code.
int RunCommand(platform::Os& os, const Command& command);

std::wstring UsageText();

} // namespace app
