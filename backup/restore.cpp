#include "backup/restore.h"

#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare.h"
#include "backup/compare_text.h"
#include "backup/export.h"
#include "backup/list_file.h"

#include <algorithm>

namespace backup {

namespace {

constexpr int kPollMilliseconds = 100;
constexpr std::wstring_view kRoot = kAddOnKeyFullName;

std::wstring Line(int line)
{
    return L"line " + std::to_wstring(line) + L": ";
}

// The list as it is now replaced by the tree: the key removed as a whole, then written.
// Gives what failed, or nothing when the key reads back equal to the tree.
std::optional<std::wstring> Replace(platform::Os& os, const platform::RegistryTree& tree)
{
    try {
        os.DeleteRegistryTree(kAddOnKey);
        if (!tree.empty()) {
            os.WriteRegistryTree(tree);
        }
        const platform::RegistryTree now = os.ReadRegistryTree(kAddOnKey).value_or(platform::RegistryTree{});
        const std::vector<Difference> differences = CompareTrees(tree, now);
        if (!differences.empty()) {
            return L"the key read back differs from it (" + SummaryLine(differences) + L")";
        }
    } catch (const platform::Failure& failure) {
        return failure.text();
    }
    return std::nullopt;
}

// Waits for the safety backup to be exported and checked.
void Wait(platform::Os& os, ExportRun& run)
{
    while (run.Poll() == ExportRun::State::Exporting || run.state() == ExportRun::State::Checking) {
        os.Sleep(kPollMilliseconds);
    }
}

std::wstring Named(const std::wstring& runNumber, const std::wstring& created)
{
    return L"backup " + runNumber + (created.empty() ? L"" : L" of " + created);
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

RestoreOutcome Restore(platform::Os& os, const std::wstring& runNumber, const std::wstring& created,
                       const StartSafetyBackup& safetyBackup)
{
    const std::wstring file = BackupFile(runNumber);
    const std::wstring name = Named(runNumber, created);
    const auto refused = [&](const std::wstring& why) {
        return RestoreOutcome{.restored = false,
                              .message =
                                  L"Backup " + runNumber + L" is not restored: " + why + L"\n\nNothing was changed.",
                              .kind = platform::MessageKind::Error};
    };

    // 1. The backup, vetted.
    RegFile backup;
    try {
        backup = ReadRegFile(os.ReadFileBytes(file));
    } catch (const RegFileError& error) {
        return refused(L"its file " + file + L" cannot be read: " + error.text());
    } catch (const platform::Failure& failure) {
        return refused(failure.text());
    }
    if (const std::optional<std::wstring> why = RefusalReason(backup)) {
        return refused(*why);
    }
    backup.keys = ListOf(backup); // what importing it would leave, keys its sections imply included

    // 2. The user's word.
    const std::optional<platform::RegistryTree> before = os.ReadRegistryTree(kAddOnKey);
    const std::wstring summary = SummaryLine(CompareTrees(before.value_or(platform::RegistryTree{}), backup.keys));
    if (!os.Ask(L"Restore " + name + L"?\n\nCompared with the list now: " + summary +
                L".\n\nClose the messenger first, so that it does not write its old list back.\n\n"
                L"The list as it is now is backed up first.")) {
        return {};
    }

    // 3. The list as it is now, kept and checked. Without the key there is nothing to keep.
    ExportRun* safety = nullptr;
    if (before) {
        safety = safetyBackup();
        if (safety == nullptr) {
            return refused(L"the list as it is now could not be backed up first.");
        }
        Wait(os, *safety);
        if (safety->state() != ExportRun::State::Checked) {
            return refused(L"the backup of the list as it is now (backup " + safety->runNumber() +
                           L") did not check out: " + safety->failure());
        }
    }

    // 4. and 5. The key replaced by the backup, read back.
    const std::optional<std::wstring> failed = Replace(os, backup.keys);
    if (!failed) {
        return {.restored = true,
                .message = L"Backup " + runNumber + L" restored: " +
                           CountOf(CountValues(backup.keys), L"value", L"values") + L" in " +
                           CountOf(CountKeys(backup.keys), L"key", L"keys") + L", checked. " +
                           (safety != nullptr ? L"The list as it was before is backup " + safety->runNumber() + L"."
                                              : std::wstring(L"There was no list before.")),
                .kind = platform::MessageKind::Information};
    }

    // Anything else: the previous list back, from its checked backup.
    std::optional<std::wstring> putBack;
    if (safety != nullptr) {
        try {
            putBack = Replace(os, ReadRegFile(os.ReadFileBytes(BackupFile(safety->runNumber()))).keys);
        } catch (const RegFileError& error) {
            putBack = error.text();
        } catch (const platform::Failure& failure) {
            putBack = failure.text();
        }
    } else {
        putBack = Replace(os, {});
    }
    std::wstring message = L"Backup " + runNumber + L" was not restored: " + *failed + L"\n\n";
    if (!putBack) {
        message += safety != nullptr ? L"The list as it was before is back (backup " + safety->runNumber() + L")."
                                     : std::wstring(L"The key is gone again, as it was before.");
    } else {
        message += L"Putting the previous list back failed too: " + *putBack;
        if (safety != nullptr) {
            message +=
                L"\n\nIt is kept in " + BackupFile(safety->runNumber()) + L": double-click that file to restore it.";
        }
    }
    return {.restored = false, .message = message, .kind = platform::MessageKind::Error};
}

} // namespace backup
