#include "app/command_line.h"

#include "app/run_count.h"
#include "backup/automatic.h"
#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare_text.h"
#include "backup/copies.h"
#include "backup/export.h"
#include "backup/restore.h"
#include "backup/run_number.h"
#include "backup/schedule.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <utility>

namespace app {

namespace {

constexpr int kPollMilliseconds = 100;
constexpr std::int64_t kMostKept = 1000000;

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

// Messages of the window may run over several lines; the console shows them as one.
std::wstring OneLine(const std::wstring& text)
{
    std::wstring line = text;
    std::replace(line.begin(), line.end(), L'\n', L' ');
    return line;
}

void Tell(platform::Os& os, const std::wstring& text)
{
    os.Print(OneLine(text));
}

// Why the command failed or was refused goes to standard error, so that a script that keeps the
// output still sees it.
void TellError(platform::Os& os, const std::wstring& text)
{
    os.PrintError(OneLine(text));
}

// The oldest backup folders deleted until `keep` remain, never the new one, nor one that holds
// the copies folder, nor the one that holds the list from before a restore that is still to be
// put back.
void KeepNewest(platform::Os& os, std::size_t keep, const std::wstring& newRunNumber)
{
    const std::vector<std::wstring> numbers = backup::ListBackupNumbers(os);
    std::size_t remaining = numbers.size();
    for (auto number = numbers.rbegin(); number != numbers.rend() && remaining > keep; ++number) {
        if (*number == newRunNumber) {
            continue;
        }
        const std::wstring folder = backup::BackupFolder(*number);
        try {
            if (backup::HoldsCopiesFolder(os, *number)) {
                os.Print(L"Not deleted: " + folder + L" holds the copies folder");
                continue;
            }
            os.RemoveFolder(folder);
            os.Print(L"Deleted " + folder);
            --remaining;
        } catch (const platform::Failure& failure) {
            Tell(os, L"Not deleted: " + failure.text());
        }
    }
}

// What a start and one click on "Export Custom Names" do: the backup started, its date stamp
// written; null, with a line saying why, when the registry tool is missing.
std::shared_ptr<backup::ExportRun> StartBackup(platform::Os& os)
{
    const auto tell = [&os](const std::wstring& text) { Tell(os, text); };
    const std::wstring startCount = ReadRunCount(os, tell);
    StoreRunCount(os, *backup::ParseRunNumber(startCount) + 1);
    const std::wstring registryTool = backup::FindRegistryTool(os);
    if (registryTool.empty()) {
        // No backup was made: the run gives its number back, as a run without an export does.
        const std::int64_t count = *backup::ParseRunNumber(startCount);
        StoreRunCount(os, count == 0 ? 0 : count - 1);
        TellError(os, L"Nothing was backed up: the registry tool reg.exe is neither in " + os.SystemPath() +
                          L" nor in " + os.AppPath());
        return nullptr;
    }
    std::shared_ptr<backup::ExportRun> run = backup::StartBackup(os, registryTool, startCount);
    backup::WriteDateStamp(os, run->runNumber());
    // The export's refresh: the counter moves on from the number whose folder was made.
    StoreRunCount(os, *backup::ParseRunNumber(run->runNumber()) + 2);
    return run;
}

// The newest backup on C: that checks out, compared with the key now.
struct Newest {
    std::wstring number;
    std::wstring date; // of its date stamp, "12-06-2026"; empty without one
    std::size_t values = 0;
    std::size_t valuesNow = 0;
    bool same = false;
};

std::wstring DateOfBackup(platform::Os& os, const std::wstring& number)
{
    try {
        return backup::CreatedText(os.ReadFileBytes(backup::DateStampFile(number))).substr(0, 10);
    } catch (const platform::Failure&) {
        return {}; // told without a date
    }
}

// The newest backup on C: that checks out, and how the list now compares with it. When nothing
// was written to the list since it was last found equal, that is told without reading every value.
std::optional<Newest> NewestCheckedBackup(platform::Os& os)
{
    const std::vector<std::wstring> numbers = backup::ListBackupNumbers(os);
    if (numbers.empty()) {
        return std::nullopt;
    }
    if (const std::optional<std::size_t> values = backup::UnchangedSinceRecorded(os, numbers.front())) {
        return Newest{.number = numbers.front(),
                      .date = DateOfBackup(os, numbers.front()),
                      .values = *values,
                      .valuesNow = *values,
                      .same = true};
    }
    for (const std::wstring& number : numbers) {
        const std::uint64_t since = os.SystemTime();
        const backup::CheckResult check = backup::CheckBackup(os, backup::BackupFile(number), backup::kAddOnKey);
        if (check.outcome != backup::CheckResult::Outcome::Same &&
            check.outcome != backup::CheckResult::Outcome::Differs) {
            continue;
        }
        Newest newest{.number = number,
                      .date = DateOfBackup(os, number),
                      .values = check.values,
                      .valuesNow = 0,
                      .same = check.differences.empty()};
        const backup::DifferenceCounts counts = backup::Count(check.differences);
        newest.valuesNow = check.values + counts.added - std::min(counts.removed, check.values + counts.added);
        if (newest.same) {
            backup::RecordUnchanged(os, number, since);
        }
        return newest;
    }
    return std::nullopt;
}

std::wstring BackupOf(const Newest& newest)
{
    return L"backup " + newest.number + (newest.date.empty() ? L"" : L" of " + newest.date);
}

// The automatic backups that a year of runs no longer needs; never one made by hand.
void ThinAutomaticBackups(platform::Os& os)
{
    const std::optional<std::int64_t> today = backup::DayOf(os.DateText());
    if (!today) {
        return;
    }
    for (const std::wstring& number : backup::BackupsToThin(backup::AutomaticBackups(os), *today)) {
        if (backup::HoldsCopiesFolder(os, number)) {
            continue;
        }
        try {
            os.RemoveFolder(backup::BackupFolder(number));
            backup::ForgetAutomatic(os, number);
            os.Print(L"Deleted " + backup::BackupFolder(number));
        } catch (const platform::Failure& failure) {
            Tell(os, L"Not deleted: " + failure.text());
        }
    }
}

// What a start, one click on "Export Custom Names" and "Exit" do, then a wait for the tool and
// the check, as the window does them. A restore under way is waited for, so that the list is
// backed up whole, and none starts while the backup is read and old backups are deleted.
// An automatic run backs up only a list that changed, records what it made and did, and thins
// out its own backups, unless the list has lost more than half of its values.
int Backup(platform::Os& os, int keep, bool automatic)
{
    // What an automatic run records: its first error, or else its last line.
    std::wstring said;
    bool failed = false;
    const auto tell = [&os, &said, &failed](const std::wstring& text) {
        Tell(os, text);
        if (!failed) {
            said = text;
        }
    };
    const auto tellError = [&os, &said, &failed](const std::wstring& text) {
        TellError(os, text);
        if (!std::exchange(failed, true)) {
            said = text;
        }
    };
    const auto ended = [&os, &said, automatic](int code, bool warned = false) {
        if (automatic) {
            backup::RecordAutomaticRun(
                os, {.when = os.DateText() + L" " + os.TimeText(), .exitCode = code, .warned = warned, .line = said});
        }
        return code;
    };
    const std::unique_ptr<platform::ListLock> lock = os.LockList(backup::kStartLockWait);
    if (!lock && keep > 0) {
        tell(L"Old backups are all kept: another LarkSpool has held the list for a minute.");
        keep = 0;
    }
    std::optional<Newest> newest;
    bool lost = false;
    if (automatic) {
        newest = NewestCheckedBackup(os);
        if (newest && newest->same) {
            tell(L"unchanged since " + BackupOf(*newest));
            return ended(kExitOk);
        }
        lost = newest && newest->valuesNow * 2 < newest->values;
    }
    const std::uint64_t since = os.SystemTime(); // the export and its check read the list after this
    const std::shared_ptr<backup::ExportRun> run = StartBackup(os);
    if (!run) {
        return ended(kExitExportFailed);
    }
    const std::wstring runNumber = run->runNumber();
    while (run->Poll() == backup::ExportRun::State::Exporting || run->state() == backup::ExportRun::State::Checking) {
        os.Sleep(kPollMilliseconds);
    }
    const std::wstring file = backup::BackupFile(runNumber);
    if (run->state() == backup::ExportRun::State::Checked) {
        tell(file + L": " + backup::FormatKilobytes(os.FileLen(file), os.DecimalSeparator()) + L" kb, " +
             backup::CountOf(run->valuesChecked(), L"value", L"values") + L" in " +
             backup::CountOf(run->keysChecked(), L"key", L"keys") + L", checked");
        if (automatic) {
            backup::MarkAutomatic(os, runNumber);
            backup::RecordUnchanged(os, runNumber, since);
        }
        const std::optional<backup::CopyOutcome> copy = backup::CopyBackup(os, runNumber);
        if (copy) {
            // A copy not made ends the backup with an exit code of its own.
            for (const std::wstring& line : {copy->text, copy->detail}) {
                if (line.empty()) {
                    continue;
                }
                if (copy->kept) {
                    tell(line);
                } else {
                    tellError(line);
                }
            }
            const std::atomic<bool> never{false};
            if (const std::size_t caughtUp = backup::CatchUpCopies(os, never); caughtUp != 0) {
                tell(L"Missing copies made: " + backup::CountOf(caughtUp, L"backup", L"backups"));
            }
        }
        const int code = copy && !copy->kept ? kExitCopyFailed : kExitOk;
        if (lost) {
            // Kept whole: the backups from before the loss may be the only ones with the names.
            said = L"The list has " + backup::CountOf(newest->valuesNow, L"name", L"names") + L"; " +
                   BackupOf(*newest) + L" had " + std::to_wstring(newest->values) +
                   L". If names were lost, restore backup " + newest->number + L" in the Backups window.";
            Tell(os, said);
            return ended(code, true);
        }
        if (keep > 0) {
            KeepNewest(os, static_cast<std::size_t>(keep), runNumber);
        }
        if (automatic && lock) {
            ThinAutomaticBackups(os);
        }
        return ended(code);
    }
    switch (run->problem()) {
    case backup::ExportRun::Problem::NothingToBackUp:
        tellError(run->failure());
        return ended(kExitNothingToBackUp, newest.has_value());
    case backup::ExportRun::Problem::ExportFailed:
        tellError(file + L": " + run->failure());
        return ended(kExitExportFailed);
    default:
        tellError(file + L": " + run->failure());
        return ended(kExitDiffers);
    }
}

// The backup against the key now, as the Backups window's compare shows it.
int Check(platform::Os& os, const std::wstring& file)
{
    const backup::CheckResult check = backup::CheckBackup(os, file, backup::kAddOnKey);
    if (check.outcome == backup::CheckResult::Outcome::Unreadable) {
        TellError(os, file + L": unreadable: " + check.problem);
        return kExitUnreadable;
    }
    if (check.outcome == backup::CheckResult::Outcome::NotABackup) {
        TellError(os, file + L": not a backup of " + backup::kAddOnKey + L": " + check.problem);
        return kExitUnreadable;
    }
    os.Print(backup::SummaryLine(check.differences));
    for (const backup::Difference& difference : check.differences) {
        os.Print(backup::DifferenceLine(difference, backup::kAddOnKeyFullName));
    }
    return check.differences.empty() ? kExitOk : kExitDiffers;
}

// Any registration file restored as the Backups window restores, without the question: the
// command is the consent.
int Restore(platform::Os& os, const std::wstring& file, bool recoveryFailed)
{
    if (recoveryFailed) {
        return kExitRestoreFailed; // the list from before is still to be put back
    }
    backup::RestoreRun run(
        os, L"", [file](platform::Os& system) { return backup::PlanRestoreFromFile(system, file); },
        [&os] { return StartBackup(os); }, true, [&os](const std::wstring& step) { os.Print(step); });
    while (run.Poll() != backup::RestoreRun::State::Ended) {
        os.Sleep(kPollMilliseconds);
    }
    const backup::RestoreOutcome& outcome = run.outcome();
    if (const std::shared_ptr<backup::ExportRun>& safety = run.safety();
        safety && safety->state() == backup::ExportRun::State::Checked) {
        if (const std::optional<backup::CopyOutcome> copy = backup::CopyBackup(os, safety->runNumber())) {
            Tell(os, L"Backup " + safety->runNumber() + L": " + copy->text +
                         (copy->detail.empty() ? L"" : L" (" + copy->detail + L")"));
        }
    }
    if (outcome.result == backup::RestoreOutcome::Result::Restored) {
        Tell(os, outcome.message);
    } else {
        TellError(os, outcome.message);
    }
    switch (outcome.result) {
    case backup::RestoreOutcome::Result::Restored:
        return kExitOk;
    case backup::RestoreOutcome::Result::Unreadable:
        return kExitUnreadable;
    case backup::RestoreOutcome::Result::Refused:
        return kExitRefused;
    case backup::RestoreOutcome::Result::SafetyFailed:
        return kExitExportFailed;
    case backup::RestoreOutcome::Result::PutBack:
        return kExitNotRestored;
    case backup::RestoreOutcome::Result::Busy:
        return kExitBusy;
    default:
        return kExitRestoreFailed;
    }
}

// Where copies go: shown, set after a write test, or turned off.
int Copies(platform::Os& os, const Command& command)
{
    if (!command.hasFile) {
        const std::wstring folder = backup::CopiesFolder(os);
        os.Print(folder.empty() ? L"off" : folder);
        return kExitOk;
    }
    const bool off = SwitchName(L"/" + command.file) == L"off";
    try {
        backup::SetCopiesFolder(os, off ? L"" : command.file);
    } catch (const backup::CopiesFolderRefused& refused) {
        TellError(os, L"Copies are not kept in " + command.file + L": " + refused.why());
        return kExitUsage;
    } catch (const platform::Failure& failure) {
        TellError(os, L"Copies are not kept in " + command.file + L": " + failure.text());
        return kExitUsage;
    }
    os.Print(off ? L"Copies: off" : L"Copies: " + command.file);
    return kExitOk;
}

// One line per backup: those on C:, then those found only in the copies folder, each with where
// its file lies.
int List(platform::Os& os)
{
    const platform::RegistryTree now = os.ReadRegistryTree(backup::kAddOnKey).value_or(platform::RegistryTree{});
    const auto line = [&os, &now](const std::wstring& label, const std::wstring& file, const std::wstring& stamp) {
        const backup::BackupDetails details = backup::ReadBackupDetails(os, file, stamp, now);
        const std::wstring size =
            details.size ? backup::FormatKilobytes(*details.size, os.DecimalSeparator()) + L" kb" : L"";
        std::wstring text = label;
        for (const std::wstring& cell : {details.created, size, std::to_wstring(details.values),
                                         std::to_wstring(details.keys), details.state, file}) {
            text += L"\t";
            text += cell;
        }
        os.Print(text);
    };
    for (const backup::ListedBackup& row : backup::ListAllBackups(os)) {
        line(row.label, row.file, row.stamp);
    }
    return kExitOk;
}

// When the Task Scheduler runs /backup /auto, from the registered task where it tells its
// triggers, else from the last choice; what it starts; and how the last automatic run went.
void TellSchedule(platform::Os& os)
{
    const backup::ScheduleInForce current = backup::CurrentSchedule(os);
    if (!current.registered) {
        os.Print(L"Automatic backups: off");
    } else if (!current.asLastChosen) {
        os.Print(L"Automatic backups: " + backup::ScheduleWords(*current.schedule));
    } else {
        os.Print(L"Automatic backups: " + (current.schedule ? backup::ScheduleWords(*current.schedule) : L"on") +
                 L" (as last chosen; the Task Scheduler does not tell)");
    }
    if (current.registered && current.program.empty()) {
        os.Print(L"Program: unknown (the Task Scheduler does not tell)");
    } else if (current.registered) {
        os.Print(L"Program: \"" + current.program + L"\" /backup /auto" +
                 (current.programAsRecorded ? L" (as registered; the Task Scheduler does not tell)" : L""));
    }
    if (current.programGone) {
        os.Print(L"That program is no longer there; /schedule with the same choice registers this one.");
    }
    const std::optional<backup::AutomaticRun> last = backup::LastAutomaticRun(os);
    os.Print(last ? L"Last run: " + last->when + L", exit code " + std::to_wstring(last->exitCode) + L": " + last->line
                  : L"Last run: none yet");
}

// /backup /auto registered with the Task Scheduler, replaced, deleted or told.
int Schedule(platform::Os& os, const std::optional<backup::Schedule>& schedule)
{
    try {
        if (!schedule) {
            TellSchedule(os);
            return kExitOk;
        }
        backup::ApplySchedule(os, *schedule);
    } catch (const platform::Failure& failure) {
        TellError(os, L"The Task Scheduler said: " + failure.text());
        return kExitUsage;
    }
    os.Print(L"Automatic backups: " + backup::ScheduleWords(*schedule));
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
        if (arguments.size() >= 2 && SwitchName(arguments[1]) == L"auto") {
            command.automatic = true;
            expected = 2;
        } else if (arguments.size() >= 2 && SwitchName(arguments[1]) == L"keep") {
            const std::optional<std::int64_t> keep =
                arguments.size() >= 3 ? backup::ParseRunNumber(arguments[2]) : std::nullopt;
            if (!keep || *keep < 1 || *keep > kMostKept) {
                return NotUnderstood(L"The switch " + arguments[1] + L" needs how many backups to keep, 1 or more.");
            }
            command.keep = static_cast<int>(*keep);
            expected = 3;
        }
    } else if (name == L"copies") {
        command.mode = Mode::Copies;
        if (arguments.size() >= 2) {
            command.file = arguments[1];
            command.hasFile = true;
            expected = 2;
        }
    } else if (name == L"schedule") {
        command.mode = Mode::Schedule;
        if (arguments.size() >= 2) {
            command.schedule = backup::ParseSchedule({arguments.begin() + 1, arguments.end()});
            if (!command.schedule) {
                std::wstring said;
                for (auto word = arguments.begin() + 1; word != arguments.end(); ++word) {
                    said += L" " + *word;
                }
                return NotUnderstood(L"Not understood:" + said + L" (the switch " + arguments[0] +
                                     L" takes daily HH:MM, weekly DAY HH:MM, logon or off)");
            }
            expected = arguments.size();
        }
    } else if (name == L"list") {
        command.mode = Mode::List;
    } else if (name == L"?" || name == L"h" || (name == L"-help" && arguments[0].starts_with(L"--"))) {
        command.mode = Mode::Usage;
    } else if (name == L"check" || name == L"restore") {
        if (arguments.size() < 2) {
            return NotUnderstood(L"The switch " + arguments[0] + L" needs the backup file to " + name + L".");
        }
        command.mode = name == L"check" ? Mode::Check : Mode::Restore;
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

// Each line fits a console 80 columns wide.
std::wstring UsageText()
{
    return L"Backs up the custom names of Wrenlet (HKCU\\Software\\Zephrix\\Wrenlet2).\n"
           L"\n"
           L"LarkSpool                opens the window\n"
           L"LarkSpool /backup        makes a backup and checks it: exit code 0 checked,\n"
           L"                         2 nothing to back up, 3 the export failed, 4 the\n"
           L"                         backup differs or is unreadable, 6 checked but its\n"
           L"                         copy failed\n"
           L"LarkSpool /backup /keep N\n"
           L"                         then deletes the oldest backups until N remain\n"
           L"LarkSpool /backup /auto  backs up a list that changed since the newest\n"
           L"                         backup, then thins out the automatic backups\n"
           L"LarkSpool /check FILE    compares a backup with the key now: 0 same,\n"
           L"                         4 differs, 5 unreadable or not a backup of the list\n"
           L"LarkSpool /restore FILE  makes the list what the file holds, after a checked\n"
           L"                         backup of it: 0 restored, 3 the backup before\n"
           L"                         failed, 5 unreadable, 7 refused (writes outside the\n"
           L"                         key or deletes), 8 not restored, the list as before,\n"
           L"                         9 not restored nor put back, 10 another LarkSpool\n"
           L"                         is busy with the list (nothing changed)\n"
           L"LarkSpool /copies FOLDER keeps a checked copy of each backup in FOLDER;\n"
           L"                         /copies off stops, /copies shows where copies go\n"
           L"LarkSpool /list          lists the backups, newest first\n"
           L"LarkSpool /schedule weekly DAY HH:MM\n"
           L"LarkSpool /schedule daily HH:MM\n"
           L"LarkSpool /schedule logon\n"
           L"                         has the Task Scheduler run /backup /auto then\n"
           L"                         (DAY as sun or sunday); /schedule off stops it,\n"
           L"                         /schedule tells when, what runs and the last run\n"
           L"LarkSpool /?             shows this text; so do -h and --help\n"
           L"\n"
           L"At a prompt LarkSpool.com runs LarkSpool.exe, waits for it and sets\n"
           L"%ERRORLEVEL%; 11 when LarkSpool.exe could not be started.";
}

int RunCommand(platform::Os& os, const Command& command)
{
    // Nobody may be there to close a message: a failure is told on the console, as one line.
    try {
        // The usage looks at nothing.
        if (command.mode == Mode::Usage) {
            os.Print(UsageText());
            return kExitOk;
        }
        if (command.mode == Mode::NotUnderstood) {
            os.PrintError(command.problem);
            os.PrintError(UsageText());
            return kExitUsage;
        }
        // A restore cut off by a crash is finished or undone before anything else looks at the key;
        // one that another LarkSpool is running is waited for, except by a restore, which says so.
        bool recoveryFailed = false;
        if (const std::optional<backup::Recovery> recovery =
                backup::RecoverInterruptedRestore(os, command.mode == Mode::Restore ? 0 : backup::kStartLockWait)) {
            const bool refused = recovery->busy && command.mode == Mode::Restore;
            if (recovery->failed || refused) {
                TellError(os, recovery->message);
            } else {
                Tell(os, recovery->message);
            }
            recoveryFailed = recovery->failed;
            if (refused) {
                return kExitBusy;
            }
        }
        switch (command.mode) {
        case Mode::Backup:
            // The backups are all kept while one of them is the only record of the list before.
            return Backup(os, recoveryFailed ? 0 : command.keep, command.automatic);
        case Mode::Check:
            return Check(os, command.file);
        case Mode::Restore:
            return Restore(os, command.file, recoveryFailed);
        case Mode::Copies:
            return Copies(os, command);
        case Mode::List:
            return List(os);
        case Mode::Schedule:
            return Schedule(os, command.schedule);
        default:
            return kExitUsage;
        }
    } catch (const std::exception& error) {
        TellError(os, platform::StopMessage(error));
        return command.mode == Mode::Check     ? kExitUnreadable
               : command.mode == Mode::Backup  ? kExitExportFailed
               : command.mode == Mode::Restore ? kExitRestoreFailed
                                               : kExitUsage;
    }
}

} // namespace app
