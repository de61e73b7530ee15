#include "app/command_line.h"

#include "app/run_count.h"
#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare_text.h"
#include "backup/export.h"
#include "backup/run_number.h"

#include <algorithm>
#include <cwctype>

namespace app {

namespace {

constexpr wchar_t kProgram[] = L"LarkSpool.exe";
constexpr int kPollMilliseconds = 100;

// "backup" for "/Backup" or "-BACKUP"; empty for anything that is not a switch.
std::wstring SwitchName(const std::wstring& argument)
{
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
        return {};
    }
    std::wstring name = argument.substr(1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; });
    return name;
}

Command NotUnderstood(const std::wstring& line)
{
    return {.mode = Mode::NotUnderstood, .file = {}, .problem = line};
}

void Tell(platform::Os& os, const std::wstring& text)
{
    // Messages of the window may run over several lines; the console shows them as one.
    std::wstring line = text;
    std::replace(line.begin(), line.end(), L'\n', L' ');
    os.Print(line);
}

// What a start, one click on "Export Custom Names" and "Exit" do, then a wait for the tool and
// the check, as the window does them.
int Backup(platform::Os& os)
{
    const auto tell = [&os](const std::wstring& text) { Tell(os, text); };
    const std::wstring startCount = ReadRunCount(os, tell);
    StoreRunCount(os, *backup::ParseRunNumber(startCount) + 1);
    const std::wstring registryTool = backup::FindRegistryTool(os);
    if (registryTool.empty()) {
        // No backup was made: the run gives its number back, as a run without an export does.
        const std::int64_t count = *backup::ParseRunNumber(startCount);
        StoreRunCount(os, count == 0 ? 0 : count - 1);
        tell(L"Nothing was backed up: the registry tool reg.exe is neither in " + os.SystemPath() + L" nor in " +
             os.AppPath());
        return kExitExportFailed;
    }
    std::unique_ptr<backup::ExportRun> run = backup::StartBackup(os, registryTool, startCount);
    const std::wstring runNumber = run->runNumber();
    backup::WriteDateStamp(os, runNumber);
    // The export's refresh: the counter moves on from the number whose folder was made.
    StoreRunCount(os, *backup::ParseRunNumber(runNumber) + 2);

    while (run->Poll() == backup::ExportRun::State::Exporting || run->state() == backup::ExportRun::State::Checking) {
        os.Sleep(kPollMilliseconds);
    }
    const std::wstring file = backup::BackupFile(runNumber);
    if (run->state() == backup::ExportRun::State::Checked) {
        tell(file + L": " + backup::FormatKilobytes(os.FileLen(file), os.DecimalSeparator()) + L" kb, " +
             backup::CountOf(run->valuesChecked(), L"value", L"values") + L" in " +
             backup::CountOf(run->keysChecked(), L"key", L"keys") + L", checked");
        return kExitOk;
    }
    switch (run->problem()) {
    case backup::ExportRun::Problem::NothingToBackUp:
        tell(run->failure());
        return kExitNothingToBackUp;
    case backup::ExportRun::Problem::ExportFailed:
        tell(file + L": " + run->failure());
        return kExitExportFailed;
    default:
        tell(file + L": " + run->failure());
        return kExitDiffers;
    }
}

// The backup against the key now, as the Backups window's compare shows it.
int Check(platform::Os& os, const std::wstring& file)
{
    const backup::CheckResult check = backup::CheckBackup(os, file, backup::kAddOnKey);
    if (check.outcome == backup::CheckResult::Outcome::Unreadable) {
        Tell(os, file + L": unreadable: " + check.problem);
        return kExitUnreadable;
    }
    if (check.outcome == backup::CheckResult::Outcome::NotABackup) {
        Tell(os, file + L": not a backup of " + backup::kAddOnKey + L": " + check.problem);
        return kExitUnreadable;
    }
    os.Print(backup::SummaryLine(check.differences));
    for (const backup::Difference& difference : check.differences) {
        os.Print(backup::DifferenceLine(difference, backup::kAddOnKeyFullName));
    }
    return check.differences.empty() ? kExitOk : kExitDiffers;
}

int List(platform::Os& os)
{
    const platform::RegistryTree now = os.ReadRegistryTree(backup::kAddOnKey).value_or(platform::RegistryTree{});
    for (const std::wstring& number : backup::ListBackupNumbers(os)) {
        const backup::BackupDetails details = backup::ReadBackupDetails(os, number, now);
        const std::wstring size =
            details.size ? backup::FormatKilobytes(*details.size, os.DecimalSeparator()) + L" kb" : L"";
        std::wstring line = number;
        for (const std::wstring& cell :
             {details.created, size, std::to_wstring(details.values), std::to_wstring(details.keys), details.state}) {
            line += L"\t";
            line += cell;
        }
        os.Print(line);
    }
    return kExitOk;
}

} // namespace

Command ParseCommandLine(const std::vector<std::wstring>& arguments)
{
    if (arguments.empty()) {
        return {};
    }
    const std::wstring name = SwitchName(arguments[0]);
    std::size_t expected = 1;
    Command command;
    if (name == L"backup") {
        command.mode = Mode::Backup;
    } else if (name == L"list") {
        command.mode = Mode::List;
    } else if (name == L"?") {
        command.mode = Mode::Usage;
    } else if (name == L"check") {
        if (arguments.size() < 2) {
            return NotUnderstood(L"The switch " + arguments[0] + L" needs the backup file to check.");
        }
        command.mode = Mode::Check;
        command.file = arguments[1];
        expected = 2;
    } else {
        return NotUnderstood(L"Not understood: " + arguments[0]);
    }
    if (arguments.size() > expected) {
        return NotUnderstood(L"Not understood: " + arguments[expected]);
    }
    return command;
}

std::wstring UsageText()
{
    return std::wstring(L"Backs up the custom names of Wrenlet (HKCU\\Software\\Zephrix\\Wrenlet2).\n\n") + kProgram +
           L"               opens the window\n" + kProgram +
           L" /backup       makes a backup and checks it: exit code 0 checked, 2 nothing to back up,\n"
           L"                            3 the export failed, 4 the backup differs or is unreadable\n" +
           kProgram +
           L" /check FILE   compares a backup with the key now: 0 same, 4 differs,\n"
           L"                            5 unreadable or not a backup of the list\n" +
           kProgram + L" /list         lists the backups, newest first\n" + kProgram +
           L" /?            shows this text";
}

int RunCommand(platform::Os& os, const Command& command)
{
    // Nobody may be there to close a message: a failure is told on the console, as one line.
    try {
        switch (command.mode) {
        case Mode::Backup:
            return Backup(os);
        case Mode::Check:
            return Check(os, command.file);
        case Mode::List:
            return List(os);
        case Mode::Usage:
            os.Print(UsageText());
            return kExitOk;
        default:
            os.Print(command.problem);
            os.Print(UsageText());
            return kExitUsage;
        }
    } catch (const std::exception& error) {
        Tell(os, platform::StopMessage(error));
        return command.mode == Mode::Check    ? kExitUnreadable
               : command.mode == Mode::Backup ? kExitExportFailed
                                              : kExitUsage;
    }
}

} // namespace app
