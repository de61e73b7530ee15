// The restore's steps: the backup read and vetted, the safety backup judged, the list swapped in
// whole beside the add-on's key under the list's lock with a journal, and the next start's
// recovery of a restore cut off.
#include "backup/restore.h"

#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare.h"
#include "backup/compare_text.h"
#include "backup/export.h"
#include "backup/list_file.h"

#include <algorithm>

namespace backup {

namespace {

constexpr std::wstring_view kRoot = kAddOnKeyFullName;
constexpr std::size_t kValuesPerWrite = 500;

// The journal: which restore is under way and how far it got.
constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kJournal[] = L"Restore";
constexpr wchar_t kNone[] = L"none";
// The new list is written beside the key; the key is untouched.
constexpr wchar_t kStepWriting[] = L"writing";
// The list now is renamed aside. A rename that the system cannot make in one step leaves both
// names for a moment: the one that holds more is then the whole list.
constexpr wchar_t kStepAside[] = L"aside";
// The new list is renamed into place; the list before stands whole aside.
constexpr wchar_t kStepInPlace[] = L"in place";
// The new list stands in place and has read back equal; the list before is being removed.
constexpr wchar_t kStepFinishing[] = L"finishing";

std::wstring Line(int line)
{
    return L"line " + std::to_wstring(line) + L": ";
}

std::wstring LastName(std::wstring_view key)
{
    return std::wstring(key.substr(key.find_last_of(L'\\') + 1));
}

// HKCU\X as the key tree names it: HKEY_CURRENT_USER\X.
std::wstring FullName(std::wstring_view key)
{
    return L"HKEY_CURRENT_USER" + std::wstring(key.substr(key.find(L'\\')));
}

// The tree with its paths moved from one key to another.
platform::RegistryTree Moved(platform::RegistryTree tree, std::wstring_view from, std::wstring_view to)
{
    for (platform::RegistryKey& key : tree) {
        if (key.path.size() >= from.size() && SameName(std::wstring_view(key.path).substr(0, from.size()), from)) {
            key.path.replace(0, from.size(), to);
        }
    }
    return tree;
}

// The key's tree as if it stood under the add-on's key's name; empty when it does not exist.
platform::RegistryTree ReadAs(platform::Os& os, const wchar_t* key)
{
    return Moved(os.ReadRegistryTree(key).value_or(platform::RegistryTree{}), FullName(key), kRoot);
}

std::optional<std::wstring> Differs(const platform::RegistryTree& expected, const platform::RegistryTree& read)
{
    const std::vector<Difference> differences = CompareTrees(expected, read);
    if (differences.empty()) {
        return std::nullopt;
    }
    return L"the key read back differs from it (" + SummaryLine(differences) + L")";
}

// "backup 9" for a backup folder's file; any other file by its path.
std::wstring BackupName(const std::wstring& file)
{
    constexpr std::wstring_view kFolder = L"C:\\Larkspool";
    if (file.size() > kFolder.size() && SameName(std::wstring_view(file).substr(0, kFolder.size()), kFolder)) {
        const std::size_t end = file.find(L'\\', kFolder.size());
        const std::wstring number = file.substr(kFolder.size(), end - kFolder.size());
        if (!number.empty() &&
            std::all_of(number.begin(), number.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
            SameName(file, BackupFile(number))) {
            return L"backup " + number;
        }
    }
    return file;
}

void WriteJournalStep(platform::Os& os, std::wstring& step, const wchar_t* next)
{
    os.SaveSetting(kAppName, kJournal, L"Step", next);
    step = next;
}

std::size_t Size(const platform::RegistryTree& tree)
{
    return CountValues(tree) + CountKeys(tree);
}

// The tree written beside the add-on's key a slice at a time, so that the window can show how
// far it got and a wish to stop is heard. False when stopped.
bool WriteBeside(platform::Os& os, const platform::RegistryTree& tree, RestoreProgress& progress)
{
    os.DeleteRegistryTree(kRestoreKey); // left by a restore that was cut off
    const std::size_t total = CountValues(tree);
    std::size_t done = 0;
    progress.Done(done, total);
    for (const platform::RegistryKey& key : Moved(tree, kRoot, FullName(kRestoreKey))) {
        std::size_t next = 0;
        do {
            if (progress.StopAsked()) {
                return false;
            }
            const std::size_t end = std::min(key.values.size(), next + kValuesPerWrite);
            platform::RegistryKey slice{.path = key.path,
                                        .values = {key.values.begin() + static_cast<std::ptrdiff_t>(next),
                                                   key.values.begin() + static_cast<std::ptrdiff_t>(end)}};
            os.WriteRegistryTree({slice});
            done += end - next;
            next = end;
            progress.Done(done, total);
        } while (next < key.values.size());
    }
    return true;
}

// The list before back under the add-on's key's name, from wherever the step that was under way
// left it, and the new list removed; without a list before, the key itself once the new list
// may have reached it. Gives what failed.
std::optional<std::wstring> PutBack(platform::Os& os, std::wstring& step, bool listBefore)
{
    try {
        if (os.RegistryKeyExists(kBeforeKey)) {
            const platform::RegistryTree aside = ReadAs(os, kBeforeKey);
            if (step == kStepAside && Size(aside) <= Size(ReadAs(os, kAddOnKey))) {
                os.DeleteRegistryTree(kBeforeKey); // caught before the list left its place
            } else {
                os.DeleteRegistryTree(kAddOnKey); // the new list, or what is left of the old one
                WriteJournalStep(os, step, kStepAside);
                os.RenameRegistryKey(kBeforeKey, LastName(kAddOnKey));
                if (std::optional<std::wstring> why = Differs(aside, ReadAs(os, kAddOnKey))) {
                    return why;
                }
            }
        } else if (step == kStepInPlace && !listBefore) {
            os.DeleteRegistryTree(kAddOnKey); // the new list in the place of none
        }
        os.DeleteRegistryTree(kRestoreKey);
    } catch (const platform::Failure& failure) {
        return failure.text();
    }
    return std::nullopt;
}

struct Stopped {};
// A list was stored (by the messenger) where there was none when the restore began: it has no
// backup, so the restore must not replace it.
struct ListAppeared {};

// The tree swapped in for the add-on's key: written beside it, read back, the lists renamed, read
// back again, the list before removed. Gives what failed; throws Stopped when asked to stop
// before anything was swapped. A platform failure is thrown.
std::optional<std::wstring> SwapIn(platform::Os& os, const platform::RegistryTree& tree, RestoreProgress& progress,
                                   std::wstring& step, bool listBefore)
{
    progress.Step(L"Writing " + Grouped(CountValues(tree)) + L" values in " + Grouped(CountKeys(tree)) + L" keys");
    if (!WriteBeside(os, tree, progress)) {
        throw Stopped{};
    }
    progress.Step(L"Reading the new list back");
    if (std::optional<std::wstring> why = Differs(tree, ReadAs(os, kRestoreKey))) {
        os.DeleteRegistryTree(kRestoreKey);
        return why;
    }
    if (progress.StopAsked()) {
        throw Stopped{};
    }
    progress.Step(L"Putting the new list in place");
    if (!listBefore && os.RegistryKeyExists(kAddOnKey)) {
        throw ListAppeared{};
    }
    if (listBefore) {
        WriteJournalStep(os, step, kStepAside);
        os.RenameRegistryKey(kAddOnKey, LastName(kBeforeKey));
    }
    WriteJournalStep(os, step, kStepInPlace);
    os.RenameRegistryKey(kRestoreKey, LastName(kAddOnKey));
    progress.Step(L"Reading the list back");
    if (std::optional<std::wstring> why = Differs(tree, ReadAs(os, kAddOnKey))) {
        return why;
    }
    WriteJournalStep(os, step, kStepFinishing);
    if (listBefore) {
        progress.Step(L"Removing the list from before");
        os.DeleteRegistryTree(kBeforeKey);
    }
    return std::nullopt;
}

// A restore that stopped before it changed anything: the list as it was stands.
RestoreOutcome Untouched(RestoreOutcome outcome)
{
    outcome.result = RestoreOutcome::Result::PutBack;
    return outcome;
}

std::wstring Named(const std::wstring& runNumber, const std::wstring& created)
{
    return L"backup " + runNumber + (created.empty() ? L"" : L" of " + created);
}

// Whether the registry tool writes the value so that it reads back the same: a string with a
// NUL inside, or of an odd number of bytes, it cannot.
bool Exportable(const platform::RegistryValue& value)
{
    const bool text = value.type == platform::kRegSz || value.type == platform::kRegExpandSz;
    if (!text && value.type != platform::kRegMultiSz) {
        return true;
    }
    if (value.data.size() % 2 != 0) {
        return false;
    }
    bool nul = false;
    for (std::size_t at = 0; text && at + 1 < value.data.size(); at += 2) {
        const bool unitIsNul = value.data[at] == 0 && value.data[at + 1] == 0;
        if (nul && !unitIsNul) {
            return false;
        }
        nul = nul || unitIsNul;
    }
    return true;
}

} // namespace

std::optional<std::wstring> RefusalReason(const RegFile& file)
{
    if (file.keys.empty()) { // a file cut after its header: restoring it would only remove the list
        return L"it writes nothing of " + std::wstring(kRoot) + L".";
    }
    for (const platform::RegistryKey& key : file.keys) {
        if (key.deleted) {
            return Line(key.line) + L"it deletes the key " + key.path + L".";
        }
        if (!InsideAddOnKey(key.path)) {
            return Line(key.line) + L"it writes to " + key.path + L", outside " + std::wstring(kRoot) + L".";
        }
        const auto deleted = std::find_if(key.values.begin(), key.values.end(),
                                          [](const platform::RegistryValue& value) { return value.deleted; });
        if (deleted != key.values.end()) {
            return Line(deleted->line) + L"it deletes the value \"" + deleted->name + L"\".";
        }
    }
    return std::nullopt;
}

RestoreOutcome NotRestored(const RestorePlan& plan, const std::wstring& why)
{
    return {.result = plan.unreadable ? RestoreOutcome::Result::Unreadable : RestoreOutcome::Result::Refused,
            .restored = false,
            .message = plan.label + L" is not restored: " + why + L"\n\nNothing was changed.",
            .kind = platform::MessageKind::Error};
}

RestoreOutcome Busy(const std::wstring& why)
{
    return {.result = RestoreOutcome::Result::Busy,
            .restored = false,
            .message = why + L"\n\nNothing was changed.",
            .kind = platform::MessageKind::Information};
}

namespace {

RestorePlan Plan(platform::Os& os, const std::wstring& path, const std::wstring& name, const std::wstring& label)
{
    RestorePlan plan;
    plan.file = path;
    plan.name = name;
    plan.label = label;
    const auto refuse = [&plan](const std::wstring& why) {
        plan.refusal = NotRestored(plan, why).message;
        return plan;
    };
    RegFile file;
    try {
        file = ReadRegFile(os.ReadFileBytes(plan.file));
    } catch (const RegFileError& error) {
        plan.unreadable = true;
        return refuse(L"its file " + plan.file + L" cannot be read: " + error.text());
    } catch (const platform::Failure& failure) {
        plan.unreadable = true;
        return refuse(failure.text());
    }
    if (const std::optional<std::wstring> why = RefusalReason(file)) {
        return refuse(*why);
    }
    plan.backup = ListOf(file); // what importing it would leave, keys its sections imply included
    std::optional<platform::RegistryTree> now;
    try {
        now = os.ReadRegistryTree(kAddOnKey);
    } catch (const platform::Failure& failure) {
        return refuse(L"the list as it is now cannot be read: " + failure.text());
    }
    plan.listExists = now.has_value();
    // Told as what the restore does to the list now, so that it cannot be read the other way.
    const DifferenceCounts counts = Count(CompareTrees(now.value_or(platform::RegistryTree{}), plan.backup));
    plan.question = L"Restore " + plan.name + L"?\n\nThe restore brings back " + Grouped(counts.added) +
                    (counts.added == 1 ? L" name" : L" names") + L", removes " + Grouped(counts.removed) +
                    L" and changes " + Grouped(counts.changed) +
                    L".\n\nClose the messenger first, so that it does not write its old list back.\n\n"
                    L"The list as it is now is backed up first.";
    return plan;
}

} // namespace

RestorePlan PlanRestore(platform::Os& os, const std::wstring& runNumber, const std::wstring& created)
{
    return Plan(os, BackupFile(runNumber), Named(runNumber, created), L"Backup " + runNumber);
}

RestorePlan PlanRestoreFromFile(platform::Os& os, const std::wstring& file)
{
    std::wstring created;
    const std::size_t slash = file.find_last_of(L"\\/");
    const std::wstring stamp =
        JoinPath(slash == std::wstring::npos ? L"." : file.substr(0, slash), L"Date Created.txt");
    try {
        if (os.FileExists(stamp)) {
            created = CreatedText(os.ReadFileBytes(stamp));
        }
    } catch (const platform::Failure&) {
        // A stamp that cannot be read only leaves the date out of the question.
    }
    return Plan(os, file, created.empty() ? file : file + L" of " + created, file);
}

std::optional<SafetyVerdict> JudgeSafetyBackup(const RestorePlan& plan, const ExportRun& safety)
{
    if (safety.state() == ExportRun::State::Checked) {
        return std::nullopt;
    }
    const std::wstring name = L"backup " + safety.runNumber();
    const std::vector<Difference>& differences = safety.check().differences;
    const bool onlyUnexportable = safety.problem() == ExportRun::Problem::CheckFailed && !differences.empty() &&
                                  std::all_of(differences.begin(), differences.end(), [](const Difference& difference) {
                                      return difference.after && !Exportable(*difference.after);
                                  });
    if (!onlyUnexportable) {
        return SafetyVerdict{.refusal = NotRestored(plan, L"the backup of the list as it is now (" + name +
                                                              L") did not check out: " + safety.failure())
                                            .message,
                             .question = {}};
    }
    std::wstring values;
    for (const Difference& difference : differences) {
        values += L"\n" + DifferenceLine(difference, kRoot);
    }
    return SafetyVerdict{.refusal = {},
                         .question = L"The backup of the list as it is now (" + name +
                                     L") lacks values that the registry tool cannot write as they are:" + values +
                                     L"\n\nThey are lost when " + plan.name + L" is restored. Restore it anyway?"};
}

RestoreOutcome ReplaceList(platform::Os& os, const RestorePlan& plan, const std::wstring& safetyRunNumber,
                           RestoreProgress& progress)
{
    const bool listBefore = !safetyRunNumber.empty();
    // Another LarkSpool may be backing the list up or deleting old backups: the restore waits.
    std::unique_ptr<platform::ListLock> lock = os.LockList(0);
    if (!lock) {
        progress.Step(L"Waiting for another LarkSpool");
        lock = os.LockList(kStartLockWait);
    }
    if (!lock) {
        return Busy(AnotherAtWork(os));
    }
    const std::wstring appeared = L"a list was stored while the restore ran. Restore again to back it up first.";
    std::optional<std::wstring> failed;
    bool stopped = false;
    std::wstring step;
    try {
        // Nothing is changed: the list as it is stays.
        if (!listBefore && os.RegistryKeyExists(kAddOnKey)) {
            return Untouched(NotRestored(plan, appeared));
        }
        if (os.RegistryKeyExists(kBeforeKey)) {
            return Untouched(NotRestored(plan, L"an earlier restore left " + std::wstring(kBeforeKey) +
                                                   L". Start LarkSpool again to put that list back first."));
        }
        // The journal first: from here on the next start finishes or undoes what this run leaves.
        os.SaveSetting(kAppName, kJournal, L"Backup", plan.file);
        os.SaveSetting(kAppName, kJournal, L"Safety", listBefore ? BackupFile(safetyRunNumber) : kNone);
        os.SaveSetting(kAppName, kJournal, L"Time", os.DateText() + L" " + os.TimeText());
        os.SaveSetting(kAppName, kJournal, L"Owner", os.ProcessName());
        WriteJournalStep(os, step, kStepWriting);
        failed = SwapIn(os, plan.backup, progress, step, listBefore);
    } catch (const platform::Failure& failure) {
        failed = failure.text();
    } catch (const Stopped&) {
        stopped = true;
    } catch (const ListAppeared&) {
        if (!PutBack(os, step, listBefore)) {
            os.DeleteSetting(kAppName, kJournal);
            return Untouched(NotRestored(plan, appeared));
        }
        failed = appeared;
    }
    const std::optional<std::wstring> putBack = failed || stopped ? PutBack(os, step, listBefore) : std::nullopt;
    std::wstring journalLeft;
    try {
        if (!putBack) {
            os.DeleteSetting(kAppName, kJournal);
        }
    } catch (const platform::Failure& failure) {
        // The key is whole; the next start finds it so and removes the entry.
        journalLeft = L" The note of this restore could not be removed (" + failure.text() +
                      L"); LarkSpool removes it at its next start.";
    }
    if (!failed && !stopped) {
        return {.result = RestoreOutcome::Result::Restored,
                .restored = true,
                .message = plan.label + L" restored: " + CountOf(CountValues(plan.backup), L"value", L"values") +
                           L" in " + CountOf(CountKeys(plan.backup), L"key", L"keys") + L", checked. " +
                           (listBefore ? L"The list as it was before is backup " + safetyRunNumber + L"."
                                       : std::wstring(L"There was no list before.")) +
                           journalLeft,
                .kind = platform::MessageKind::Information};
    }
    std::wstring message =
        plan.label + L" was not restored: " + (stopped ? L"the restore was stopped." : *failed) + L"\n\n";
    if (!putBack) {
        message += listBefore ? L"The list as it was before is back (backup " + safetyRunNumber + L")."
                              : std::wstring(L"There was no list before, and there is none now.");
        message += journalLeft;
    } else {
        message += L"Putting the previous list back failed too: " + *putBack;
        if (listBefore) {
            message += L"\n\nIt is kept in " + BackupFile(safetyRunNumber) +
                       L". LarkSpool tries again to put it back at its next start.";
        }
    }
    return {.result = putBack ? RestoreOutcome::Result::PutBackFailed : RestoreOutcome::Result::PutBack,
            .restored = false,
            .message = message,
            .kind = platform::MessageKind::Error};
}

namespace {

struct Journal {
    std::wstring backupFile;
    std::wstring safetyFile;
    std::wstring step;
    bool restoreKey = false;
    bool beforeKey = false;
    bool Left() const { return !step.empty() || restoreKey || beforeKey; }
};

Journal ReadJournal(platform::Os& os)
{
    Journal journal;
    try {
        journal.backupFile = os.GetSetting(kAppName, kJournal, L"Backup");
        journal.safetyFile = os.GetSetting(kAppName, kJournal, L"Safety");
        journal.step = os.GetSetting(kAppName, kJournal, L"Step");
    } catch (const platform::NotText&) {
        // A hand-edited entry: what the keys beside the add-on's key show is what counts.
    }
    journal.restoreKey = os.RegistryKeyExists(kRestoreKey);
    journal.beforeKey = os.RegistryKeyExists(kBeforeKey);
    return journal;
}

} // namespace

bool RestoreLeft(platform::Os& os)
{
    return ReadJournal(os).Left();
}

std::wstring AnotherAtWork(platform::Os& os)
{
    return RestoreLeft(os) ? kAnotherIsRestoring : kAnotherIsBackingUp;
}

std::optional<Recovery> RecoverInterruptedRestore(platform::Os& os, int lockWait)
{
    if (!RestoreLeft(os)) {
        return std::nullopt;
    }
    // A journal is also what a live restore keeps: only its owner's end frees the lock.
    const auto lock = os.LockList(lockWait);
    if (!lock) {
        return Recovery{.message = kAnotherIsRestoring, .failed = false, .busy = true};
    }
    // Read again: the LarkSpool that held the lock may have finished, or recovered, meanwhile.
    const Journal journal = ReadJournal(os);
    if (!journal.Left()) {
        return std::nullopt;
    }
    const std::wstring& backupFile = journal.backupFile;
    const std::wstring& safetyFile = journal.safetyFile;
    std::wstring step = journal.step;
    const bool beforeKey = journal.beforeKey;
    const std::wstring name = backupFile.empty() ? L"a backup" : BackupName(backupFile);
    const bool listBefore = safetyFile != kNone;
    const std::wstring interrupted = L"A restore of " + name + L" was interrupted. ";
    std::optional<std::wstring> failed;
    bool finished = false;
    try {
        if (step == kStepFinishing) {
            // The new list stood in place and had read back equal: only the list before was left.
            os.DeleteRegistryTree(kRestoreKey);
            os.DeleteRegistryTree(kBeforeKey);
            finished = true;
        } else if (step == kStepInPlace && listBefore && !beforeKey) {
            // No list beside the key, though one should be: the safety backup is what is left.
            // Vetted as any file to be restored: it lies in C:\, where anyone may have replaced it.
            const RegFile safety = ReadRegFile(os.ReadFileBytes(safetyFile));
            if (const std::optional<std::wstring> why = RefusalReason(safety)) {
                failed = safetyFile + L" is not restored: " + *why;
            } else {
                RestoreProgress progress;
                failed = SwapIn(os, ListOf(safety), progress, step, os.RegistryKeyExists(kAddOnKey));
            }
        } else {
            failed = PutBack(os, step, listBefore);
        }
        if (!failed) {
            os.DeleteSetting(kAppName, kJournal);
        }
    } catch (const platform::Failure& failure) {
        failed = failure.text();
    } catch (const RegFileError& error) {
        failed = safetyFile + L" cannot be read: " + error.text();
    } catch (const Stopped&) {
        failed = L"it was stopped.";
    }
    if (failed) {
        std::wstring message = L"A restore of " + name +
                               L" was interrupted, and the list as it was before could not be put back: " + *failed +
                               L"\n\nNothing is written to the list until it is back.";
        if (listBefore && !safetyFile.empty()) {
            message += L" It is kept in " + safetyFile +
                       L". LarkSpool tries again at its next start; to restore it by hand, close the messenger, "
                       L"delete the key " +
                       std::wstring(kAddOnKey) + L" with the Registry Editor and double-click that file.";
        }
        return Recovery{.message = message, .failed = true};
    }
    if (finished) {
        return Recovery{.message = interrupted + L"It is complete: the list is " + name + L".", .failed = false};
    }
    return Recovery{.message =
                        interrupted + (!listBefore ? std::wstring(L"There was no list before, and there is none now.")
                                       : safetyFile.empty()
                                           ? std::wstring(L"The list as it was before is back.")
                                           : L"The list as it was before is back (" + BackupName(safetyFile) + L")."),
                    .failed = false};
}

} // namespace backup
